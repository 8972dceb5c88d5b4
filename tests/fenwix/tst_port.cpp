// SPDX-License-Identifier: MIT
// The port as its callers see it: configuration, the virtual board, traces, threads, processes and
// fork().
#include "fenwix/core/BoardFile.h"
#include "fenwix/core/Port.h"
#include "tests/fenwix/FakeDevice.h"
#include "tests/fenwix/LibraryChild.h"
#include "tests/shared/Files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <grp.h>
#include <memory>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <signal.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace fenwix;
using namespace fakeport;
using testfiles::readFile;

class tst_Port : public QObject
{
    Q_OBJECT

  private slots:
    void configFromEnvironment_data();
    void configFromEnvironment();
    void virtualBoardAndTrace();
    void twoProcessesShareOneTrace();
    void gpioChoice_data();
    void gpioChoice();
    void realLibraryReachesBoardAndTrace_data();
    void realLibraryReachesBoardAndTrace();
    void traceDeletedWhileInUse();
    void traceWholeAndOrderedFromThreads();
    void forkedChildKeepsItsBoard();
    void usbRelayBoard_data();
    void usbRelayBoard();
    void boardStatus();

  private:
    Config ppdevConfig(const char* board) { return fakeport::ppdevConfig(m_tmp, board); }
    QTemporaryDir m_tmp;
};

void tst_Port::configFromEnvironment_data()
{
    QTest::addColumn<QString>("lpt"); // "<unset>" for no variable
    QTest::addColumn<bool>("parport0Exists");
    QTest::addColumn<bool>("virtualBoard");
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("hid");
    QTest::newRow("unset, no port") << "<unset>" << false << true << "" << false;
    QTest::newRow("unset, port present") << "<unset>" << true << false << "/dev/parport0" << false;
    QTest::newRow("empty, port present") << "" << true << false << "/dev/parport0" << false;
    QTest::newRow("virtual") << "virtual" << true << true << "" << false;
    QTest::newRow("device path") << "/dev/parport1" << false << false << "/dev/parport1" << false;
    QTest::newRow("anything else is a path") << "Virtual" << false << false << "Virtual" << false;
    QTest::newRow("first USB relay board") << "hid" << true << false << "hid" << true;
    QTest::newRow("by serial") << "hid:R8AAA" << true << false << "hid:R8AAA" << true;
    QTest::newRow("hidraw node") << "/dev/hidraw7" << true << false << "/dev/hidraw7" << true;
    QTest::newRow("HID is no serial") << "HID" << false << false << "HID" << false;
}

void tst_Port::configFromEnvironment()
{
    QFETCH(QString, lpt);
    QFETCH(bool, parport0Exists);
    QFETCH(bool, virtualBoard);
    QFETCH(QString, device);
    QFETCH(bool, hid);
    const QByteArray value = lpt.toUtf8();
    const Config c = fenwix::configFromEnvironment(
        [&](const char* name) -> const char* {
            if (std::string_view(name) == "FENWIX_LPT1")
                return lpt == "<unset>" ? nullptr : value.constData();
            if (std::string_view(name) == "FENWIX_TRACE")
                return "/tmp/trace";
            return nullptr;
        },
        [&](const char* path) {
            return std::string_view(path) == "/dev/parport0" && parport0Exists;
        });
    QCOMPARE(c.virtualBoard, virtualBoard);
    QCOMPARE(QString::fromStdString(c.device), device);
    QCOMPARE(c.hid, hid);
    QCOMPARE(c.tracePath, std::string("/tmp/trace"));
}

void tst_Port::virtualBoardAndTrace()
{
    Config c;
    c.boardPath = m_tmp.filePath(QStringLiteral("vboard")).toStdString();
    c.tracePath = m_tmp.filePath(QStringLiteral("vtrace")).toStdString();
    Lines lines;
    Port port(c, DeviceOps{}, lines.reporter());
    QCOMPARE(port.in(), -1); // nothing written yet: not known
    const std::vector<int> values{8, 0, 255, -1, 0x1FF};
    for (int v : values)
        port.out(static_cast<std::int16_t>(v));
    QCOMPARE(readFile(QString::fromStdString(c.boardPath)), QStringLiteral("255\nvirtual\n"));
    QCOMPARE(port.in(), 255);
    const QStringList trace =
        readFile(QString::fromStdString(c.tracePath)).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(trace.size(), int(values.size()));
    const QRegularExpression line(QStringLiteral("^\\d{10,}\\.\\d{6} (-?\\d+)$"));
    for (int i = 0; i < trace.size(); ++i) {
        const auto m = line.match(trace[i]);
        QVERIFY2(m.hasMatch(), qPrintable(trace[i]));
        QCOMPARE(m.captured(1).toInt(), values[std::size_t(i)]); // the value as passed
    }
    QVERIFY(lines.lines.empty());
}

void tst_Port::twoProcessesShareOneTrace()
{
    const QString trace = m_tmp.filePath(QStringLiteral("shared-trace"));
    QStringList values;
    for (int i = 0; i < 2000; ++i)
        values << QString::number(i % 256);
    QMap<QString, QString> env{{"FENWIX_LPT1", "virtual"},
                               {"FENWIX_TRACE", trace},
                               {"FENWIX_BOARD", m_tmp.filePath(QStringLiteral("twoboard"))}};
    QProcess a, b;
    librarychild::start(a, values, env);
    librarychild::start(b, values, env);
    QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000));
    QCOMPARE(a.exitCode(), 0);
    QCOMPARE(b.exitCode(), 0);
    const QStringList lines = readFile(trace).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4000);
    const QRegularExpression well(QStringLiteral("^\\d+\\.\\d{6} \\d{1,3}$"));
    for (const QString& l : lines)
        QVERIFY2(well.match(l).hasMatch(), qPrintable(l));
}

void tst_Port::gpioChoice_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("lines"); // "-": refused with a message
    QTest::addColumn<bool>("activeLow");
    QTest::newRow("chip only: lines 0 to 7") << "gpio:gpiochip0"
                                             << "0,1,2,3,4,5,6,7" << false;
    QTest::newRow("a HAT's lines, active-low")
        << "gpio:pinctrl-bcm2711:5,6,13,16,19,20,21,26:active-low"
        << "5,6,13,16,19,20,21,26" << true;
    QTest::newRow("a node, active-low") << "gpio:/dev/gpiochip1:active-low"
                                        << "0,1,2,3,4,5,6,7" << true;
    QTest::newRow("no chip") << "gpio"
                             << "-" << false;
    QTest::newRow("a line twice") << "gpio:gpiochip0:1,1"
                                  << "-" << false;
    QTest::newRow("nine lines") << "gpio:gpiochip0:0,1,2,3,4,5,6,7,8"
                                << "-" << false;
    QTest::newRow("an empty line") << "gpio:gpiochip0:1,,2"
                                   << "-" << false;
    QTest::newRow("a negative line") << "gpio:gpiochip0:-1"
                                     << "-" << false;
    QTest::newRow("a huge line") << "gpio:gpiochip0:99999999999"
                                 << "-" << false;
    QTest::newRow("a word after the lines") << "gpio:gpiochip0:1:active-high"
                                            << "-" << false;
}

void tst_Port::gpioChoice()
{
    QFETCH(QString, choice);
    QFETCH(QString, lines);
    QFETCH(bool, activeLow);
    const fenwix::GpioChoice c = fenwix::parseGpioChoice(choice.toStdString());
    QStringList got;
    for (const unsigned line : c.lines)
        got << QString::number(line);
    QCOMPARE(c.problem.empty() ? got.join(u',') : QStringLiteral("-"), lines);
    QCOMPARE(c.activeLow, activeLow && c.problem.empty());
}

void tst_Port::realLibraryReachesBoardAndTrace_data()
{
    QTest::addColumn<int>("threads"); // 0: the main thread alone
    QTest::newRow("one thread") << 0;
    QTest::newRow("two threads share one port") << 2;
}

void tst_Port::realLibraryReachesBoardAndTrace()
{
    QFETCH(int, threads);
    const QString board = m_tmp.filePath(QStringLiteral("libboard%1").arg(threads));
    const QString trace = m_tmp.filePath(QStringLiteral("libtrace%1").arg(threads));
    const librarychild::Result child =
        librarychild::run({"8", "9", "-1"}, {{"FENWIX_LPT1", "/dev/nonexistent"},
                                             {"FENWIX_BOARD", board},
                                             {"FENWIX_TRACE", trace},
                                             {"FENWIX_TEST_THREADS", QString::number(threads)}});
    QCOMPARE(child.exitCode, 0);
    // A hardware failure is never shown as success.
    QCOMPARE(readFile(board), QStringLiteral("255\n/dev/nonexistent error: %1\n")
                                  .arg(QString::fromLocal8Bit(std::strerror(ENOENT))));
    // The trace keeps each value as the caller passed it.
    QStringList values;
    for (const QString& line : readFile(trace).split(u'\n', Qt::SkipEmptyParts))
        values << line.section(u' ', 1);
    values.sort();
    QStringList expected;
    for (int i = 0; i < std::max(threads, 1); ++i)
        expected << QStringLiteral("-1") << QStringLiteral("8") << QStringLiteral("9");
    expected.sort();
    QCOMPARE(values, expected);
    // One port per process: the problem is reported once, whatever the threads.
    QCOMPARE(child.err.count(u'\n'), 1);
}

void tst_Port::traceDeletedWhileInUse()
{
    // Each loss is said, not only the first: the trace starts again each time.
    Config c;
    c.boardPath = m_tmp.filePath(QStringLiteral("dtboard")).toStdString();
    c.tracePath = m_tmp.filePath(QStringLiteral("dttrace")).toStdString();
    const QString trace = QString::fromStdString(c.tracePath);
    Lines lines;
    Port port(c, DeviceOps{}, lines.reporter());
    for (int round = 1; round <= 2; ++round) {
        port.out(1);
        QVERIFY(QFile::remove(trace));
        port.out(2);
        QCOMPARE(lines.lines.size(), std::size_t(round));
        QVERIFY(lines.lines.back().find("deleted while in use") != std::string::npos);
        QCOMPARE(readFile(trace).split(u'\n', Qt::SkipEmptyParts).size(), 1);
    }
}

void tst_Port::traceWholeAndOrderedFromThreads()
{
    Config c = ppdevConfig("threadboard");
    c.tracePath = m_tmp.filePath(QStringLiteral("threadtrace")).toStdString();
    FakeDevice dev;
    {
        Port port(c, dev.ops(), Reporter{});
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&port, t] {
                for (int i = 0; i < 500; ++i)
                    port.out(static_cast<std::int16_t>(t * 1000 + i));
            });
        for (std::thread& t : threads)
            t.join();
    }
    // Every call's line, whole, and each thread's in its own call order.
    const QStringList lines =
        readFile(QString::fromStdString(c.tracePath)).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2000);
    std::map<int, int> next;
    for (const QString& line : lines) {
        const int value = line.section(u' ', 1).toInt();
        QCOMPARE(value % 1000, next[value / 1000]++);
    }
}

void tst_Port::forkedChildKeepsItsBoard()
{
    // A program that forks after its first call: threads stay behind in the
    // parent, and the child's calls must still reach its board file.
    FakeDevice dev;
    const Config c = ppdevConfig("forkboard");
    Port port(c, dev.ops(), Reporter{});
    port.out(1);
    port.flush();
    const pid_t child = ::fork();
    if (child == 0) {
        port.out(2);
        port.flush(); // without a writer of its own this would wait for ever
        std::ifstream in(c.boardPath);
        std::stringstream text;
        text << in.rdbuf();
        ::_exit(text.str() == "2\n/dev/parport9 ok\n" ? 0 : 1);
    }
    int status = -1;
    for (int i = 0; i < 200 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
        QTest::qWait(50);
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        QFAIL("the child's call never reached its board file");
    }
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    port.out(3); // the parent's own writer goes on
    port.flush();
    QCOMPARE(readFile(QString::fromStdString(c.boardPath)),
             QStringLiteral("3\n/dev/parport9 ok\n"));
}

void tst_Port::usbRelayBoard_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("relays");
    // stuck: switches nothing; short: too short a feature report; slow: 2 ms a
    // transfer, and the port destroyed right after the last call; shared:
    // slow, the calls 8 ms apart, and another thread reading till the last.
    QTest::addColumn<QString>("quirk");
    QTest::addColumn<int>("unplugAt"); // unplugged for that write, then back; -1: never
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QStringList>("commands"); // {"*"}: any
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("said"); // in the one line reported; empty: none
    auto row = [](const char* name, const char* choice, int relays, const char* quirk, int unplugAt,
                  const QList<int>& values, const QStringList& commands, const char* board,
                  const char* said) {
        QTest::newRow(name) << QString::fromLatin1(choice) << relays << QString::fromLatin1(quirk)
                            << unplugAt << values << commands << QString::fromLatin1(board)
                            << QString::fromLatin1(said);
    };
    row("only the relays that change", "hid", 8, "", -1, {1, 5, 4}, {"on 1", "on 3", "off 1"},
        "4\nhid:R8AAA ok\n", "");
    row("all on, all off: one command each", "hid:R8AAA", 8, "", -1, {255, 0},
        {"all on", "all off"}, "0\nhid:R8AAA ok\n", "");
    // Never "all on" for a pattern: every appliance would switch on.
    row("0 -> 3 relay by relay", "hid", 8, "", -1, {3}, {"on 1", "on 2"}, "3\nhid:R8AAA ok\n", "");
    row("0 -> 170 relay by relay", "hid", 8, "", -1, {170}, {"on 2", "on 4", "on 6", "on 8"},
        "170\nhid:R8AAA ok\n", "");
    row("four relays: the higher channels are not switched, said once", "hid", 4, "", -1,
        {0xF2, 0xF3}, {"on 2", "on 1"}, "243\nhid:R8AAA ok\n", "has 4 relays: channels 4 to 7");
    row("a board that holds something else is an error", "hid", 8, "stuck", -1, {1}, {"on 1"},
        "1\nhid:R8AAA error: Input/output error\n", "holds 0 after 1 was sent");
    row("a short feature report is a protocol error", "hid", 8, "short", -1, {1}, {},
        "1\nhid error: Protocol error\n", "Protocol error");
    // Plugged back, the board has lost power: it is opened again and set.
    row("unplugged, then back: error, then ok", "hid", 8, "", 1, {1, 3, 3},
        {"on 1", "on 1", "on 2"}, "3\nhid:R8AAA ok\n", "No such device");
    row("another serial", "hid:R4BBB", 8, "", -1, {1}, {}, "1\nhid:R4BBB error: No such device\n",
        "no USB relay board with serial R4BBB");
    QList<int> burst;
    for (int v = 0; v < 100; ++v)
        burst << v;
    row("a burst on a slow board ends on the last value", "hid", 8, "slow", -1, burst, {"*"},
        "99\nhid:R8AAA ok\n", "");
    row("what is queued when the port goes reaches the board", "hid", 8, "slow", -1, {1, 3},
        {"on 1", "on 2"}, "3\nhid:R8AAA ok\n", "");
    QList<int> blink;
    for (int i = 0; i < 20; ++i)
        blink << (i % 2 ? 0 : 1);
    row("a read from another thread waits for the write under way", "hid", 8, "shared", -1, blink,
        {"*"}, "0\nhid:R8AAA ok\n", "");
}

void tst_Port::usbRelayBoard()
{
    QFETCH(QString, choice);
    QFETCH(int, relays);
    QFETCH(QString, quirk);
    QFETCH(int, unplugAt);
    QFETCH(QList<int>, values);
    QFETCH(QStringList, commands);
    QFETCH(QString, board);
    QFETCH(QString, said);
    // The boards' listing as sysfs shows it: one of ours, one of another kind.
    const QString classFolder = m_tmp.filePath(QStringLiteral("class"));
    for (const auto& [node, id] : {std::pair{"hidraw2", "0003:00001234:00005678\nHID_NAME=pad"},
                                   std::pair{"hidraw10", "0003:000016C0:000005DF\nHID_NAME=x "
                                                         "USBRelay8"}}) {
        QVERIFY(QDir().mkpath(classFolder + u'/' + node + QStringLiteral("/device")));
        std::ofstream(
            QString(classFolder + u'/' + node + QStringLiteral("/device/uevent")).toStdString())
            << "HID_ID=" << id << "\n";
    }
    FakeRelayBoard fake;
    fake.board.setRelayCount(relays);
    fake.board.stuck = quirk == QLatin1String("stuck");
    fake.shortReport = quirk == QLatin1String("short");
    const bool shared = quirk == QLatin1String("shared");
    const bool slow = shared || quirk == QLatin1String("slow");
    if (slow)
        fake.transfer = std::chrono::milliseconds(2);
    Config c;
    c.virtualBoard = false;
    c.hid = true;
    c.device = choice.toStdString();
    c.hidFolders = {classFolder.toStdString(), "/dev"};
    c.boardPath = m_tmp.filePath(QStringLiteral("hidboard")).toStdString();
    Lines lines;
    {
        Port port(c, fake.ops(), lines.reporter());
        // Reads from another thread meanwhile: never two transfers at once.
        std::atomic<bool> written = false;
        std::thread reader([&port, &written, shared] {
            while (shared && !written)
                port.in();
        });
        for (int i = 0; i < values.size(); ++i) {
            if (i == unplugAt) {
                port.flush();
                fake.unplug();
            }
            port.out(static_cast<std::int16_t>(values[i]));
            if (i == unplugAt) {
                port.flush();
                fake.plugBack();
            }
            if (shared)
                std::this_thread::sleep_for(std::chrono::milliseconds(8));
        }
        written = true;
        reader.join();
        // A read right after the writes sees them.
        if (!slow)
            QCOMPARE(port.in(), quirk == QLatin1String("stuck") || commands.isEmpty()
                                    ? (commands.isEmpty() ? -1 : 0)
                                    : values.back() & ((1 << relays) - 1));
    }
    QVERIFY(!fake.overlapped);
    QCOMPARE(readFile(QString::fromStdString(c.boardPath)), board);
    QStringList sent;
    for (const std::string& command : fake.commands)
        sent << QString::fromStdString(command);
    if (commands != QStringList{"*"})
        QCOMPARE(sent, commands);
    QCOMPARE(int(fake.board.relays()), int(slow ? values.back() : fake.board.relays()));
    const QString first =
        lines.lines.empty() ? QString() : QString::fromStdString(lines.lines.front());
    QVERIFY2(said.isEmpty() ? lines.lines.empty() : first.contains(said), qPrintable(first));
    if (!said.isEmpty()) // once, not at every write
        QCOMPARE(std::count_if(lines.lines.begin(), lines.lines.end(),
                               [&said](const std::string& line) {
                                   return QString::fromStdString(line).contains(said);
                               }),
                 1);
}

void tst_Port::boardStatus()
{
    // What the library says of the board, without waiting for it: -1 and
    // why while it fails, what it holds once it is back.
    std::string problem;
    auto status = [&problem](Port& port) {
        port.status(problem); // a USB board is looked at on the library's thread
        port.flush();
        return port.status(problem);
    };
    {
        Config c; // a virtual board another program holds
        c.boardPath = m_tmp.filePath(QStringLiteral("statusboard")).toStdString();
        auto holder = std::make_unique<Port>(c, DeviceOps{}, Reporter{});
        holder->out(1);
        Port second(c, DeviceOps{}, Reporter{});
        second.out(2);
        QCOMPARE(status(second), -1);
        QVERIFY2(QString::fromStdString(problem).contains("in use by process"), problem.c_str());
        holder.reset();
        QCOMPARE(status(second), 1);
        QVERIFY(problem.empty());
    }
    {
        Config c; // a virtual board whose file cannot be written, then can
        c.boardPath = m_tmp.filePath(QStringLiteral("statusfolder")).toStdString();
        QVERIFY(QDir().mkpath(QString::fromStdString(c.boardPath)));
        Port port(c, DeviceOps{}, Reporter{});
        port.out(1);
        QCOMPARE(status(port), -1);
        QVERIFY2(QString::fromStdString(problem).contains("not a regular file"), problem.c_str());
        QVERIFY(QDir(QString::fromStdString(c.boardPath)).removeRecursively());
        QCOMPARE(status(port), -1); // nothing written since: unknown, but no fault
        QVERIFY(problem.empty());
    }
    // A folder where a port should be, and no USB relay board plugged in.
    for (const auto& [device, hid, says] :
         {std::tuple{"/tmp", false, "not a parallel port"}, {"hid", true, "no USB relay board"}}) {
        Config c = ppdevConfig("statusnone");
        c.device = device;
        c.hid = hid;
        c.hidFolders = {m_tmp.filePath(QStringLiteral("noclass")).toStdString(), "/dev"};
        Port port(c, systemDeviceOps(), Reporter{});
        port.out(1);
        QCOMPARE(status(port), -1);
        QVERIFY2(QString::fromStdString(problem).contains(says), problem.c_str());
    }
    {
        FakeDevice dev; // a parallel port that is not there, then is
        dev.openError = ENOENT;
        Config c = ppdevConfig("statusppdev");
        c.chosenWith = "--board";
        Port port(c, dev.ops(), Reporter{});
        port.out(1);
        QCOMPARE(status(port), -1);
        QVERIFY2(QString::fromStdString(problem).contains("start the panel with --board set to"),
                 problem.c_str());
        dev.openError = 0;
        dev.dataLines = 5; // another program wrote the latch meanwhile
        QCOMPARE(status(port), 5);
        QVERIFY(problem.empty());
    }
    FakeRelayBoard fake; // a USB relay board, watched without a write
    Config c;
    c.virtualBoard = false;
    c.hid = true;
    c.device = "/dev/hidraw-status";
    c.boardPath = m_tmp.filePath(QStringLiteral("statushid")).toStdString();
    Port port(c, fake.ops(), Reporter{});
    port.out(1);
    QCOMPARE(status(port), 1);
    const unsigned char on2[standin::RelayBoard::ReportSize] = {0, 0xFF, 2};
    fake.board.command(on2); // switched behind the library's back
    QCOMPARE(status(port), 3);
    fake.unplug();
    QCOMPARE(status(port), -1);
    // Its descriptor fails (ENODEV) or, looked at again, its node is gone.
    QVERIFY2(QString::fromStdString(problem).contains(QRegularExpression("No such (device|file)")),
             problem.c_str());
    fake.plugBack();
    QCOMPARE(status(port), 0); // back, without power while it was out
    QVERIFY(problem.empty());
    fake.board.stuck = true;
    port.out(4);
    QCOMPARE(status(port), -1); // and stays so: it did not switch
    QVERIFY2(QString::fromStdString(problem).contains("holds 0 after 4"), problem.c_str());
}

int main(int argc, char* argv[])
{
    tst_Port tests;
    return librarychild::main(tests, argc, argv);
}

#include "tst_port.moc"
