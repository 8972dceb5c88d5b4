#include "fenwix/core/BoardFile.h"
#include "fenwix/core/Port.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <future>
#include <grp.h>
#include <linux/ppdev.h>
#include <map>
#include <memory>
#include <mutex>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
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
#include <unistd.h>

using namespace fenwix;

namespace
{

QString readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// A parallel port that exists only in the test: records the requests it is
// given and fails the ones it is told to.
struct FakeDevice {
    std::mutex mutex; // a shared claim runs on a thread of its own
    std::vector<std::string> calls;
    std::map<unsigned long, int> failWith; // request -> errno
    // Answers to successive claims: 0, an errno value, or Blocks (waits for
    // release to be set). Once used up, claims succeed.
    static constexpr int Blocks = -1;
    std::vector<int> claims;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    int openError = 0;
    int dataLines = -1;
    int openCount = 0;

    DeviceOps ops()
    {
        return DeviceOps{
            [this](const char*, int) {
                std::lock_guard lock(mutex);
                calls.push_back("open");
                if (openError) {
                    errno = openError;
                    return -1;
                }
                ++openCount;
                return 42;
            },
            [this](int fd, unsigned long request, void* arg) {
                if (fd != 42)
                    return errno = EBADF, -1;
                std::unique_lock lock(mutex);
                calls.push_back(name(request, arg));
                if (request == PPCLAIM && !claims.empty()) {
                    const int answer = claims.front();
                    claims.erase(claims.begin());
                    if (answer == Blocks) {
                        lock.unlock();
                        released.wait();
                        return 0;
                    }
                    if (answer != 0)
                        return errno = answer, -1;
                    return 0;
                }
                if (const auto it = failWith.find(request); it != failWith.end())
                    return errno = it->second, -1;
                if (request == PPWDATA)
                    dataLines = *static_cast<unsigned char*>(arg);
                return 0;
            },
            [this](int) {
                std::lock_guard lock(mutex);
                calls.push_back("close");
                return 0;
            },
        };
    }
    static std::string name(unsigned long request, void* arg)
    {
        switch (request) {
        case PPEXCL:
            return "excl";
        case PPCLAIM:
            return "claim";
        case PPRELEASE:
            return "release";
        case PPDATADIR:
            return "datadir " + std::to_string(*static_cast<int*>(arg));
        case PPWDATA:
            return "wdata " + std::to_string(*static_cast<unsigned char*>(arg));
        default:
            return "other";
        }
    }
};

// Claims the fake answers at once are always seen answered, however loaded
// the machine: the wait bounds only a claim that never comes.
constexpr std::chrono::milliseconds LongClaimWait{60000};

struct Lines {
    std::vector<std::string> lines;
    Reporter reporter()
    {
        return [this](std::string_view l) { lines.emplace_back(l); };
    }
};

// Runs this program as a child that loads the real library and calls it.
struct Child {
    int exitCode = -1;
    QString err;
};

Child runChild(const QStringList& values, const QMap<QString, QString>& env)
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("FENWIX_TEST_CHILD"), values.join(u','));
    e.remove(QStringLiteral("FENWIX_LPT1"));
    e.remove(QStringLiteral("FENWIX_TRACE"));
    e.remove(QStringLiteral("FENWIX_BOARD"));
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    p.setProcessEnvironment(e);
    p.start(QCoreApplication::applicationFilePath(), {});
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardError())};
}

void writeAllValues(void (*out)(std::int16_t), const QStringList& values)
{
    for (const QString& v : values)
        out(static_cast<std::int16_t>(v.toInt()));
}

int childMain()
{
    void* lib = dlopen(FENWIX_LIBRARY, RTLD_NOW);
    if (!lib)
        return 3;
    using Out = void (*)(std::int16_t);
    auto out = reinterpret_cast<Out>(dlsym(lib, "FENWIX_OUT_LPT1"));
    if (!out)
        return 4;
    const QStringList values = qEnvironmentVariable("FENWIX_TEST_CHILD").split(u',');
    if (qEnvironmentVariableIsSet("FENWIX_TEST_HOLD")) { // write, then keep the port
        writeAllValues(out, values);
        std::printf("held\n");
        std::fflush(stdout);
        ::sleep(60);
        return 0;
    }
    auto writeAll = [&] { writeAllValues(out, values); };
    // Several threads, each writing the whole list: they share one port.
    std::vector<std::thread> threads(
        std::size_t(qEnvironmentVariableIntValue("FENWIX_TEST_THREADS")));
    for (std::thread& t : threads)
        t = std::thread(writeAll);
    for (std::thread& t : threads)
        t.join();
    if (threads.empty())
        writeAll();
    return 0;
}

} // namespace

class tst_Fenwix : public QObject
{
    Q_OBJECT

  private slots:
    void configFromEnvironment_data();
    void configFromEnvironment();
    void boardPath_data();
    void boardPath();
    void parseBoardState_data();
    void parseBoardState();
    void virtualBoardAndTrace();
    void ppdevSuccessKeepsClaim();
    void ppdevFailures_data();
    void ppdevFailures();
    void ppdevRealPaths_data();
    void ppdevRealPaths();
    void writeFailureReopens();
    void sharedClaimWhenExclusiveRefused();
    void sharedClaimNeverHoldsTheCall();
    void noTornReadUnderConcurrentWrites();
    void twoProcessesShareOneTrace();
    void unwritableFiles_data();
    void unwritableFiles();
    void realLibraryReachesBoardAndTrace_data();
    void realLibraryReachesBoardAndTrace();
    void plantedNames_data();
    void plantedNames();
    void virtualBoardHeldByOne();
    void deadWritersTemporaries();
    void traceDeletedWhileInUse();
    void boardFileFollowsTheDevice_data();
    void boardFileFollowsTheDevice();
    void traceWholeAndOrderedFromThreads();
    void forkedChildKeepsItsBoard();

  private:
    // A ppdev backend on a device that only the fake knows.
    Config ppdevConfig(const char* board)
    {
        Config c;
        c.virtualBoard = false;
        c.device = "/dev/parport9";
        c.boardPath = m_tmp.filePath(QString::fromLatin1(board)).toStdString();
        c.sharedClaimWait = LongClaimWait;
        return c;
    }
    QTemporaryDir m_tmp;
};

void tst_Fenwix::configFromEnvironment_data()
{
    QTest::addColumn<QString>("lpt"); // "<unset>" for no variable
    QTest::addColumn<bool>("parport0Exists");
    QTest::addColumn<bool>("virtualBoard");
    QTest::addColumn<QString>("device");
    QTest::newRow("unset, no port") << "<unset>" << false << true << "";
    QTest::newRow("unset, port present") << "<unset>" << true << false << "/dev/parport0";
    QTest::newRow("empty, port present") << "" << true << false << "/dev/parport0";
    QTest::newRow("virtual") << "virtual" << true << true << "";
    QTest::newRow("device path") << "/dev/parport1" << false << false << "/dev/parport1";
    QTest::newRow("anything else is a path") << "Virtual" << false << false << "Virtual";
}

void tst_Fenwix::configFromEnvironment()
{
    QFETCH(QString, lpt);
    QFETCH(bool, parport0Exists);
    QFETCH(bool, virtualBoard);
    QFETCH(QString, device);
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
    QCOMPARE(c.tracePath, std::string("/tmp/trace"));
}

void tst_Fenwix::boardPath_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("privateFolder");
    const QString own = "/tmp/fenwix-" + QString::number(::getuid());
    QTest::newRow("FENWIX_BOARD") << "/x/board"
                                  << "/run/user/7"
                                  << "/x/board"
                                  << "";
    QTest::newRow("XDG_RUNTIME_DIR") << ""
                                     << "/run/user/7"
                                     << "/run/user/7/fenwix-lpt1"
                                     << "";
    // Never a name in /tmp itself, which another user could take first.
    QTest::newRow("neither") << ""
                             << "" << own + "/lpt1" << own;
}

void tst_Fenwix::boardPath()
{
    QFETCH(QString, board);
    QFETCH(QString, runtime);
    QFETCH(QString, expected);
    QFETCH(QString, privateFolder);
    const QByteArray b = board.toUtf8(), r = runtime.toUtf8();
    const BoardLocation location = fenwix::boardLocation([&](const char* name) -> const char* {
        if (std::string_view(name) == "FENWIX_BOARD")
            return b.constData();
        if (std::string_view(name) == "XDG_RUNTIME_DIR")
            return r.constData();
        return nullptr;
    });
    QCOMPARE(QString::fromStdString(location.path), expected);
    QCOMPARE(QString::fromStdString(location.privateFolder), privateFolder);
}

void tst_Fenwix::parseBoardState_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("value"); // -1: not a state
    QTest::addColumn<QString>("status");
    QTest::newRow("virtual") << QByteArray("8\nvirtual\n") << 8 << "virtual";
    QTest::newRow("error") << QByteArray("255\n/dev/parport0 error: Device or resource busy\n")
                           << 255 << "/dev/parport0 error: Device or resource busy";
    QTest::newRow("empty") << QByteArray() << -1 << "";
    QTest::newRow("one line") << QByteArray("8\n") << -1 << "";
    QTest::newRow("no status end") << QByteArray("8\nvirt") << -1 << "";
    QTest::newRow("out of range") << QByteArray("256\nvirtual\n") << -1 << "";
    QTest::newRow("negative") << QByteArray("-1\nvirtual\n") << -1 << "";
    QTest::newRow("not a number") << QByteArray("x\nvirtual\n") << -1 << "";
    QTest::newRow("a third line") << QByteArray("1\n/x ok\nzz error: x\n") << -1 << "";
    QTest::newRow("control character") << QByteArray("1\nvirt\x1bual\n") << -1 << "";
}

void tst_Fenwix::parseBoardState()
{
    QFETCH(QByteArray, text);
    QFETCH(int, value);
    QFETCH(QString, status);
    const auto state = fenwix::parseBoardState(std::string_view(text.constData(), text.size()));
    QCOMPARE(state.has_value(), value >= 0);
    if (state) {
        QCOMPARE(state->value, value);
        QCOMPARE(QString::fromStdString(state->status), status);
    }
}

void tst_Fenwix::virtualBoardAndTrace()
{
    Config c;
    c.boardPath = m_tmp.filePath(QStringLiteral("vboard")).toStdString();
    c.tracePath = m_tmp.filePath(QStringLiteral("vtrace")).toStdString();
    Lines lines;
    Port port(c, DeviceOps{}, lines.reporter());
    const std::vector<int> values{8, 0, 255, -1, 0x1FF};
    for (int v : values)
        port.out(static_cast<std::int16_t>(v));
    QCOMPARE(readFile(QString::fromStdString(c.boardPath)), QStringLiteral("255\nvirtual\n"));
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

void tst_Fenwix::ppdevSuccessKeepsClaim()
{
    FakeDevice dev;
    const Config c = ppdevConfig("okboard");
    Lines lines;
    {
        Port port(c, dev.ops(), lines.reporter());
        port.out(0x81);
        port.out(0x102); // only the low 8 bits reach the data lines
        QCOMPARE(dev.dataLines, 2);
        port.flush();
        QCOMPARE(readFile(QString::fromStdString(c.boardPath)),
                 QStringLiteral("2\n/dev/parport9 ok\n"));
    }
    const std::vector<std::string> expected{"open",      "excl",    "claim",   "datadir 0",
                                            "wdata 129", "wdata 2", "release", "close"};
    QCOMPARE(dev.calls, expected);
    QVERIFY(lines.lines.empty());
}

void tst_Fenwix::ppdevFailures_data()
{
    QTest::addColumn<int>("openError");
    QTest::addColumn<qulonglong>("failingRequest");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("remedy");
    QTest::addColumn<int>("opensPerCall"); // a refused exclusive claim is tried shared
    QTest::addColumn<QString>("node");     // the device: a plain file, or a ppdev node of a group
    QTest::newRow("no permission, ppdev node of lp")
        << EACCES << 0ull << 0 << "sudo usermod -aG lp $USER" << 1 << "lp";
    // Never "join root": that grants far more than the port.
    QTest::newRow("no permission, ppdev node of root")
        << EACCES << 0ull << 0 << "group root, which grants far more than the port" << 1 << "root";
    QTest::newRow("no permission, not a ppdev node")
        << EACCES << 0ull << 0 << "is not a parallel port" << 1 << "";
    QTest::newRow("busy") << 0 << qulonglong(PPCLAIM) << EBUSY << "modprobe -r lp" << 2 << "";
    QTest::newRow("exclusive refused")
        << 0 << qulonglong(PPEXCL) << EBUSY << "another driver" << 1 << "";
    QTest::newRow("no port behind the device") << ENXIO << 0ull << 0 << "parport_pc" << 1 << "";
    QTest::newRow("no port, claim") << 0 << qulonglong(PPCLAIM) << ENXIO << "parport_pc" << 2 << "";
    QTest::newRow("data direction")
        << 0 << qulonglong(PPDATADIR) << EIO << "trying again" << 1 << "";
}

void tst_Fenwix::ppdevFailures()
{
    QFETCH(int, openError);
    QFETCH(qulonglong, failingRequest);
    QFETCH(int, error);
    QFETCH(QString, remedy);
    QFETCH(int, opensPerCall);
    QFETCH(QString, node);
    FakeDevice dev;
    dev.openError = openError;
    if (failingRequest)
        dev.failWith[failingRequest] = error;
    Config c;
    c.virtualBoard = false;
    // A real file or node, so the remedy can look at what it is.
    c.device = m_tmp.filePath(QStringLiteral("fake-parport-%1").arg(QTest::currentDataTag()))
                   .toStdString();
    if (node.isEmpty()) {
        QFile(QString::fromStdString(c.device)).open(QIODevice::WriteOnly);
    } else {
        const group* g = ::getgrnam(node.toLatin1().constData());
        if (!g)
            QSKIP("no such group here");
        if (::mknod(c.device.c_str(), S_IFCHR | 0660, makedev(99, 0)) != 0)
            QSKIP("making a device node needs root");
        QVERIFY(::chown(c.device.c_str(), 0, g->gr_gid) == 0);
    }
    c.boardPath = m_tmp.filePath(QStringLiteral("failboard")).toStdString();
    c.sharedClaimWait = LongClaimWait;
    Lines lines;
    Port port(c, dev.ops(), lines.reporter());
    for (int i = 0; i < 3; ++i)
        port.out(5);
    // One line, however many calls, naming the device, the error and a remedy.
    QCOMPARE(lines.lines.size(), std::size_t(1));
    const QString msg = QString::fromStdString(lines.lines[0]);
    QVERIFY2(msg.contains(QString::fromStdString(c.device)), qPrintable(msg));
    QVERIFY2(msg.contains(QString::fromLocal8Bit(std::strerror(openError ? openError : error))),
             qPrintable(msg));
    QVERIFY2(msg.contains(remedy), qPrintable(msg));
    QCOMPARE(dev.dataLines, -1);
    // Every call tried the device again, and the board file shows the failure.
    QCOMPARE(std::count(dev.calls.begin(), dev.calls.end(), "open"), 3 * opensPerCall);
    QCOMPARE(std::count(dev.calls.begin(), dev.calls.end(), "close"),
             openError ? 0 : 3 * opensPerCall);
    port.flush();
    const QString board = readFile(QString::fromStdString(c.boardPath));
    QVERIFY2(
        board.startsWith(QStringLiteral("5\n") + QString::fromStdString(c.device) + " error: "),
        qPrintable(board));

    // Once the device works, writing goes on and it is said once.
    dev.openError = 0;
    dev.failWith.clear();
    port.out(6);
    QCOMPARE(dev.dataLines, 6);
    QCOMPARE(lines.lines.size(), std::size_t(2));
    port.flush();
    QVERIFY(readFile(QString::fromStdString(c.boardPath)).endsWith(QStringLiteral(" ok\n")));
}

void tst_Fenwix::ppdevRealPaths_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("error");
    QTest::newRow("does not exist") << "/dev/nonexistent" << ENOENT;
    QTest::newRow("/dev/null") << "/dev/null" << ENOTTY;
    QTest::newRow("regular file") << m_tmp.filePath(QStringLiteral("plain")) << ENOTTY;
    QTest::newRow("folder") << m_tmp.path() << EISDIR;
    // A name holding a newline cannot forge a second status line.
    QTest::newRow("newline in the name") << "/x ok\nzz" << ENOENT;
}

void tst_Fenwix::ppdevRealPaths()
{
    QFETCH(QString, device);
    QFETCH(int, error);
    if (device.endsWith(QStringLiteral("plain"))) {
        QFile f(device);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    Config c;
    c.virtualBoard = false;
    c.device = device.toStdString();
    c.boardPath = m_tmp.filePath(QStringLiteral("realboard")).toStdString();
    Lines lines;
    Port port(c, systemDeviceOps(), lines.reporter());
    port.out(1);
    port.out(2);
    QCOMPARE(lines.lines.size(), std::size_t(1));
    const QString msg = QString::fromStdString(lines.lines[0]);
    QVERIFY2(msg.contains(QString::fromLocal8Bit(std::strerror(error))), qPrintable(msg));
    QVERIFY(!port.deviceOpen());
    port.flush();
    QCOMPARE(readFile(QString::fromStdString(c.boardPath)),
             QStringLiteral("2\n%1 error: %2\n")
                 .arg(QString(device).replace(u'\n', u'?'),
                      QString::fromLocal8Bit(std::strerror(error))));
}

void tst_Fenwix::writeFailureReopens()
{
    FakeDevice dev;
    dev.failWith[PPWDATA] = EIO;
    const Config c = ppdevConfig("eioboard");
    Lines lines;
    Port port(c, dev.ops(), lines.reporter());
    port.out(3);
    QVERIFY(!port.deviceOpen());
    QCOMPARE(lines.lines.size(), std::size_t(1));
    port.flush();
    QVERIFY(readFile(QString::fromStdString(c.boardPath)).contains(QStringLiteral("error: ")));
    dev.failWith.clear();
    port.out(4);
    QCOMPARE(dev.openCount, 2);
    QCOMPARE(dev.dataLines, 4);
}

void tst_Fenwix::sharedClaimWhenExclusiveRefused()
{
    // With the printer driver loaded the kernel refuses exclusive access
    // (ENXIO from the claim); the port is then claimed shared.
    FakeDevice dev;
    dev.claims = {ENXIO, 0};
    const Config c = ppdevConfig("sharedboard");
    Lines lines;
    Port port(c, dev.ops(), lines.reporter());
    port.out(7);
    const std::vector<std::string> expected{"open", "excl",  "claim",     "close",
                                            "open", "claim", "datadir 0", "wdata 7"};
    QCOMPARE(dev.calls, expected);
    QVERIFY(lines.lines.empty());
    QCOMPARE(port.status(), std::string("/dev/parport9 ok"));
}

void tst_Fenwix::sharedClaimNeverHoldsTheCall()
{
    // The other driver keeps the port: the shared claim waits, the calls do not.
    FakeDevice dev;
    dev.claims = {ENXIO, FakeDevice::Blocks};
    Config c = ppdevConfig("blockedboard");
    c.sharedClaimWait = std::chrono::milliseconds(50);
    Lines lines;
    Port port(c, dev.ops(), lines.reporter());
    QElapsedTimer timer;
    timer.start();
    port.out(1);
    port.out(2);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(lines.lines.size(), std::size_t(1));
    QVERIFY2(QString::fromStdString(lines.lines[0]).contains(QStringLiteral("another driver")),
             lines.lines[0].c_str());
    QVERIFY(QString::fromStdString(port.status()).contains(QStringLiteral(" error: ")));
    QCOMPARE(dev.dataLines, -1);

    dev.release.set_value(); // the other driver lets go
    QTRY_VERIFY([&] {
        port.out(3);
        return dev.dataLines == 3;
    }());
    QCOMPARE(port.status(), std::string("/dev/parport9 ok"));
    QCOMPARE(lines.lines.size(), std::size_t(2)); // "writing again"
}

void tst_Fenwix::noTornReadUnderConcurrentWrites()
{
    Config c;
    c.boardPath = m_tmp.filePath(QStringLiteral("raceboard")).toStdString();
    Port port(c, DeviceOps{}, Reporter{});
    port.out(0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            port.out(static_cast<std::int16_t>(i % 256));
        done = true;
    });
    int reads = 0, bad = 0;
    QString sample;
    while (!done) {
        QFile f(QString::fromStdString(c.boardPath));
        if (!f.open(QIODevice::ReadOnly)) {
            ++bad;
            continue;
        }
        const QByteArray text = f.readAll();
        ++reads;
        if (!fenwix::parseBoardState(std::string_view(text.constData(), text.size()))) {
            ++bad;
            sample = QString::fromUtf8(text);
        }
    }
    writer.join();
    QVERIFY(reads > 100);
    QVERIFY2(bad == 0, qPrintable(QStringLiteral("%1 bad reads, e.g. '%2'").arg(bad).arg(sample)));
    // No temporary copies are left behind, only the virtual board's lock.
    QCOMPARE(QDir(m_tmp.path()).entryList({QStringLiteral("raceboard.*")}, QDir::Files),
             QStringList{QStringLiteral("raceboard.lock")});
}

void tst_Fenwix::twoProcessesShareOneTrace()
{
    const QString trace = m_tmp.filePath(QStringLiteral("shared-trace"));
    QStringList values;
    for (int i = 0; i < 2000; ++i)
        values << QString::number(i % 256);
    QMap<QString, QString> env{{"FENWIX_LPT1", "virtual"},
                               {"FENWIX_TRACE", trace},
                               {"FENWIX_BOARD", m_tmp.filePath(QStringLiteral("twoboard"))}};
    QProcess a, b;
    auto start = [&](QProcess& p) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("FENWIX_TEST_CHILD"), values.join(u','));
        for (auto it = env.begin(); it != env.end(); ++it)
            e.insert(it.key(), it.value());
        p.setProcessEnvironment(e);
        p.start(QCoreApplication::applicationFilePath(), {});
    };
    start(a);
    start(b);
    QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000));
    QCOMPARE(a.exitCode(), 0);
    QCOMPARE(b.exitCode(), 0);
    const QStringList lines = readFile(trace).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4000);
    const QRegularExpression well(QStringLiteral("^\\d+\\.\\d{6} \\d{1,3}$"));
    for (const QString& l : lines)
        QVERIFY2(well.match(l).hasMatch(), qPrintable(l));
}

void tst_Fenwix::unwritableFiles_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("special"); // made at the named path first; must stay
    const QString ok = m_tmp.filePath(QStringLiteral("wboard"));
    const QString fifo = m_tmp.filePath(QStringLiteral("fifo"));
    const QString folder = m_tmp.filePath(QStringLiteral("folder"));
    QTest::newRow("trace in a missing folder") << ok << "/nonexistent/trace"
                                               << "/nonexistent/trace"
                                               << "no trace is kept"
                                               << "";
    QTest::newRow("trace is a folder") << ok << m_tmp.path() << m_tmp.path() << "no trace"
                                       << "";
    // Neither a FIFO nor a device may hold the caller or take the lines.
    QTest::newRow("trace is a FIFO") << ok << fifo << fifo << "no trace is kept"
                                     << "fifo";
    QTest::newRow("trace is a device") << ok << "/dev/null"
                                       << "/dev/null"
                                       << "not a regular file"
                                       << "";
    QTest::newRow("board in a missing folder") << "/nonexistent/board"
                                               << ""
                                               << "/nonexistent/board"
                                               << "writable"
                                               << "";
    QTest::newRow("board is a FIFO") << fifo << "" << fifo << "not a regular file"
                                     << "fifo";
    QTest::newRow("board is a folder") << folder << "" << folder << "not a regular file"
                                       << "folder";
    // As root, this once turned /dev/null into a regular file.
    QTest::newRow("board is a device") << "/dev/null"
                                       << ""
                                       << "/dev/null"
                                       << "not a regular file"
                                       << "";
}

void tst_Fenwix::unwritableFiles()
{
    QFETCH(QString, board);
    QFETCH(QString, trace);
    QFETCH(QString, named);
    QFETCH(QString, says);
    QFETCH(QString, special);
    const QByteArray path = QFile::encodeName(named);
    if (special == "fifo")
        QVERIFY(::mkfifo(path.constData(), 0600) == 0);
    else if (special == "folder")
        QVERIFY(QDir().mkpath(named));
    struct stat before {
    };
    const bool existed = ::lstat(path.constData(), &before) == 0;
    QMap<QString, QString> env{{"FENWIX_LPT1", "virtual"}, {"FENWIX_BOARD", board}};
    if (!trace.isEmpty())
        env.insert(QStringLiteral("FENWIX_TRACE"), trace);
    const Child child = runChild({"1", "2", "3"}, env);
    QCOMPARE(child.exitCode, 0); // the calls returned
    const QStringList err = child.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(err.size(), 1); // reported once
    QVERIFY2(err[0].contains(named) && err[0].contains(says), qPrintable(err[0]));
    struct stat after {
    };
    if (existed) { // left as it was, and nothing beside it
        QVERIFY(::lstat(path.constData(), &after) == 0);
        QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
        QVERIFY(!QFileInfo::exists(named + QStringLiteral(".lock")));
    }
    if (!special.isEmpty())
        QVERIFY(special == "fifo" ? ::unlink(path.constData()) == 0
                                  : QDir(named).removeRecursively());
}

void tst_Fenwix::realLibraryReachesBoardAndTrace_data()
{
    QTest::addColumn<int>("threads"); // 0: the main thread alone
    QTest::newRow("one thread") << 0;
    QTest::newRow("two threads share one port") << 2;
}

void tst_Fenwix::realLibraryReachesBoardAndTrace()
{
    QFETCH(int, threads);
    const QString board = m_tmp.filePath(QStringLiteral("libboard%1").arg(threads));
    const QString trace = m_tmp.filePath(QStringLiteral("libtrace%1").arg(threads));
    const Child child =
        runChild({"8", "9", "-1"}, {{"FENWIX_LPT1", "/dev/nonexistent"},
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

void tst_Fenwix::plantedNames_data()
{
    QTest::addColumn<QString>("name"); // beside the board, "" for the board itself
    QTest::addColumn<QString>("kind"); // "link" to a victim file, or "fifo"
    QTest::addColumn<bool>("written"); // whether the board file is still written
    const QString oldTemporary = QStringLiteral(".%1.tmp").arg(::getpid());
    QTest::newRow("link at the old temporary name") << oldTemporary << "link" << true;
    QTest::newRow("FIFO at the old temporary name") << oldTemporary << "fifo" << true;
    QTest::newRow("link at the board's name") << ""
                                              << "link" << true;
    QTest::newRow("link at the lock's name") << ".lock"
                                             << "link" << false;
    QTest::newRow("FIFO at the lock's name") << ".lock"
                                             << "fifo" << false;
}

void tst_Fenwix::plantedNames()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, written);
    QTemporaryDir dir;
    const QString board = dir.filePath(QStringLiteral("board"));
    const QString victim = dir.filePath(QStringLiteral("victim"));
    QFile v(victim);
    QVERIFY(v.open(QIODevice::WriteOnly) && v.write("victim\n") == 7);
    v.close();
    const QByteArray planted = QFile::encodeName(board + name);
    QVERIFY(kind == "link" ? ::symlink(QFile::encodeName(victim).constData(), planted) == 0
                           : ::mkfifo(planted.constData(), 0600) == 0);
    Config c;
    c.boardPath = board.toStdString();
    Lines lines;
    Port port(c, DeviceOps{}, lines.reporter());
    port.out(9); // returns: nothing it opens can block
    QCOMPARE(readFile(victim), QStringLiteral("victim\n"));
    QCOMPARE(readFile(board) == QStringLiteral("9\nvirtual\n"), written);
    QCOMPARE(lines.lines.size(), std::size_t(written ? 0 : 1));
}

void tst_Fenwix::virtualBoardHeldByOne()
{
    // Like a real port's exclusive claim: the first caller holds the board, a
    // second is told who does and writes nothing to it.
    Config c;
    c.boardPath = m_tmp.filePath(QStringLiteral("heldboard")).toStdString();
    const QString board = QString::fromStdString(c.boardPath);
    Lines second;
    auto holder = std::make_unique<Port>(c, DeviceOps{}, Reporter{});
    holder->out(1);
    Port other(c, DeviceOps{}, second.reporter());
    other.out(2);
    other.out(3);
    QCOMPARE(readFile(board), QStringLiteral("1\nvirtual\n"));
    QCOMPARE(second.lines.size(), std::size_t(1));
    QVERIFY2(QString::fromStdString(second.lines[0])
                 .contains(QStringLiteral("in use by process %1").arg(::getpid())),
             second.lines[0].c_str());
    QVERIFY(QString::fromStdString(other.status()).startsWith(QStringLiteral("virtual error")));
    holder.reset(); // released at exit
    other.out(4);
    QCOMPARE(readFile(board), QStringLiteral("4\nvirtual\n"));

    // A holder killed outright leaves no stale hold behind.
    Config c2 = c;
    c2.boardPath = m_tmp.filePath(QStringLiteral("killedboard")).toStdString();
    QProcess child;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("FENWIX_TEST_CHILD"), QStringLiteral("5"));
    e.insert(QStringLiteral("FENWIX_TEST_HOLD"), QStringLiteral("1"));
    e.insert(QStringLiteral("FENWIX_LPT1"), QStringLiteral("virtual"));
    e.insert(QStringLiteral("FENWIX_BOARD"), QString::fromStdString(c2.boardPath));
    child.setProcessEnvironment(e);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForReadyRead(30000));
    Lines third;
    Port late(c2, DeviceOps{}, third.reporter());
    late.out(6);
    QCOMPARE(third.lines.size(), std::size_t(1));
    QVERIFY(QString::fromStdString(third.lines[0])
                .contains(QStringLiteral("process %1").arg(child.processId())));
    child.kill();
    QVERIFY(child.waitForFinished(30000));
    late.out(7);
    QCOMPARE(readFile(QString::fromStdString(c2.boardPath)), QStringLiteral("7\nvirtual\n"));
}

void tst_Fenwix::deadWritersTemporaries()
{
    // Writers killed mid-replace leave temporary copies; only this user's
    // copies of processes that are gone are cleaned up.
    QTemporaryDir dir;
    const QString board = dir.filePath(QStringLiteral("board"));
    pid_t dead = 4000000;
    while (::kill(dead, 0) == 0 || errno != ESRCH)
        --dead;
    const QString deadCopy = board + QStringLiteral(".%1.Ab12Cd").arg(dead);
    const QString liveCopy = board + QStringLiteral(".%1.Ef34Gh").arg(::getppid());
    const QString otherBoard = board + QStringLiteral("2.%1.tmp").arg(dead);
    const QString othersCopy = board + QStringLiteral(".%1.tmp").arg(dead - 1);
    for (const QString& f : {deadCopy, liveCopy, otherBoard, othersCopy}) {
        QFile file(f);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const bool asRoot = ::getuid() == 0;
    if (asRoot) // another user's copy is never touched
        QVERIFY(::chown(QFile::encodeName(othersCopy).constData(), 65534, 65534) == 0);
    Config c;
    c.boardPath = board.toStdString();
    Port port(c, DeviceOps{}, Reporter{});
    port.out(1);
    QVERIFY(!QFileInfo::exists(deadCopy));
    QVERIFY(QFileInfo::exists(liveCopy));
    QVERIFY(QFileInfo::exists(otherBoard));
    QCOMPARE(QFileInfo::exists(othersCopy), asRoot);
}

void tst_Fenwix::traceDeletedWhileInUse()
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

void tst_Fenwix::boardFileFollowsTheDevice_data()
{
    QTest::addColumn<int>("calls");
    QTest::addColumn<QList<int>>("failing");   // calls (0-based) whose port write fails
    QTest::addColumn<QStringList>("statuses"); // each status the file shows, in order
    QTest::newRow("burst") << 5000 << QList<int>{} << QStringList{"ok"};
    // A status change is never coalesced away, however quick the calls.
    QTest::newRow("ok, error, ok") << 3000 << QList<int>{1500} << QStringList{"ok", "error", "ok"};
    QTest::newRow("error at the start") << 3000 << QList<int>{0} << QStringList{"error", "ok"};
}

void tst_Fenwix::boardFileFollowsTheDevice()
{
    QFETCH(int, calls);
    QFETCH(QList<int>, failing);
    QFETCH(QStringList, statuses);
    FakeDevice dev;
    Config c = ppdevConfig(QTest::currentDataTag());
    std::mutex mutex;
    std::vector<std::string> written;
    c.boardWritten = [&](const std::string& contents) {
        std::lock_guard lock(mutex);
        written.push_back(contents);
    };
    Port port(c, dev.ops(), Reporter{});
    for (int i = 0; i < calls; ++i) {
        if (failing.contains(i))
            dev.failWith[PPWDATA] = EIO;
        port.out(static_cast<std::int16_t>(i & 0xFF));
        dev.failWith.clear();
    }
    // The file catches up by itself, without another call.
    const QString last = QStringLiteral("%1\n/dev/parport9 ok\n").arg((calls - 1) & 0xFF);
    QTRY_COMPARE_WITH_TIMEOUT(readFile(QString::fromStdString(c.boardPath)), last, 2000);
    port.flush();
    std::lock_guard lock(mutex);
    QStringList seen;
    for (const std::string& contents : written) {
        const QString status =
            QString::fromStdString(contents).contains(QStringLiteral(" error: ")) ? "error" : "ok";
        if (seen.isEmpty() || seen.back() != status)
            seen << status;
    }
    QCOMPARE(seen, statuses);
    QVERIFY2(int(written.size()) < calls / 10, // gathered, not one file per call
             qPrintable(QString::number(written.size())));
}

void tst_Fenwix::traceWholeAndOrderedFromThreads()
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

void tst_Fenwix::forkedChildKeepsItsBoard()
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

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet("FENWIX_TEST_CHILD"))
        return childMain();
    QCoreApplication app(argc, argv);
    tst_Fenwix test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fenwix.moc"
