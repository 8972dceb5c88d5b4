// SPDX-License-Identifier: MIT
#include "channels/PortOutput.h"
#include "tests/shared/Files.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using channels::PortOutput;

namespace
{

QStringList readLog(const QString& path)
{
    return testfiles::readFile(path).split(u'\n', Qt::SkipEmptyParts);
}

// Child mode: writes 1 then 2 through a PortOutput with the default failure
// handling, then prints where the library came from.
int runChild()
{
    PortOutput::Options options;
    const QString dirs = qEnvironmentVariable("PORTOUTPUT_DIRS");
    if (dirs != QLatin1String("default")) {
        // The stand-ins have a name of their own, so a port library
        // installed on the system cannot answer for them.
        options.library = QStringLiteral("FakeFenwix");
        options.fallbackDirs = dirs.split(u':', Qt::SkipEmptyParts);
    }
    PortOutput port(options);
    port.write(1);
    port.write(2);
    std::printf("%s\n", qPrintable(port.loadedFrom()));
    return 0;
}

struct ChildResult {
    int exitCode;
    QString out;
    QString err;
};

} // namespace

class tst_PortOutput : public QObject
{
    Q_OBJECT

  private slots:
    void init();
    void loadsOnFirstWriteAndKeepsIt();
    void failureInProcess_data();
    void failureInProcess();
    void childProcess_data();
    void childProcess();
    void findsTheProjectLibraryBesideBin();

  private:
    ChildResult runChildProcess(const QString& ldLibraryPath, const QString& dirs);
    QTemporaryDir m_tmp;
    QString m_log;
};

void tst_PortOutput::init()
{
    m_log = m_tmp.filePath(QStringLiteral("calls-%1.log").arg(QTest::currentDataTag()));
    QFile::remove(m_log);
    qputenv("FAKEPORT_LOG", m_log.toLocal8Bit());
}

void tst_PortOutput::loadsOnFirstWriteAndKeepsIt()
{
    // In-process cases name the library by path: one process cannot load two
    // libraries of one name by the bare name.
    PortOutput::Options options;
    options.library = QStringLiteral(FAKEPORT_DIR "/FakeFenwix");
    options.fallbackDirs = {};
    PortOutput port(options);
    QVERIFY(!port.isLoaded());
    port.write(8);
    QVERIFY(port.isLoaded());
    port.write(0);
    port.write(255);
    // A library without the read-back function still writes.
    QCOMPARE(port.read(), PortOutput::ReadUnavailable);
    port.write(255);
    QCOMPARE(readLog(m_log), (QStringList{"8", "0", "255", "255"}));
    QVERIFY(port.loadedFrom().startsWith(QStringLiteral(FAKEPORT_DIR)));
}

void tst_PortOutput::failureInProcess_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("says"); // the cause, in the loader's words or ours
    QTest::newRow("missing library") << QStringLiteral("/nonexistent") << "FENWIX_OUT_LPT1"
                                     << "cannot open shared object file";
    QTest::newRow("library without the function")
        << QStringLiteral(FAKEPORT_NOFUNCTION_DIR) << "FENWIX_OUT_LPT1"
        << FAKEPORT_NOFUNCTION_DIR "/libFakeFenwix.so has no function FENWIX_OUT_LPT1";
    QTest::newRow("unknown function") << QStringLiteral(FAKEPORT_DIR) << "FENWIX_OUT_LPT2"
                                      << "has no function FENWIX_OUT_LPT2";
}

void tst_PortOutput::failureInProcess()
{
    QFETCH(QString, dir);
    QFETCH(QString, function);
    QFETCH(QString, says);
    PortOutput::Options options;
    options.library = dir + QStringLiteral("/FakeFenwix");
    options.fallbackDirs = {};
    options.function = function.toLatin1();
    PortOutput port(options);
    QStringList reports;
    port.setFailureHandler([&reports](const QString& report) { reports << report; });
    port.write(1);
    port.write(2); // no second attempt, no second report
    QCOMPARE(port.read(), PortOutput::ReadUnavailable);
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports[0].contains(QStringLiteral("FakeFenwix")), qPrintable(reports[0]));
    QVERIFY2(reports[0].contains(function), qPrintable(reports[0]));
    QVERIFY2(reports[0].contains(says), qPrintable(reports[0]));
    QVERIFY2(!reports[0].contains(QStringLiteral("looked in")), qPrintable(reports[0]));
    QVERIFY(port.hasFailed());
    QVERIFY(readLog(m_log).isEmpty());
}

ChildResult tst_PortOutput::runChildProcess(const QString& ldLibraryPath, const QString& dirs)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PORTOUTPUT_CHILD"), QStringLiteral("1"));
    env.insert(QStringLiteral("PORTOUTPUT_DIRS"), dirs);
    env.insert(QStringLiteral("FAKEPORT_LOG"), m_log);
    env.insert(QStringLiteral("FENWIX_LPT1"), QStringLiteral("virtual"));
    env.insert(QStringLiteral("FENWIX_BOARD"), m_tmp.filePath(QStringLiteral("board")));
    env.insert(QStringLiteral("FENWIX_TRACE"), m_log);
    if (ldLibraryPath.isEmpty())
        env.remove(QStringLiteral("LD_LIBRARY_PATH"));
    else
        env.insert(QStringLiteral("LD_LIBRARY_PATH"), ldLibraryPath);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    if (!child.waitForFinished(30000))
        return {-1, {}, {}};
    return {child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1,
            QString::fromLocal8Bit(child.readAllStandardOutput()),
            QString::fromLocal8Bit(child.readAllStandardError())};
}

void tst_PortOutput::childProcess_data()
{
    QTest::addColumn<QString>("ldLibraryPath");
    QTest::addColumn<QString>("dirs");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("loadedFrom"); // prefix of the library's path, said in full

    const QString with = QStringLiteral(FAKEPORT_DIR);
    const QString without = QStringLiteral(FAKEPORT_NOFUNCTION_DIR);
    QTest::newRow("missing library")
        << QString() << QStringLiteral("/nonexistent") << false << QString();
    QTest::newRow("no function") << QString() << without << false << QString();
    QTest::newRow("fallback folder") << QString() << with << true << with;
    QTest::newRow("fallback after a missing folder")
        << QString() << "/nonexistent:" + with << true << with;
    // Succeeds only if the library on LD_LIBRARY_PATH wins over the fallback.
    QTest::newRow("LD_LIBRARY_PATH first") << with << without << true << QString();
    // The report names the file that was loaded, not the bare name.
    QTest::newRow("LD_LIBRARY_PATH first, no function")
        << without << with << false << without + QStringLiteral("/libFakeFenwix.so has no");
}

void tst_PortOutput::childProcess()
{
    QFETCH(QString, ldLibraryPath);
    QFETCH(QString, dirs);
    QFETCH(bool, succeeds);
    QFETCH(QString, loadedFrom);

    const ChildResult result = runChildProcess(ldLibraryPath, dirs);
    if (succeeds) {
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.startsWith(loadedFrom), qPrintable(result.out));
        QCOMPARE(readLog(m_log), (QStringList{"1", "2"}));
    } else {
        QVERIFY2(result.exitCode > 0, qPrintable(result.err));
        QVERIFY2(result.err.contains(QStringLiteral("FakeFenwix")), qPrintable(result.err));
        QVERIFY2(result.err.contains(QStringLiteral("FENWIX_OUT_LPT1")), qPrintable(result.err));
        QVERIFY2(result.err.contains(loadedFrom), qPrintable(result.err));
        QVERIFY(result.out.isEmpty());
        QVERIFY(readLog(m_log).isEmpty());
    }
}

void tst_PortOutput::findsTheProjectLibraryBesideBin()
{
    // This test program sits in bin/ like the panel; the real port library in
    // the lib/ folder beside it must be found with no LD_LIBRARY_PATH.
    QLibrary system(QStringLiteral("FENWIX"));
    if (system.load())
        QSKIP("a port library is installed system-wide and is found first");
    const ChildResult result = runChildProcess(QString(), QStringLiteral("default"));
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.contains(QStringLiteral("FENWIX")), qPrintable(result.out));
    const QStringList lines = readLog(m_log);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].endsWith(QStringLiteral(" 1")));
    QVERIFY(lines[1].endsWith(QStringLiteral(" 2")));
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet("PORTOUTPUT_CHILD")) {
        QCoreApplication app(argc, argv);
        return runChild();
    }
    QCoreApplication app(argc, argv);
    tst_PortOutput test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_portoutput.moc"
