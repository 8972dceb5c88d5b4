// SPDX-License-Identifier: MIT
// Drives the whole window with many thousands of random events and checks it,
// after every event, against an independent model of the output byte, the
// port writes and the eight captions.
#include "panel/ControlPanel.h"
#include "tests/shared/SchedulerHarness.h"

#include <functional>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
Q_DECLARE_METATYPE(automation::Role)

namespace
{

const char* const Names[8] = {"電燈",   "收音機", "電鍋",   "電扇",
                              "影印機", "販賣機", "自動門", "電視"};

struct Model {
    int state = 0;
    std::vector<int> writes;
    QStringList captions;
    schedtest::Fields fields;

    Model()
    {
        for (const char* n : Names)
            captions << QString::fromUtf8(n);
    }
    QString caption(int ch, bool on) const
    {
        return QString::fromUtf8(Names[ch]) + (on ? QStringLiteral("開") : QStringLiteral("關"));
    }
    void write(int v)
    {
        state = v;
        writes.push_back(v);
    }
    void toggle(int ch)
    {
        write((state & 0xFF) ^ (1 << ch));
        captions[ch] = caption(ch, state & (1 << ch));
    }
    void tick(QTime t)
    {
        const std::size_t before = writes.size();
        int previous = state;
        state = schedtest::modelTick(state, fields, t, writes);
        // Each write of a tick switches one channel: its caption follows.
        for (std::size_t i = before; i < writes.size(); ++i) {
            const int changed = previous ^ writes[i];
            for (int ch = 0; ch < 8; ++ch)
                if (changed == (1 << ch))
                    captions[ch] = caption(ch, writes[i] & changed);
            previous = writes[i];
        }
    }
};

} // namespace

class tst_PanelModel : public QObject
{
    Q_OBJECT

  private slots:
    void randomEvents();
    void catchUp_data();
    void catchUp();
    void boardWatch();
};

void tst_PanelModel::randomEvents()
{
    QRandomGenerator rng(4242);
    std::vector<int> writes;
    std::function<void()> onWrite;
    panel::ControlPanel panel([&](std::int16_t v) {
        writes.push_back(v);
        if (onWrite)
            onWrite();
    });
    panel.setStepPause(0ms);
    panel.timer1().stop(); // ticks come from the test, at its clock
    panel.timer2().stop();
    QTime now(12, 0);
    panel.setClock([&now] { return QDateTime(QDate(2026, 12, 8), now); });
    panel.show();

    Model model;
    QPushButton* buttons[8];
    for (int ch = 0; ch < 8; ++ch)
        buttons[ch] = panel.findChild<QPushButton*>(QStringLiteral("BIT%1").arg(ch));
    const QStringList texts{"", "0", "5", "7", "12", "30", "07", " 7", "7h", "＊", "23", "59", "1"};

    for (int step = 0; step < 6000; ++step) {
        const int kind = rng.bounded(100);
        if (kind < 30) {
            const int ch = rng.bounded(8);
            QTest::mouseClick(buttons[ch], Qt::LeftButton);
            model.toggle(ch);
        } else if (kind < 60) {
            const int f = rng.bounded(1, automation::FieldCount + 1);
            const QString text = rng.bounded(10) == 0 ? QString::number(rng.bounded(100))
                                                      : texts[rng.bounded(texts.size())];
            panel.field(f)->setText(text);
            model.fields[f] = text;
        } else if (kind < 92) {
            now = QTime(rng.bounded(3) == 0 ? rng.bounded(24) : 7 + 5 * rng.bounded(2),
                        rng.bounded(3) == 0 ? rng.bounded(60) : (rng.bounded(2) ? 30 : 0),
                        rng.bounded(60));
            panel.SchedulerTick();
            model.tick(now);
        } else if (kind < 97) {
            QTest::mouseClick(panel.findChild<QPushButton*>("STOP"), Qt::LeftButton);
            model.state = 0;
        } else {
            // A short loop test, stopped at a random write of its first or
            // second pass.
            const std::size_t stopAt = writes.size() + 1 + rng.bounded(16);
            onWrite = [&] {
                if (writes.size() == stopAt)
                    QTimer::singleShot(0, &panel, [&panel] {
                        QTest::mouseClick(panel.findChild<QPushButton*>("STOP"), Qt::LeftButton);
                    });
            };
            const std::size_t before = writes.size();
            QTest::mouseClick(panel.findChild<QPushButton*>("LOOP"), Qt::LeftButton);
            onWrite = nullptr;
            const int passes = stopAt - before <= 8 ? 1 : 2;
            for (int p = 0; p < passes; ++p)
                for (int v = 1; v <= 128; v <<= 1)
                    model.write(v);
            model.state = (stopAt - before) % 8 == 0 ? 0 : 128; // STOP in the last step
            for (int ch = 0; ch < 8; ++ch)
                model.captions[ch] = model.caption(ch, ch == 7);
        }

        if (writes != model.writes)
            QFAIL(qPrintable(
                QStringLiteral("writes differ after step %1 (kind %2)").arg(step).arg(kind)));
        QCOMPARE(int(panel.outputState()), model.state);
        // What the board holds: the last byte written, whatever STOP did since.
        QCOMPARE(panel.model().boardState(),
                 model.writes.empty() ? -1 : model.writes.back() & 0xFF);
        for (int ch = 0; ch < 8; ++ch)
            QCOMPARE(buttons[ch]->text(), model.captions[ch]);
    }
    QVERIFY(model.writes.size() > 2000);
}

void tst_PanelModel::catchUp_data()
{
    QTest::addColumn<int>("board");              // as read back at start; -1: unknown
    QTest::addColumn<automation::Role>("entry"); // channel 0's, at 8:00
    QTest::addColumn<QList<int>>("writes");      // at 12:00
    QTest::newRow("board unknown, all off: the 0 is written")
        << -1 << automation::Role::OffHour << QList<int>{0};
    QTest::newRow("board unknown, one on") << -1 << automation::Role::OnHour << QList<int>{1};
    QTest::newRow("board holds it already") << 0 << automation::Role::OffHour << QList<int>{};
    QTest::newRow("board holds another byte") << 3 << automation::Role::OffHour << QList<int>{2};
}

void tst_PanelModel::catchUp()
{
    QFETCH(int, board);
    QFETCH(automation::Role, entry);
    QFETCH(QList<int>, writes);
    QList<int> written;
    automation::PanelModel model([&written](std::int16_t v) { written << v; });
    model.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(12, 0)); });
    if (board >= 0)
        model.resumeBoard(board);
    model.setFieldText(automation::fieldOf(0, entry), QStringLiteral("8"));
    model.setFieldText(automation::fieldOf(0, automation::Role(int(entry) + 1)),
                       QStringLiteral("0"));
    QCOMPARE(model.catchUp(), !writes.isEmpty());
    QCOMPARE(written, writes);
    QCOMPARE(model.boardState(), writes.isEmpty() ? board : writes.back());
}

void tst_PanelModel::boardWatch()
{
    // What the library confirms, not what was asked: nothing new while a
    // write is on its way, -1 with the reason while the board fails, and
    // the board back within the watch's second.
    using Reading = automation::PanelModel::BoardReading;
    std::optional<Reading> reading; // the library cannot say
    automation::PanelModel model([](std::int16_t) {});
    model.setBoardWatch([&reading] { return reading; });
    model.SwitchChannelOn(3, automation::PanelModel::Cause::Click);
    QCOMPARE(model.boardState(), 8);
    reading = Reading{-1, QStringLiteral("pending"), true};
    model.SwitchChannelOn(0, automation::PanelModel::Cause::Click);
    QCOMPARE(model.boardState(), 8);
    reading = Reading{9, QStringLiteral("ok")};
    QTRY_COMPARE(model.boardState(), 9);
    QSignalSpy changed(&model, &automation::PanelModel::stateChanged);
    reading = Reading{-1, QStringLiteral("unplugged")};
    QTRY_COMPARE(model.boardStatus(), QStringLiteral("unplugged"));
    QCOMPARE(model.boardState(), -1);
    reading = Reading{0, QStringLiteral("ok")};
    QTRY_COMPARE(model.boardStatus(), QStringLiteral("ok"));
    QCOMPARE(model.boardState(), 0);
    QCOMPARE(changed.count(), 2);
}

QTEST_MAIN(tst_PanelModel)
#include "tst_panelmodel.moc"
