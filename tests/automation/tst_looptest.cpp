// SPDX-License-Identifier: MIT
#include "automation/LoopRoutine.h"
#include "panel/ControlPanel.h"

#include <functional>
#include <map>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace std::chrono_literals;

namespace
{

// A panel whose port records each write and can act at the n-th write, so a
// click lands between two steps of a running loop test.
struct Panel {
    std::vector<int> writes;
    std::map<std::size_t, std::function<void()>> atWrite; // after write number n (1-based)
    panel::ControlPanel window{[this](std::int16_t v) {
        writes.push_back(v);
        if (const auto it = atWrite.find(writes.size()); it != atWrite.end()) {
            // Queued, so it runs in the step's event processing.
            QTimer::singleShot(0, &window, it->second);
        }
    }};

    Panel()
    {
        window.setStepPause(1ms);
        window.show();
    }
    QPushButton* button(const char* name) { return window.findChild<QPushButton*>(name); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    std::function<void()> clicker(const char* name)
    {
        return [this, name] { click(name); };
    }
};

const std::vector<int> OnePass{1, 2, 4, 8, 16, 32, 64, 128};

std::vector<int> passes(int n)
{
    std::vector<int> v;
    for (int i = 0; i < n; ++i)
        v.insert(v.end(), OnePass.begin(), OnePass.end());
    return v;
}

} // namespace

class tst_LoopTest : public QObject
{
    Q_OBJECT

  private slots:
    void firstWriteBeforeAnyPause();
    void stopEndsAtEndOfPass_data();
    void stopEndsAtEndOfPass();
    void stopWithoutRun();
    void stopBeforeLoopHasNoEffect();
    void clickBetweenStepsIsOverwritten();
    void schedulerTickBetweenSteps();
    void nestedRunsEndInnerFirst();
    void exitDuringRun();
    void closeDuringRun();
    void defaultStepIsAQuarterSecond();
    void stepPauseCountsAndWaits_data();
    void stepPauseCountsAndWaits();
};

void tst_LoopTest::firstWriteBeforeAnyPause()
{
    // With a long pause, the write of 1 must already be there when the first
    // pause begins.
    std::int16_t state = 0, stop = 0;
    std::vector<std::string> events;
    automation::LoopSeams seams{
        state,
        stop,
        [&](std::int16_t v) { events.push_back("write " + std::to_string(v)); },
        [&] { events.push_back("pause"); },
        [&] { events.push_back("refresh " + std::to_string(state)); },
        [&] {
            events.push_back("events");
            stop = -1;
        },
        {},
    };
    automation::LoopTest(seams);
    QCOMPARE(events.size(), std::size_t(32));
    QCOMPARE(events[0], std::string("write 1"));
    QCOMPARE(events[1], std::string("pause"));
    QCOMPARE(events[2], std::string("refresh 1"));
    QCOMPARE(events[3], std::string("events"));
    QCOMPARE(events[28], std::string("write 128"));
}

void tst_LoopTest::stopEndsAtEndOfPass_data()
{
    QTest::addColumn<int>("stopAfterWrite");
    QTest::addColumn<int>("passesRun");
    QTest::addColumn<int>("state"); // OutputState at the end
    QTest::newRow("during 1") << 1 << 1 << 128;
    QTest::newRow("during 4") << 3 << 1 << 128;
    // No step is left to overwrite the stop's 0; the port keeps 128.
    QTest::newRow("during 128") << 8 << 1 << 0;
    QTest::newRow("second pass, during 1") << 9 << 2 << 128;
    QTest::newRow("third pass, during 64") << 23 << 3 << 128;
}

void tst_LoopTest::stopEndsAtEndOfPass()
{
    QFETCH(int, stopAfterWrite);
    QFETCH(int, passesRun);
    QFETCH(int, state);
    Panel p;
    p.atWrite[std::size_t(stopAfterWrite)] = p.clicker("STOP");
    p.click("LOOP");
    QCOMPARE(p.writes, passes(passesRun));
    QCOMPARE(int(p.window.outputState()), state);
    QCOMPARE(p.window.pauseScratch(), 60000); // the pause did its counting
    QCOMPARE(p.button("BIT7")->text(), QStringLiteral("電視開"));
    QCOMPARE(p.button("BIT0")->text(), QStringLiteral("電燈關"));
    QCOMPARE(p.button("BIT6")->text(), QStringLiteral("自動門關"));
}

void tst_LoopTest::stopWithoutRun()
{
    Panel p;
    p.click("BIT0");
    p.click("BIT5");
    p.click("STOP");
    QCOMPARE(p.writes, (std::vector<int>{1, 0x21}));
    QCOMPARE(int(p.window.outputState()), 0);
    QCOMPARE(int(p.window.stopRequested()), -1);
    QCOMPARE(p.button("BIT5")->text(), QStringLiteral("販賣機開"));
    p.click("BIT2"); // builds on 0: channels 0 and 5 go off
    QCOMPARE(p.writes.back(), 0x04);
}

void tst_LoopTest::stopBeforeLoopHasNoEffect()
{
    Panel p;
    p.click("STOP");
    p.atWrite[12] = p.clicker("STOP");
    p.click("LOOP");
    QCOMPARE(p.writes, passes(2));
}

void tst_LoopTest::clickBetweenStepsIsOverwritten()
{
    Panel p;
    p.atWrite[2] = p.clicker("BIT5");
    p.atWrite[4] = p.clicker("STOP");
    p.click("LOOP");
    // After step 2 the click toggles channel 5 on the current byte; step 4
    // overwrites it.
    const std::vector<int> expected{1, 2, 0x22, 4, 8, 16, 32, 64, 128};
    QCOMPARE(p.writes, expected);
}

void tst_LoopTest::schedulerTickBetweenSteps()
{
    Panel p;
    p.window.setClock([] { return QDateTime(QDate(2026, 1, 1), QTime(6, 0)); });
    p.window.findChild<QLineEdit*>("Text21")->setText("6");
    p.window.findChild<QLineEdit*>("Text22")->setText("0");
    p.window.timer1().stop(); // only the tick below
    p.atWrite[1] = [&p] { p.window.SchedulerTick(); };
    p.atWrite[3] = p.clicker("STOP");
    p.click("LOOP");
    const std::vector<int> expected{1, 0x81, 2, 4, 8, 16, 32, 64, 128};
    QCOMPARE(p.writes, expected);
}

void tst_LoopTest::nestedRunsEndInnerFirst()
{
    Panel p;
    p.atWrite[3] = p.clicker("LOOP"); // outer run at 4: start a nested run
    p.atWrite[6] = p.clicker("STOP"); // nested run at 4
    p.click("LOOP");
    std::vector<int> expected{1, 2, 4};
    expected.insert(expected.end(), OnePass.begin(), OnePass.end()); // the nested pass
    expected.insert(expected.end(), {8, 16, 32, 64, 128});           // the outer pass ends
    QCOMPARE(p.writes, expected);
    QCOMPARE(int(p.window.stopRequested()), -1);
}

void tst_LoopTest::exitDuringRun()
{
    Panel p;
    p.atWrite[3] = p.clicker("exit");
    p.click("LOOP"); // returns, instead of running on to 128
    QCOMPARE(p.writes, (std::vector<int>{1, 2, 4, 0}));
    QVERIFY(!p.window.isVisible());
}

void tst_LoopTest::closeDuringRun()
{
    Panel p;
    p.atWrite[5] = [&p] { p.window.close(); };
    p.click("LOOP");
    QCOMPARE(p.writes, (std::vector<int>{1, 2, 4, 8, 16}));
    QVERIFY(!p.window.isVisible());
    // A closed window starts no new run.
    p.window.LoopTest();
    QCOMPARE(p.writes.size(), std::size_t(5));
}

void tst_LoopTest::defaultStepIsAQuarterSecond()
{
    // The panel as shipped: one pass, its steps timed by their port writes.
    std::vector<qint64> at;
    QElapsedTimer clock;
    panel::ControlPanel window([&](std::int16_t) {
        at.push_back(clock.elapsed());
        if (at.size() == 1)
            QTimer::singleShot(0, &window, [&window] {
                QTest::mouseClick(window.findChild<QPushButton*>("STOP"), Qt::LeftButton);
            });
    });
    window.show();
    clock.start();
    QTest::mouseClick(window.findChild<QPushButton*>("LOOP"), Qt::LeftButton);
    QCOMPARE(at.size(), OnePass.size());
    std::vector<qint64> gaps;
    for (std::size_t i = 1; i < at.size(); ++i)
        gaps.push_back(at[i] - at[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    // Never shorter; the median is robust to a busy machine's odd late step.
    QVERIFY2(gaps.front() >= 250, qPrintable(QString::number(gaps.front())));
    QVERIFY2(gaps[gaps.size() / 2] < 375, qPrintable(QString::number(gaps[gaps.size() / 2])));
}

void tst_LoopTest::stepPauseCountsAndWaits_data()
{
    QTest::addColumn<int>("minimumMs");
    QTest::newRow("no wait") << 0;
    QTest::newRow("40 ms") << 40;
}

void tst_LoopTest::stepPauseCountsAndWaits()
{
    QFETCH(int, minimumMs);
    volatile std::int32_t scratch = -5;
    QElapsedTimer timer;
    timer.start();
    automation::StepPause(scratch, std::chrono::milliseconds(minimumMs));
    QVERIFY(timer.elapsed() >= minimumMs);
    // The last inner round stores 0 + 0 + 60000.
    QCOMPARE(int(scratch), 60000);
}

QTEST_MAIN(tst_LoopTest)
#include "tst_looptest.moc"
