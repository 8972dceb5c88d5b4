// SPDX-License-Identifier: MIT
// The scheduler against a clock that changes under it: daylight-saving
// changes in a real time zone, and jumps back, forward and across midnight.
#include "tests/shared/SchedulerHarness.h"

#include <QTest>
#include <QTimeZone>

using namespace automation;
using Run = schedtest::Harness;

class tst_ClockChange : public QObject
{
    Q_OBJECT

  private slots:
    void daylightSaving_data();
    void daylightSaving();
    void jumps_data();
    void jumps();
};

void tst_ClockChange::daylightSaving_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QDateTime>("fromUtc");
    QTest::addColumn<int>("hours");
    QTest::addColumn<QStringList>("fields"); // channel 0's, in Role order
    QTest::addColumn<QList<int>>("writes");

    const QDateTime springUtc(QDate(2026, 3, 29), QTime(0, 0), Qt::UTC);
    const QDateTime autumnUtc(QDate(2026, 10, 24), QTime(23, 0), Qt::UTC);
    // 02:30 does not exist on 29 March in Berlin: the entry never fires.
    QTest::newRow("spring gap") << "Europe/Berlin" << springUtc << 3
                                << QStringList{"2", "30", "", ""} << QList<int>{};
    QTest::newRow("spring, either side of the gap")
        << "Europe/Berlin" << springUtc << 3 << QStringList{"1", "59", "3", "0"}
        << QList<int>{1, 0};
    // 02:00-02:59 comes twice on 25 October: on at 02:30, off at 02:45, twice.
    QTest::newRow("autumn repeat") << "Europe/Berlin" << autumnUtc << 4
                                   << QStringList{"2", "30", "2", "45"} << QList<int>{1, 0, 1, 0};
    QTest::newRow("autumn, hour outside the repeat")
        << "Europe/Berlin" << autumnUtc << 4 << QStringList{"1", "30", "", ""} << QList<int>{1};
    QTest::newRow("New York spring gap")
        << "America/New_York" << QDateTime(QDate(2026, 3, 8), QTime(5, 0), Qt::UTC) << 3
        << QStringList{"2", "15", "", ""} << QList<int>{};
}

void tst_ClockChange::daylightSaving()
{
    QFETCH(QString, zone);
    QFETCH(QDateTime, fromUtc);
    QFETCH(int, hours);
    QFETCH(QStringList, fields);
    QFETCH(QList<int>, writes);
    const QTimeZone tz(zone.toLatin1());
    QVERIFY(tz.isValid());
    Run run;
    for (int role = 0; role < 4; ++role)
        run.set(0, Role(role), fields[role]);
    // Every tick of the period, as the local clock shows it.
    for (qint64 ms = 0; ms < qint64(hours) * 3600 * 1000; ms += 500) {
        run.at(fromUtc.addMSecs(ms).toTimeZone(tz).time());
        run.tick();
    }
    QCOMPARE(QList<int>(run.writes.begin(), run.writes.end()), writes);
}

void tst_ClockChange::jumps_data()
{
    QTest::addColumn<QList<QTime>>("ticks");
    QTest::addColumn<QList<int>>("writes");
    // On at 8:00 (Text1/Text2), off at 8:30 (Text3/Text4).
    QTest::newRow("forward over the on minute: no catching up")
        << QList<QTime>{QTime(7, 59, 59), QTime(9, 0, 0), QTime(9, 0, 30)} << QList<int>{};
    QTest::newRow("forward into the on minute")
        << QList<QTime>{QTime(7, 0), QTime(8, 0, 1), QTime(8, 0, 2)} << QList<int>{1};
    QTest::newRow("back an hour: the minute comes again")
        << QList<QTime>{QTime(8, 0), QTime(8, 30), QTime(7, 59, 59), QTime(8, 0), QTime(8, 30, 1)}
        << QList<int>{1, 0, 1, 0};
    QTest::newRow("across midnight")
        << QList<QTime>{QTime(23, 59, 59, 500), QTime(0, 0, 0), QTime(8, 0, 0)} << QList<int>{1};
}

void tst_ClockChange::jumps()
{
    QFETCH(QList<QTime>, ticks);
    QFETCH(QList<int>, writes);
    Run run;
    for (const auto& [role, text] : {std::pair{Role::OnHour, "8"},
                                     {Role::OnMinute, "0"},
                                     {Role::OffHour, "8"},
                                     {Role::OffMinute, "30"}})
        run.set(0, role, text);
    for (const QTime& t : ticks) {
        run.at(t);
        run.tick();
    }
    QCOMPARE(QList<int>(run.writes.begin(), run.writes.end()), writes);
}

QTEST_APPLESS_MAIN(tst_ClockChange)
#include "tst_clockchange.moc"
