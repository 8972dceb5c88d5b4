// SPDX-License-Identifier: MIT
#include "automation/Scheduler.h"
#include "tests/shared/SchedulerHarness.h"

#include <map>
#include <QRandomGenerator>
#include <QTest>

using namespace automation;
using FakeWindow = schedtest::Harness;

class tst_Scheduler : public QObject
{
    Q_OBJECT

  private slots:
    void tableOrder();
    void matchesDecimal_data();
    void matchesDecimal();
    void entryFires_data();
    void entryFires();
    void equalOnAndOffTimesEndOff();
    void sameMinuteInTableOrder();
    void manualToggleUndoneWithinMinuteOnly();
    void switchRoutineReadsFieldsAgain();
    void oneClockReadingPerTick();
    void straddleNeverFiresAnHourEarly();
    void randomAgainstModel();
};

void tst_Scheduler::tableOrder()
{
    // Every field belongs to exactly one entry, and each channel has one on
    // and one off entry, on the fields of its own row.
    std::map<int, int> seen;
    std::map<int, int> onCount, offCount;
    for (const ScheduleEntry& e : ScheduleTable) {
        ++seen[e.hourField()];
        ++seen[e.minuteField()];
        ++(e.action == Action::On ? onCount : offCount)[e.channel];
    }
    QCOMPARE(seen.size(), std::size_t(FieldCount));
    QCOMPARE(seen.begin()->first, 1);
    QCOMPARE(seen.rbegin()->first, FieldCount);
    for (int ch = 0; ch < 8; ++ch) {
        QCOMPARE(onCount[ch], 1);
        QCOMPARE(offCount[ch], 1);
    }
    QCOMPARE(ScheduleTable[3].hourField(), 9);
    QCOMPARE(ScheduleTable[5].hourField(), 7);
    QCOMPARE(ScheduleTable[8].hourField(), 29);
    QCOMPARE(ScheduleTable[10].hourField(), 17);
    QCOMPARE(ScheduleTable[15].minuteField(), 24);
    QCOMPARE(fieldOf(5, Role::OffMinute), 28);
}

void tst_Scheduler::matchesDecimal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("matches");
    QTest::newRow("7") << "7" << 7 << true;
    QTest::newRow("30") << "30" << 30 << true;
    QTest::newRow("0") << "0" << 0 << true;
    QTest::newRow("59") << "59" << 59 << true;
    QTest::newRow("23") << "23" << 23 << true;
    QTest::newRow("leading zero") << "07" << 7 << false;
    QTest::newRow("00 for 0") << "00" << 0 << false;
    QTest::newRow("space before") << " 7" << 7 << false;
    QTest::newRow("space after") << "7 " << 7 << false;
    QTest::newRow("plus sign") << "+7" << 7 << false;
    QTest::newRow("minus zero") << "-0" << 0 << false;
    QTest::newRow("unit") << "7h" << 7 << false;
    QTest::newRow("full-width digit") << QString::fromUtf8("７") << 7 << false;
    QTest::newRow("arabic-indic digit") << QString::fromUtf8("٧") << 7 << false;
    QTest::newRow("empty") << "" << 0 << false;
    QTest::newRow("other number") << "8" << 7 << false;
    QTest::newRow("prefix only") << "1" << 12 << false;
    QTest::newRow("longer") << "123" << 12 << false;
    QTest::newRow("decimal point") << "7.0" << 7 << false;
    QTest::newRow("hex") << "0x7" << 7 << false;
}

void tst_Scheduler::matchesDecimal()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(bool, matches);
    QCOMPARE(MatchesDecimal(text, value), matches);
}

void tst_Scheduler::entryFires_data()
{
    QTest::addColumn<QString>("hour");
    QTest::addColumn<QString>("minute");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<bool>("fires");
    QTest::newRow("8/5 at 08:05") << "8"
                                  << "5" << QTime(8, 5, 0) << true;
    QTest::newRow("8/5 late in the minute") << "8"
                                            << "5" << QTime(8, 5, 59, 999) << true;
    QTest::newRow("08/05 never") << "08"
                                 << "05" << QTime(8, 5, 0) << false;
    QTest::newRow("8/5 a minute late") << "8"
                                       << "5" << QTime(8, 6, 0) << false;
    QTest::newRow("8/5 at 20:05") << "8"
                                  << "5" << QTime(20, 5, 0) << false;
    QTest::newRow("midnight") << "0"
                              << "0" << QTime(0, 0, 30) << true;
    QTest::newRow("last minute") << "23"
                                 << "59" << QTime(23, 59, 59) << true;
    QTest::newRow("hour only") << "8"
                               << "" << QTime(8, 5) << false;
    QTest::newRow("minute only") << ""
                                 << "5" << QTime(8, 5) << false;
    QTest::newRow("swapped") << "5"
                             << "8" << QTime(8, 5) << false;
    QTest::newRow("hour 24") << "24"
                             << "0" << QTime(0, 0) << false;
}

void tst_Scheduler::entryFires()
{
    QFETCH(QString, hour);
    QFETCH(QString, minute);
    QFETCH(QTime, time);
    QFETCH(bool, fires);
    FakeWindow w;
    w.fields[1] = hour;
    w.fields[2] = minute;
    w.at(time);
    w.tick();
    QCOMPARE(w.writes, fires ? std::vector<int>{1} : std::vector<int>{});
    // Later ticks of the same minute change nothing.
    w.at(time);
    w.tick();
    QCOMPARE(w.writes.size(), std::size_t(fires ? 1 : 0));
}

void tst_Scheduler::equalOnAndOffTimesEndOff()
{
    FakeWindow w;
    w.fields[5] = w.fields[7] = "12";
    w.fields[6] = w.fields[8] = "0";
    for (int i = 0; i < 3; ++i) {
        w.at(QTime(12, 0, i * 20));
        w.tick();
    }
    QCOMPARE(w.writes, (std::vector<int>{2, 0, 2, 0, 2, 0}));
    QCOMPARE(w.captions[1], std::string("收音機關"));
    // Caught up at that minute, the later entry also wins.
    const auto field = [&w](int n) { return w.fields[std::size_t(n)]; };
    QCOMPARE(automation::CatchUpByte(field, QTime(12, 0), 0xFF), 0xFD);
    w.fields[6] = "1"; // on at 12:01: yesterday's, until that minute comes
    QCOMPARE(automation::CatchUpByte(field, QTime(12, 0, 59), 0xFF), 0xFD);
    QCOMPARE(automation::CatchUpByte(field, QTime(12, 1), 0), 0x02);
}

void tst_Scheduler::sameMinuteInTableOrder()
{
    FakeWindow w;
    // Channel 2's entry comes before channel 1's off entry, after its on entry.
    for (int ch : {2, 1, 7}) {
        w.set(ch, Role::OnHour, "6");
        w.set(ch, Role::OnMinute, "45");
    }
    w.at(QTime(6, 45));
    w.tick();
    QCOMPARE(w.writes, (std::vector<int>{0x02, 0x06, 0x86}));
}

void tst_Scheduler::manualToggleUndoneWithinMinuteOnly()
{
    FakeWindow w;
    w.fields[13] = "7";
    w.fields[14] = "30";
    w.at(QTime(7, 30, 0));
    w.tick();
    QCOMPARE(w.writes, std::vector<int>{8});
    channels::ToggleChannel(w.ctx, 3); // by hand, against the schedule
    w.at(QTime(7, 30, 10));
    w.tick();
    QCOMPARE(w.writes, (std::vector<int>{8, 0, 8}));
    channels::ToggleChannel(w.ctx, 3);
    w.at(QTime(7, 31, 0));
    w.tick();
    QCOMPARE(w.writes, (std::vector<int>{8, 0, 8, 0}));
    QCOMPARE(int(w.outputState), 0);
}

void tst_Scheduler::switchRoutineReadsFieldsAgain()
{
    // A field cleared between the match and the switch routine's own read
    // (as by an event in between) stops the switch.
    FakeWindow w;
    w.fields[1] = "9";
    w.fields[2] = "0";
    w.at(QTime(9, 0));
    int reads = 0;
    SchedulerSeams seams = w.seams();
    auto base = seams.fieldText;
    seams.fieldText = [&](int number) {
        if (number == 2 && ++reads > 1)
            return QString();
        return base(number);
    };
    SchedulerTick(seams);
    QCOMPARE(reads, 2);
    QVERIFY(w.writes.empty());
}

void tst_Scheduler::oneClockReadingPerTick()
{
    FakeWindow w;
    w.at(QTime(10, 0));
    w.tick();
    QCOMPARE(w.readings, std::size_t(1));
}

void tst_Scheduler::straddleNeverFiresAnHourEarly()
{
    // Successive readings cross the top of the hour within one tick.
    FakeWindow w;
    w.fields[1] = "8";
    w.fields[2] = "59";
    w.fields[3] = "7";
    w.fields[4] = "0";
    w.clockReadings = {QTime(7, 59, 59, 999), QTime(8, 0, 0, 0)};
    w.tick();
    w.tick();
    QVERIFY(w.writes.empty());
}

namespace
{

QString randomText(QRandomGenerator& rng)
{
    static const QStringList pieces{"0",        "1",  "2",  "3",  "5",
                                    "7",        "9",  "00", "07", " ",
                                    "+",        "-",  "h",  "a",  "\xef\xbc\x97",
                                    "\xd9\xa7", "12", "23", "59", "\t"};
    switch (rng.bounded(6)) {
    case 0:
        return QString();
    case 1:
        return QString::number(rng.bounded(24));
    case 2:
        return QString::number(rng.bounded(60));
    case 3:
        return QString(int(rng.bounded(1, 300)), QChar(u'0' + rng.bounded(10)));
    default: {
        QString s;
        const int n = rng.bounded(1, 4);
        for (int i = 0; i < n; ++i)
            s += QString::fromUtf8(pieces[rng.bounded(pieces.size())].toUtf8());
        return s;
    }
    }
}

} // namespace

void tst_Scheduler::randomAgainstModel()
{
    QRandomGenerator rng(20261208);
    FakeWindow w;
    std::vector<int> expectedWrites;
    int model = 0;
    for (int step = 0; step < 20000; ++step) {
        // Change a few fields, sometimes everything.
        const int changes = rng.bounded(4);
        for (int c = 0; c < changes; ++c)
            w.fields[rng.bounded(1, FieldCount + 1)] = randomText(rng);
        // Times cluster round the fields' usual values so matches happen.
        const QTime t(rng.bounded(4) == 0 ? int(rng.bounded(24)) : int(rng.bounded(3)) * 7,
                      rng.bounded(4) == 0 ? int(rng.bounded(60)) : int(rng.bounded(3)) * 5,
                      int(rng.bounded(60)));
        if (rng.bounded(50) == 0) { // a manual toggle now and then
            const int ch = int(rng.bounded(8));
            channels::ToggleChannel(w.ctx, ch);
            model = (model ^ (1 << ch)) & 0xFF;
            expectedWrites.push_back(model);
        }
        const std::size_t writesBefore = w.writes.size();
        w.at(t);
        w.tick();

        model = schedtest::modelTick(model, w.fields, t, expectedWrites);
        if (w.writes != expectedWrites)
            QFAIL(qPrintable(
                QStringLiteral("divergence at step %1, time %2").arg(step).arg(t.toString())));
        QCOMPARE(int(w.outputState), model);
        // Catching up at t gives what a day of ticks gives; checked where an
        // entry has just acted, and now and then anywhere.
        if (w.writes.size() != writesBefore || step % 97 == 0) {
            const int known = (step * 37) % 257 - 1;
            const auto field = [&w](int n) { return w.fields[std::size_t(n)]; };
            QCOMPARE(automation::CatchUpByte(field, t, known),
                     schedtest::modelCatchUp(std::max(known, 0), w.fields, t));
        }
    }
    QVERIFY(expectedWrites.size() > 100); // the run did exercise matches
}

QTEST_APPLESS_MAIN(tst_Scheduler)
#include "tst_scheduler.moc"
