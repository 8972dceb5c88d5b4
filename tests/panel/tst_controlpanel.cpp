// SPDX-License-Identifier: MIT
#include "panel/ChannelButton.h"
#include "panel/ClockText.h"
#include "panel/ControlPanel.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTest>

namespace
{

struct Panel {
    std::vector<int> writes;
    panel::ControlPanel window{[this](std::int16_t v) { writes.push_back(v); }};
    template <typename T> T* child(const QString& name)
    {
        return window.findChild<T*>(name, Qt::FindDirectChildrenOnly);
    }
};

QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

} // namespace

class tst_ControlPanel : public QObject
{
    Q_OBJECT

  private slots:
    void controls_data();
    void controls();
    void everyControlOnce();
    void fonts_data();
    void fonts();
    void fields();
    void startState();
    void channelButtons();
    void channelLook_data();
    void channelLook();
    void typedScheduleFiresThroughTimer1();
    void exitWritesZeroAndCloses();
    void closeControlWritesNothing();
    void sizeIsFixed();
    void tabOrder();
    void captionsFit();
    void clockTick();
    void timeText_data();
    void timeText();
    void timeTextInEveryLocale();
    void clockFitsInEveryLocale();
};

void tst_ControlPanel::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry");

    auto control = [](const char* kind, const char* name, const char* caption, int l, int t, int w,
                      int h) {
        QTest::newRow(name) << name << kind << QString::fromUtf8(caption) << twips(l, t, w, h);
    };
    auto button = [&control](auto... row) { control("button", row...); };
    auto label = [&control](auto... row) { control("label", row...); };
    button("BIT0", "電燈", 480, 1800, 735, 495);
    button("BIT1", "收音機", 480, 2640, 735, 495);
    button("BIT2", "電鍋", 480, 3480, 735, 495);
    button("BIT3", "電扇", 480, 4320, 735, 495);
    button("BIT4", "影印機", 3840, 1800, 735, 495);
    button("BIT5", "販賣機", 3840, 2640, 735, 495);
    button("BIT6", "自動門", 3840, 3480, 735, 495);
    button("BIT7", "電視", 3840, 4320, 735, 495);
    button("LOOP", "循環測試", 480, 5280, 975, 495);
    button("STOP", "停止", 2520, 5280, 975, 495);
    button("exit", "離開", 4800, 5280, 1335, 495);

    label("Label1", "PC自動化控制", 1320, 360, 3375, 615);
    label("Label2", "", 6000, 240, 1695, 495);
    label("Label5", "ON  TIME", 1320, 1560, 855, 255);
    label("Label8", "OFF  TIME", 2520, 1560, 975, 255);
    label("Label13", "ON  TIME", 4680, 1560, 855, 255);
    label("Label14", "OFF  TIME", 5880, 1560, 975, 255);
    label("Label23", "註：時間為24小時制", 4920, 6360, 2415, 375);

    // Rows: channel's row top and its four fields; columns by block.
    const int rows[8][5] = {{1920, 1, 2, 3, 4},     {2760, 5, 6, 7, 8},     {3600, 9, 10, 11, 12},
                            {4440, 13, 14, 15, 16}, {1920, 29, 30, 31, 32}, {2760, 25, 26, 27, 28},
                            {3600, 17, 18, 19, 20}, {4440, 21, 22, 23, 24}};
    const int left[4] = {1320, 1800, 2520, 3000};
    const int right[4] = {4680, 5160, 5880, 6360};
    for (int ch = 0; ch < 8; ++ch) {
        for (int c = 0; c < 4; ++c) {
            const QString name = QStringLiteral("Text%1").arg(rows[ch][c + 1]);
            QTest::newRow(qPrintable(name))
                << name << "field" << QString()
                << twips((ch < 4 ? left : right)[c], rows[ch][0], 375, 285);
        }
    }
    const int separators[16] = {3, 4, 6, 7, 9, 10, 11, 12, 15, 16, 17, 18, 19, 20, 21, 22};
    for (int i = 0; i < 16; ++i) {
        const int ch = i / 2;
        const int l = ch < 4 ? (i % 2 ? 2880 : 1680) : (i % 2 ? 6240 : 5040);
        const QString name = QStringLiteral("Label%1").arg(separators[i]);
        QTest::newRow(qPrintable(name))
            << name << "label" << QStringLiteral("：") << twips(l, rows[ch][0] + 120, 135, 135);
    }
}

void tst_ControlPanel::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);
    Panel p;
    QWidget* w = p.child<QWidget>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->geometry(), geometry);
    if (kind == "button") {
        auto* b = qobject_cast<QPushButton*>(w);
        QVERIFY(b);
        QCOMPARE(b->text(), caption);
    } else if (kind == "label") {
        auto* l = qobject_cast<QLabel*>(w);
        QVERIFY(l);
        QCOMPARE(l->text(), caption);
        QCOMPARE(l->focusPolicy(), Qt::NoFocus);
    } else {
        QVERIFY(qobject_cast<QLineEdit*>(w));
    }
}

void tst_ControlPanel::everyControlOnce()
{
    Panel p;
    QCOMPARE(p.window.findChildren<QPushButton*>().size(), 11);
    QCOMPARE(p.window.findChildren<QLineEdit*>().size(), 32);
    QCOMPARE(p.window.findChildren<QLabel*>().size(), 23);
    QSet<QString> names;
    for (QWidget* w : p.window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(!names.contains(w->objectName()) && (names.insert(w->objectName()), true),
                 qPrintable(w->objectName()));
    for (int n = 1; n <= 23; ++n)
        QVERIFY(names.contains(QStringLiteral("Label%1").arg(n)));
    QCOMPARE(p.window.findChild<QTimer*>("Timer1")->interval(), 500);
    QCOMPARE(p.window.findChild<QTimer*>("Timer2")->interval(), 1000);
}

void tst_ControlPanel::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family"); // the preferred typeface
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::newRow("window") << ""
                            << "MS Sans Serif" << 12.0 << true << false;
    QTest::newRow("BIT1") << "BIT1"
                          << "MS Sans Serif" << 8.25 << false << false;
    QTest::newRow("exit") << "exit"
                          << "MS Sans Serif" << 8.25 << false << false;
    QTest::newRow("Text17") << "Text17"
                            << "MS Sans Serif" << 8.25 << false << false;
    QTest::newRow("Label1") << "Label1" << QStringLiteral("標楷體") << 26.25 << true << true;
    QTest::newRow("Label2") << "Label2"
                            << "MS Sans Serif" << 9.75 << true << false;
    QTest::newRow("Label8") << "Label8"
                            << "MS Sans Serif" << 8.25 << true << false;
    QTest::newRow("Label9") << "Label9"
                            << "MS Sans Serif" << 8.25 << false << false;
    QTest::newRow("Label23") << "Label23"
                             << "MS Sans Serif" << 12.0 << true << false;
}

void tst_ControlPanel::fonts()
{
    QFETCH(QString, name);
    QFETCH(QString, family);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    Panel p;
    QWidget* w = name.isEmpty() ? &p.window : p.child<QWidget>(name);
    QVERIFY(w);
    const QFont f = w->font();
    QCOMPARE(f.families().value(0), family);
    QCOMPARE(f.pointSizeF(), points);
    QCOMPARE(f.bold(), bold);
    QCOMPARE(f.italic(), italic);
    // Where the preferred face is missing, the one used still has the glyphs.
    const QString caption =
        name == "Label1" ? QStringLiteral("PC自動化控制") : QStringLiteral("收音機開關");
    QVERIFY(QFontMetrics(f).inFont(caption.at(2)));
    if (name == "Label1")
        QCOMPARE(w->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

void tst_ControlPanel::fields()
{
    Panel p;
    QSet<QString> spoken;
    for (int n = 1; n <= 32; ++n) {
        QLineEdit* f = p.window.field(n);
        QVERIFY(f);
        QCOMPARE(f->objectName(), QStringLiteral("Text%1").arg(n));
        spoken.insert(f->accessibleName());
        QVERIFY(f->text().isEmpty());
        QVERIFY(f->maxLength() > 1000000); // no length limit
    }
    // A screen reader tells all 32 apart: whose, which time, hour or minute.
    QCOMPARE(spoken.size(), 32);
    QCOMPARE(p.window.field(1)->accessibleName(), QStringLiteral("電燈 ON TIME hour"));
    QCOMPARE(p.window.field(32)->accessibleName(), QStringLiteral("影印機 OFF TIME minute"));
    // Longer than Qt's default cap of 32767 characters.
    const QString longText(40000, u'7');
    p.window.field(9)->setText(longText);
    QCOMPARE(p.window.field(9)->text().size(), 40000);
}

void tst_ControlPanel::startState()
{
    Panel p;
    p.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.window));
    QCOMPARE(p.window.windowTitle(), QStringLiteral("DIGITAL I/O BOARD"));
    QCOMPARE(p.child<QLabel>("Label2")->text(), QString());
    QVERIFY(p.writes.empty());
    QCOMPARE(int(p.window.outputState()), 0);
    QCOMPARE(int(p.window.stopRequested()), 0);
    QVERIFY(p.window.timer1().isActive());
    QVERIFY(p.window.timer2().isActive());
    QCOMPARE(p.window.palette().color(QPalette::Window), QColor(255, 128, 128));
    QTRY_COMPARE(QApplication::focusWidget(), p.child<QWidget>("exit"));
    // Its focus frame shows before any key is pressed.
    QStyleOptionButton opt;
    opt.initFrom(p.child<QWidget>("exit"));
    QVERIFY(opt.state & QStyle::State_HasFocus);
    QVERIFY(opt.state & QStyle::State_KeyboardFocusChange);
}

void tst_ControlPanel::channelButtons()
{
    Panel p;
    p.window.show();
    auto* bit3 = p.child<QPushButton>("BIT3");
    QTest::mouseClick(bit3, Qt::LeftButton);
    QCOMPARE(p.writes, std::vector<int>{8});
    QCOMPARE(bit3->text(), QStringLiteral("電扇開"));
    QTest::mouseClick(bit3, Qt::LeftButton);
    QCOMPARE(p.writes, (std::vector<int>{8, 0}));
    QCOMPARE(bit3->text(), QStringLiteral("電扇關"));
    // Each button drives its own channel.
    for (int ch = 0; ch < 8; ++ch)
        QTest::mouseClick(p.child<QPushButton>(QStringLiteral("BIT%1").arg(ch)), Qt::LeftButton);
    QCOMPARE(p.writes.back(), 0xFF);
    QCOMPARE(p.writes[2], 0x01);
    QCOMPARE(p.writes[6], 0x1F);
}

void tst_ControlPanel::channelLook_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("lit");
    QTest::addColumn<QString>("problem"); // the library's, after each write; empty: none
    QTest::newRow("bare name") << QStringList{} << "電鍋" << false << "";
    QTest::newRow("on") << QStringList{"BIT2"} << "電鍋開" << true << "";
    QTest::newRow("off") << QStringList{"BIT2", "BIT2"} << "電鍋關" << false << "";
    // STOP clears the output byte but not what the board holds.
    QTest::newRow("on, then STOP while idle")
        << QStringList{"BIT2", "STOP"} << "電鍋開" << true << "";
    // The caption is what was commanded; a board that fails is never drawn lit.
    QTest::newRow("on, the board fails")
        << QStringList{"BIT2"} << "電鍋開" << false << "no board <b>here</b>";
}

void tst_ControlPanel::channelLook()
{
    QFETCH(QStringList, clicks);
    QFETCH(QString, caption);
    QFETCH(bool, lit);
    QFETCH(QString, problem);
    Panel p;
    if (!problem.isEmpty())
        p.window.model().setBoardWatch([problem] {
            return automation::PanelModel::BoardReading{-1, problem};
        });
    p.window.show();
    for (const QString& name : clicks)
        QTest::mouseClick(p.child<QPushButton>(name), Qt::LeftButton);
    auto* button = p.child<panel::ChannelButton>("BIT2");
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->isLit(), lit);
    QCOMPARE(button->lamp() == panel::ChannelButton::Lamp::Unknown, !problem.isEmpty());
    QVERIFY(problem.isEmpty() ? button->accessibleDescription().isEmpty()
                              : button->accessibleDescription().endsWith(problem));
    QVERIFY(!button->toolTip().contains(QStringLiteral("<b>")));
    // The lamp bar is lit only then: look at the rendered button.
    const QImage image = button->grab().toImage();
    const QColor lamp = image.pixelColor(button->lampRect().center());
    const bool amber = lamp.red() > 200 && lamp.green() > 150 && lamp.blue() < 150;
    QVERIFY2(amber == lit, qPrintable(lamp.name()));
    // Assistive technology hears the same state, as a toggle when off too.
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::CheckBox);
    QVERIFY(accessible->state().checkable);
    QCOMPARE(bool(accessible->state().checked), lit);
}

void tst_ControlPanel::typedScheduleFiresThroughTimer1()
{
    Panel p;
    p.window.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(7, 30, 12)); });
    p.window.show();
    QTest::keyClicks(p.child<QLineEdit>("Text25"), "7");
    QTest::keyClicks(p.child<QLineEdit>("Text26"), "30");
    QTRY_COMPARE(p.writes, std::vector<int>{0x20});
    QCOMPARE(p.child<QPushButton>("BIT5")->text(), QStringLiteral("販賣機開"));
    QTest::qWait(1100); // more ticks in the same minute change nothing
    QCOMPARE(p.writes.size(), std::size_t(1));
}

void tst_ControlPanel::exitWritesZeroAndCloses()
{
    Panel p;
    p.window.show();
    QTest::mouseClick(p.child<QPushButton>("BIT0"), Qt::LeftButton);
    QTest::mouseClick(p.child<QPushButton>("BIT5"), Qt::LeftButton);
    QTest::mouseClick(p.child<QPushButton>("exit"), Qt::LeftButton);
    QCOMPARE(p.writes, (std::vector<int>{1, 0x21, 0}));
    QVERIFY(!p.window.isVisible());
    QCOMPARE(int(p.window.stopRequested()), -1);
    QCOMPARE(int(p.window.outputState()), 0x21); // left as it was
    QCOMPARE(p.child<QPushButton>("BIT5")->text(), QStringLiteral("販賣機開"));
}

void tst_ControlPanel::closeControlWritesNothing()
{
    Panel p;
    p.window.show();
    QTest::mouseClick(p.child<QPushButton>("BIT0"), Qt::LeftButton);
    QVERIFY(p.window.close());
    QCOMPARE(p.writes, std::vector<int>{1});
    QVERIFY(!p.window.isVisible());
    // Nothing runs without a window.
    QVERIFY(!p.window.timer1().isActive());
    QVERIFY(!p.window.timer2().isActive());
}

void tst_ControlPanel::sizeIsFixed()
{
    Panel p;
    p.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.window));
    const QSize fixed(489, 508);
    QCOMPARE(p.window.size(), fixed);
    p.window.resize(800, 700);
    QCOMPARE(p.window.size(), fixed);
    p.window.setGeometry(10, 10, 100, 100);
    QCOMPARE(p.window.size(), fixed);
    p.window.showMaximized();
    QTRY_COMPARE(p.window.size(), fixed);
    QVERIFY(!(p.window.windowState() & Qt::WindowMaximized));
    QCOMPARE(p.window.minimumSize(), fixed);
    QCOMPARE(p.window.maximumSize(), fixed);
}

void tst_ControlPanel::tabOrder()
{
    Panel p;
    QStringList expected{"exit",  "BIT0",  "BIT1",  "BIT2",  "BIT3", "BIT4",
                         "BIT5",  "BIT6",  "BIT7",  "LOOP",  "STOP", "Text5",
                         "Text7", "Text3", "Text2", "Text6", "Text8"};
    for (int n = 9; n <= 32; ++n)
        expected << QStringLiteral("Text%1").arg(n);
    expected << "Text1"
             << "Text4";

    QStringList order;
    QWidget* w = p.child<QWidget>("exit");
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != p.child<QWidget>("exit") && order.size() < 100);
    QCOMPARE(order, expected);
}

void tst_ControlPanel::captionsFit()
{
    // Every caption a button can show, and every fixed label, fits its control.
    Panel p;
    p.window.show();
    for (const channels::Channel& row : channels::ChannelTable) {
        auto* b = p.child<QPushButton>(QString::fromUtf8(row.button.data(), row.button.size()));
        for (std::string_view caption : {row.initialCaption, row.onCaption, row.offCaption}) {
            b->setText(QString::fromUtf8(caption.data(), caption.size()));
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            const QRect contents =
                b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
            const int advance = b->fontMetrics().horizontalAdvance(b->text());
            QVERIFY2(advance <= contents.width(), qPrintable(QStringLiteral("%1: %2 > %3")
                                                                 .arg(b->text())
                                                                 .arg(advance)
                                                                 .arg(contents.width())));
        }
    }
    for (QLabel* l : p.window.findChildren<QLabel*>()) {
        if (l->objectName() == "Label2")
            continue; // may run past the window's edge by design
        // The colons' boxes are smaller than a line: their ink must fit.
        const bool colon = l->text() == QStringLiteral("：");
        const QRect r = colon ? l->fontMetrics().tightBoundingRect(l->text())
                              : l->fontMetrics().boundingRect(l->text());
        const int height = colon ? r.height() : l->fontMetrics().height();
        QVERIFY2(r.width() <= l->width() && height <= l->height() + 2,
                 qPrintable(QStringLiteral("%1 %2x%3 in %4x%5")
                                .arg(l->objectName())
                                .arg(r.width())
                                .arg(l->fontMetrics().height())
                                .arg(l->width())
                                .arg(l->height())));
    }
}

void tst_ControlPanel::clockTick()
{
    Panel p;
    // A day far from any the suite runs on: the caption must come from the
    // panel's clock, not from the system's.
    const QDateTime at(QDate(2003, 2, 1), QTime(15, 4, 5));
    p.window.setClock([at] { return at; });
    p.window.show();
    QCOMPARE(p.window.windowTitle(), QStringLiteral("DIGITAL I/O BOARD"));
    QTRY_VERIFY_WITH_TIMEOUT(p.window.windowTitle() != QStringLiteral("DIGITAL I/O BOARD"), 3000);
    // Whatever the title says, a screen reader names the program.
    QCOMPARE(QAccessible::queryAccessibleInterface(&p.window)->text(QAccessible::Name),
             QStringLiteral("PC Automation Control"));
    QCOMPARE(p.window.windowTitle(), QLocale::system().toString(at.date(), QLocale::ShortFormat));
    const QString shown = p.child<QLabel>("Label2")->text();
    QVERIFY2(shown.contains(QStringLiteral("04")) && shown.contains(QStringLiteral("05")),
             qPrintable(shown));
    QVERIFY(p.writes.empty()); // the clock never touches the port
}

void tst_ControlPanel::timeText_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("expected");
    const QTime pm(15, 4, 5);
    QTest::newRow("zh_TW afternoon") << "zh_TW" << pm << QStringLiteral("下午3:04:05");
    QTest::newRow("zh_TW morning") << "zh_TW" << QTime(9, 0, 1) << QStringLiteral("上午9:00:01");
    QTest::newRow("zh_TW midnight") << "zh_TW" << QTime(0, 0, 0) << QStringLiteral("上午12:00:00");
    QTest::newRow("zh_HK") << "zh_HK" << pm << QStringLiteral("下午3:04:05");
    QTest::newRow("zh_CN") << "zh_CN" << pm << QStringLiteral("15:04:05");
    QTest::newRow("en_US") << "en_US" << pm << QStringLiteral("3:04:05 PM");
    QTest::newRow("en_US morning") << "en_US" << QTime(0, 30, 0) << QStringLiteral("12:30:00 AM");
    QTest::newRow("de_DE") << "de_DE" << pm << QStringLiteral("15:04:05");
    QTest::newRow("C") << "C" << pm << QStringLiteral("15:04:05");
    QTest::newRow("es_ES") << "es_ES" << pm << QStringLiteral("15:04:05");
    QTest::newRow("bg_BG") << "bg_BG" << pm << QStringLiteral("15:04:05 ч.");
    QTest::newRow("ja_JP") << "ja_JP" << pm << QStringLiteral("15時04分05秒");
    QTest::newRow("ko_KR") << "ko_KR" << pm << QStringLiteral("오후 3시 4분 5초");
    QTest::newRow("fi_FI") << "fi_FI" << pm << QStringLiteral("15.04.05");
}

void tst_ControlPanel::timeText()
{
    QFETCH(QString, locale);
    QFETCH(QTime, time);
    QFETCH(QString, expected);
    const QString text = panel::TimeText(QLocale(locale), time);
    QCOMPARE(text, expected);
}

void tst_ControlPanel::timeTextInEveryLocale()
{
    // No zone name and no pattern letter left unrendered, in any locale: once
    // the morning/afternoon marker is taken out, no Latin letter remains,
    // and the hour, minute and second are all there.
    const auto locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(locales.size() > 100);
    QStringList bad;
    for (const QLocale& locale : locales) {
        for (const QTime& t : {QTime(15, 4, 7), QTime(9, 58, 36)}) {
            QString text = panel::TimeText(locale, t);
            for (const QString& marker : {locale.amText(), locale.pmText()})
                if (!marker.isEmpty())
                    text.remove(marker, Qt::CaseInsensitive);
            // Words the format quotes (such as "kl." or "Uhr") are the locale's own.
            static const QRegularExpression quoted(QStringLiteral("'([^']+)'"));
            QStringList words;
            auto it = quoted.globalMatch(locale.timeFormat(QLocale::LongFormat));
            while (it.hasNext())
                words << it.next().captured(1);
            std::sort(words.begin(), words.end(),
                      [](const QString& a, const QString& b) { return a.size() > b.size(); });
            for (const QString& word : words)
                text.remove(word);
            const QString digits =
                locale.toString(t.second()).rightJustified(2, locale.zeroDigit().at(0));
            bool latin = false;
            for (QChar c : text)
                latin |= (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
            if (latin || text.contains(u'[') || text.contains(u'(') ||
                !(text.contains(locale.toString(t.second())) || text.contains(digits)))
                bad << QStringLiteral("%1: '%2' from '%3'")
                           .arg(locale.name(), panel::TimeText(locale, t),
                                locale.timeFormat(QLocale::LongFormat));
        }
    }
    QVERIFY2(bad.isEmpty(), qPrintable(bad.mid(0, 20).join(u'\n')));
}

void tst_ControlPanel::clockFitsInEveryLocale()
{
    // The clock shrinks its font for a text too wide for it, never clips it.
    const QLocale original;
    Panel p;
    p.window.timer2().stop();
    QTime at;
    p.window.setClock([&at] { return QDateTime(QDate(2003, 2, 1), at); });
    auto* clock = p.child<QLabel>("Label2");
    QStringList bad;
    for (const QLocale& locale : QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript,
                                                          QLocale::AnyTerritory)) {
        QLocale::setDefault(locale);
        for (const QTime& t : {QTime(23, 58, 58), QTime(10, 58, 58)}) {
            at = t;
            p.window.ClockTick();
            const int advance = clock->fontMetrics().horizontalAdvance(clock->text());
            if (advance > clock->contentsRect().width())
                bad << QStringLiteral("%1: %2 (%3 px)")
                           .arg(locale.name(), clock->text())
                           .arg(advance);
        }
    }
    QLocale::setDefault(QLocale(QLocale::C));
    at = QTime(15, 4, 5);
    p.window.ClockTick();
    QCOMPARE(clock->font().pointSizeF(), 9.75); // a text that fits keeps the designed size
    QLocale::setDefault(original);
    QVERIFY2(bad.isEmpty(), qPrintable(bad.mid(0, 20).join(u'\n')));
}

QTEST_MAIN(tst_ControlPanel)
#include "tst_controlpanel.moc"
