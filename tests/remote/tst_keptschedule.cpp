// SPDX-License-Identifier: MIT
// Kept schedules in the real panel: saved within a second and at SIGTERM,
// a bad file kept aside, and nothing written through what is not the
// panel's own file.
#include "tests/remote/PanelProgram.h"

#include <QFileInfo>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace remotetest;

class tst_KeptSchedule : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void keptSchedule();
    void badScheduleKeptAside_data();
    void badScheduleKeptAside();
    void keptFileNotOurs_data();
    void keptFileNotOurs();
};

void tst_KeptSchedule::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
}

void tst_KeptSchedule::keptSchedule()
{
    Program p;
    const QString file = p.dir.filePath(QStringLiteral("kept/schedule.conf"));
    QVERIFY(p.start({"--keep-schedule=" + file}));
    call("SetField", {1, QStringLiteral("7")});
    call("SetField", {30, QStringLiteral(" 45 ")});
    // Saved within a second, with no need to close the panel.
    QTRY_VERIFY_WITH_TIMEOUT(readFile(file).contains(QStringLiteral("\" 45 \"")), 1500);
    // An edit just before the session ends (SIGTERM) is kept too.
    call("SetField", {32, QStringLiteral("59")});
    p.panel.terminate();
    QVERIFY(p.panel.waitForFinished(5000));
    QCOMPARE(p.panel.exitCode(), 0);
    QVERIFY(readFile(file).contains(QStringLiteral("\"59\"")));
    p.stop();
    QVERIFY(p.start({"--keep-schedule=" + file}));
    QCOMPARE(call("Field", {1}).arguments().value(0).toString(), QStringLiteral("7"));
    QCOMPARE(call("Field", {30}).arguments().value(0).toString(), QStringLiteral(" 45 "));
    QCOMPARE(call("Field", {32}).arguments().value(0).toString(), QStringLiteral("59"));
    QCOMPARE(call("Field", {2}).arguments().value(0).toString(), QString());
    QVERIFY(p.writes().isEmpty()); // the port is not written at start
    p.stop();
    // Without the option the fields start empty, as always.
    QVERIFY(p.start());
    QCOMPARE(call("Field", {1}).arguments().value(0).toString(), QString());
}

void tst_KeptSchedule::badScheduleKeptAside_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("broken") << QByteArray("{ \"version\": 1, \"fields\": { \"1\": \"7\"");
    QTest::newRow("another version")
        << QByteArray("{ \"version\": 2, \"fields\": { \"1\": \"7\" } }");
    QTest::newRow("a field longer than one may be typed")
        << "{ \"version\": 1, \"fields\": { \"1\": \"" + QByteArray(5000, '7') + "\" } }";
}

void tst_KeptSchedule::badScheduleKeptAside()
{
    QFETCH(QByteArray, contents);
    Program p;
    const QString file = p.dir.filePath(QStringLiteral("schedule.conf"));
    QVERIFY(testfiles::writeFile(file, contents));
    // A dangling link at the first aside name is passed over, not followed.
    const QString target = p.dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QFile::link(target, file + QStringLiteral(".bad")));
    QVERIFY(p.start({"--keep-schedule=" + file}));
    QCOMPARE(call("Field", {1}).arguments().value(0).toString(), QString());
    QCOMPARE(readFile(file + QStringLiteral(".bad.1")).toUtf8(), contents);
    QVERIFY(!QFileInfo::exists(target));
    p.stop();
    const QString err = QString::fromLocal8Bit(p.panel.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("schedule file %1").arg(file)) &&
                 err.contains(QStringLiteral(".bad")),
             qPrintable(err));
}

void tst_KeptSchedule::keptFileNotOurs_data()
{
    QTest::addColumn<QString>("kind"); // what stands at the kept file's name
    QTest::addColumn<QString>("says");
    for (const auto& [name, kind, says] :
         {std::tuple{"link to a victim", "link", "symbolic link"},
          {"FIFO", "fifo", "not a regular file"},
          {"kept by a panel of another session", "held", "kept by another panel"},
          {"folder removed while running", "removed", "is not kept"},
          {"a hard link to a victim at the lock's name", "lock link", "of its own"}})
        QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromLatin1(says);
}

void tst_KeptSchedule::keptFileNotOurs()
{
    // The panel starts all the same, never writes through a link or waits
    // on a FIFO, and says once why the schedule is not kept.
    QFETCH(QString, kind);
    QFETCH(QString, says);
    Program p;
    const QString folder = p.dir.filePath(QStringLiteral("kept"));
    const QString file = folder + QStringLiteral("/schedule.conf");
    const QString victim = p.dir.filePath(QStringLiteral("victim"));
    QVERIFY(QDir().mkpath(folder) && testfiles::writeFile(victim, "victim\n"));
    Program other; // the same file, from a session without a bus of its own
    other.env = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + p.dir.filePath("no-bus")}};
    if (kind == "link")
        QVERIFY(QFile::link(victim, file));
    else if (kind == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
    else if (kind == "lock link")
        QVERIFY(::link(QFile::encodeName(victim).constData(),
                       QFile::encodeName(file + QStringLiteral(".lock")).constData()) == 0);
    else if (kind == "held") {
        other.panel.setProcessEnvironment(other.environment());
        other.panel.start(QStringLiteral(PANEL_PROGRAM), {"--keep-schedule=" + file});
        QTRY_VERIFY(QFileInfo::exists(file + QStringLiteral(".lock")));
    }
    QVERIFY(p.start({"--keep-schedule=" + file}));
    if (kind == "removed")
        QVERIFY(QDir(folder).removeRecursively());
    for (const char* text : {"7", "8"}) { // two saves, each past the save delay
        call("SetField", {1, QString::fromLatin1(text)});
        QTest::qWait(800);
    }
    p.stop();
    const QString err = QString::fromLocal8Bit(p.panel.readAllStandardError());
    QCOMPARE(err.count(says), 1);
    QCOMPARE(readFile(victim), QStringLiteral("victim\n"));
}

QTEST_MAIN(tst_KeptSchedule)
#include "tst_keptschedule.moc"
