// SPDX-License-Identifier: MIT
// Measures the panel against the floor its toolkit and file system set, and
// prints one table. Options: --idle-seconds N (default 60), --quick.
#include "automation/Scheduler.h"
#include "channels/ChannelTable.h"
#include "fenwix/core/Port.h"
#include "panel/ControlPanel.h"
#include "remote/PanelBus.h"
#include "remote/PanelContract.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/hidraw.h>
#include <linux/ppdev.h>
#include <memory>
#include <mosquitto.h>
#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

struct Row {
    std::string what;
    std::string figure;
    std::string anchor;
    std::string aim;
};
std::vector<Row> table;

std::string fmt(const char* format, double a, double b = 0)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

// --- SchedulerTick over 32 plain string fields -------------------------------
void benchScheduler(int ticks)
{
    automation::PanelModel model([](std::int16_t) {});
    model.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(7, 30, 0)); });
    struct Case {
        const char* name;
        QString hour, minute;
    };
    for (const Case& c :
         {Case{"empty", "", ""}, Case{"filled", "8", "15"}, Case{"matching", "7", "30"}}) {
        for (const automation::ScheduleEntry& e : automation::ScheduleTable) {
            model.setFieldText(e.hourField(), c.hour);
            model.setFieldText(e.minuteField(), c.minute);
        }
        std::vector<double> samples;
        samples.reserve(static_cast<std::size_t>(ticks));
        for (int i = 0; i < ticks; ++i) {
            const auto t0 = Clock::now();
            model.SchedulerTick();
            samples.push_back(micros(Clock::now() - t0));
        }
        table.push_back({std::string("SchedulerTick, 32 fields ") + c.name,
                         fmt("median %.2f us", percentile(samples, 0.5)), "500 ms tick",
                         "< 20 us"});
    }
}

// --- An MQTT command to the port write, beside the broker's own round trip ------
// The panel's model and bus object in this process, the real bridge program,
// a real mosquitto on 127.0.0.1, and a client that publishes and listens.
struct Listener {
    mosquitto* client = mosquitto_new(nullptr, true, this);
    std::atomic<int> echoes{0};
    Clock::time_point echoed;
    Listener(int port)
    {
        mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_message_callback_set(client,
                                       [](mosquitto*, void* self, const mosquitto_message*) {
                                           auto* l = static_cast<Listener*>(self);
                                           l->echoed = Clock::now();
                                           ++l->echoes;
                                       });
        mosquitto_connect(client, "127.0.0.1", port, 30);
        mosquitto_subscribe(client, nullptr, "bench/echo", 1);
        mosquitto_loop_start(client);
    }
    ~Listener()
    {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, true);
        mosquitto_destroy(client);
    }
    void send(const char* topic, const char* payload)
    {
        mosquitto_publish(client, nullptr, topic, int(std::strlen(payload)), payload, 1, false);
    }
};

// Runs events until done() or the deadline; false on the deadline.
template <typename Done> bool waitFor(Done done, int ms = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

void benchMqtt(int commands)
{
    const char* what = "MQTT command to port write";
    auto skip = [what](const char* why) { table.push_back({what, why, "-", "-"}); };
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerService(remote::serviceName()))
        return skip("skipped: no session bus of its own (run-bench starts one)");
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const int port = probe.serverPort();
    probe.close();
    QTemporaryDir dir;
    {
        std::ofstream(dir.filePath("mosquitto.conf").toStdString())
            << "listener " << port << " 127.0.0.1\nallow_anonymous true\npersistence false\n"
            << "set_tcp_nodelay true\n"; // the floor without Nagle's delays
    }
    QProcess broker;
    broker.start("mosquitto", {"-c", dir.filePath("mosquitto.conf")});
    if (!broker.waitForStarted())
        return skip("skipped: no mosquitto");
    QThread::msleep(300);

    std::atomic<int> writes{0};
    Clock::time_point written;
    automation::PanelModel model([&](std::int16_t) {
        written = Clock::now();
        ++writes;
    });
    remote::PanelBus panelBus(model);
    panelBus.exportOn(bus);
    QProcess bridge;
    bridge.start(QCoreApplication::applicationDirPath() + "/pc-automation-mqtt",
                 {"--host", "127.0.0.1", "--port", QString::number(port), "--prefix", "bench/pc",
                  "--discovery-prefix", "bench/ha", "--node-id", "bench"});
    Listener peer(port);
    // Ready once a command goes through.
    const bool ready = waitFor([&] {
        peer.send("bench/pc/channel/0/set", "TOGGLE");
        return waitFor([&] { return writes > 0; }, 200);
    });
    std::vector<double> floor, command;
    for (int i = 0; ready && i < commands; ++i) {
        const int echoes = peer.echoes;
        auto t0 = Clock::now();
        peer.send("bench/echo", "x");
        waitFor([&] { return peer.echoes > echoes; });
        floor.push_back(micros(peer.echoed - t0));
        const int before = writes;
        t0 = Clock::now();
        peer.send("bench/pc/channel/0/set", "TOGGLE");
        waitFor([&] { return writes > before; });
        command.push_back(micros(written - t0));
    }
    bridge.kill();
    bridge.waitForFinished();
    broker.kill();
    broker.waitForFinished();
    bus.unregisterService(remote::serviceName());
    if (!ready)
        return skip("skipped: the bridge did not answer");
    const double f50 = percentile(floor, 0.5), f99 = percentile(floor, 0.99);
    const double c50 = percentile(command, 0.5), c99 = percentile(command, 0.99);
    table.push_back({what, fmt("median %.2f ms, p99 %.2f ms", c50 / 1000, c99 / 1000),
                     fmt("broker round trip median %.2f ms, p99 %.2f ms", f50 / 1000, f99 / 1000),
                     "within 1.5 ms of it (median), 8 ms (p99)"});
}

// --- Click on BIT0 to the port call ---------------------------------------------
void benchClick(int clicks)
{
    Clock::time_point pressed;
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(clicks));
    panel::ControlPanel window(
        [&](std::int16_t) { samples.push_back(micros(Clock::now() - pressed)); });
    window.timer1().stop();
    window.timer2().stop();
    window.show();
    QCoreApplication::processEvents();
    auto* bit0 = window.findChild<QPushButton*>(QStringLiteral("BIT0"));
    const QPointF at(bit0->width() / 2.0, bit0->height() / 2.0);
    const QPointF global = bit0->mapToGlobal(at);
    for (int i = 0; i < clicks; ++i) {
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        pressed = Clock::now();
        QApplication::sendEvent(bit0, &press);
        QApplication::sendEvent(bit0, &release);
        if (i % 64 == 0)
            QCoreApplication::processEvents(); // let repaints happen as they would
    }
    table.push_back(
        {"click on BIT0 to port call",
         fmt("median %.1f us, p99 %.1f us", percentile(samples, 0.5), percentile(samples, 0.99)),
         "-", "p99 < 200 us"});
}

// --- One port library call against the bare operations -------------------------
struct CallFigures {
    double median, p99;
    std::size_t overOneMs;
};

CallFigures timeCalls(int n, const std::function<void(int)>& op)
{
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        op(i);
        samples.push_back(micros(Clock::now() - t0));
    }
    const auto over = static_cast<std::size_t>(
        std::count_if(samples.begin(), samples.end(), [](double us) { return us > 1000; }));
    return {percentile(samples, 0.5), percentile(samples, 0.99), over};
}

void benchPortCall(const QString& folder, const char* label, int calls)
{
    const std::string board = QDir(folder).filePath(QStringLiteral("bench-board")).toStdString();
    const std::string trace = QDir(folder).filePath(QStringLiteral("bench-trace")).toStdString();

    // The floor: the same file operations done bare.
    const double bareReplace =
        timeCalls(calls, [&](int i) {
            const std::string tmp = board + ".bare.tmp";
            const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            char text[32];
            const int n = std::snprintf(text, sizeof text, "%d\nvirtual\n", i & 0xFF);
            (void)!::write(fd, text, static_cast<std::size_t>(n));
            ::close(fd);
            ::rename(tmp.c_str(), board.c_str());
        }).median;
    const int traceFd = ::open(trace.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const double bareAppend = timeCalls(calls, [&](int i) {
                                  char line[64];
                                  const int n = std::snprintf(line, sizeof line, "%lld.%06d %d\n",
                                                              1796700000LL, i % 1000000, i & 0xFF);
                                  (void)!::write(traceFd, line, static_cast<std::size_t>(n));
                              }).median;
    ::close(traceFd);

    // One port at a time: the first holds the virtual board.
    fenwix::Config plain;
    plain.boardPath = board;
    auto untraced = std::make_unique<fenwix::Port>(plain, fenwix::DeviceOps{}, fenwix::Reporter{});
    const double call =
        timeCalls(calls, [&](int i) { untraced->out(static_cast<std::int16_t>(i & 0xFF)); }).median;
    untraced.reset();
    fenwix::Config traced = plain;
    traced.tracePath = trace;
    fenwix::Port tracing(traced, fenwix::DeviceOps{}, fenwix::Reporter{});
    const double tracedCall =
        timeCalls(calls, [&](int i) { tracing.out(static_cast<std::int16_t>(i & 0xFF)); }).median;

    table.push_back({std::string("port call, virtual board, ") + label,
                     fmt("median %.1f us (%.2fx)", call, call / bareReplace),
                     fmt("bare replace %.1f us", bareReplace), "<= 1.5x"});
    table.push_back(
        {std::string("port call with trace, ") + label,
         fmt("median %.1f us (%.2fx)", tracedCall, tracedCall / (bareReplace + bareAppend)),
         fmt("bare replace + append %.1f us", bareReplace + bareAppend), "<= 1.5x"});
    ::unlink(board.c_str());
    ::unlink(trace.c_str());
}

// --- A ppdev call against the bare device write -------------------------------
// The device stand-in's write is a real but trivial system call: an ioctl on
// an open /dev/null (refused by the kernel, so it does nothing). The floor is
// that same ioctl, bare.
double callsPerSecond(const std::function<void(int)>& op)
{
    const auto end = Clock::now() + std::chrono::seconds(1);
    int calls = 0;
    while (Clock::now() < end)
        for (int i = 0; i < 100; ++i)
            op(calls++);
    return calls;
}

void benchPpdevCall(const QString& folder, int calls)
{
    const int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    fenwix::DeviceOps standIn{
        [](const char*, int flags) { return ::open("/dev/null", flags); },
        [](int fd, unsigned long request, void* arg) {
            (void)::ioctl(fd, request, arg);
            return 0;
        },
        [](int fd) { return ::close(fd); },
    };
    auto bare = [nullFd](int i) {
        unsigned char byte = static_cast<unsigned char>(i);
        (void)::ioctl(nullFd, PPWDATA, &byte);
    };
    const CallFigures floor = timeCalls(calls, bare);
    const double floorRate = callsPerSecond(bare);

    const std::string trace =
        QDir(folder).filePath(QStringLiteral("bench-ppdev-trace")).toStdString();
    for (const bool traced : {false, true}) {
        fenwix::Config config;
        config.virtualBoard = false;
        config.device = "/dev/null";
        config.boardPath = QDir(folder).filePath(QStringLiteral("bench-ppdev-board")).toStdString();
        if (traced)
            config.tracePath = trace;
        fenwix::Port port(config, standIn, fenwix::Reporter{});
        auto call = [&port](int i) { port.out(static_cast<std::int16_t>(i & 0xFF)); };
        call(0); // opened and claimed
        const CallFigures f = timeCalls(calls, call);
        const double rate = callsPerSecond(call);
        table.push_back(
            {std::string("ppdev call, device stand-in") + (traced ? ", with trace" : ""),
             fmt("median %.2f us, p99 %.2f us", f.median, f.p99) +
                 fmt(", %.0f over 1 ms; %.0f calls/s", double(f.overOneMs), rate),
             fmt("bare ioctl median %.2f us, p99 %.2f us", floor.median, floor.p99) +
                 fmt("; %.0f calls/s", floorRate),
             "median <= floor + 1 us, p99 <= floor + 10 us, none over 1 ms"});
        ::unlink(config.boardPath.c_str());
    }
    ::unlink(trace.c_str());

    // A USB relay board: each transfer takes a millisecond, on the library's
    // own thread; the caller only queues the byte.
    auto relays = std::make_shared<std::atomic<unsigned>>(0);
    fenwix::DeviceOps usbStandIn{
        [](const char*, int flags) { return ::open("/dev/null", flags); },
        [relays](int, unsigned long request, void* arg) {
            auto* bytes = static_cast<unsigned char*>(arg);
            if (_IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0)))
                return std::snprintf(static_cast<char*>(arg), _IOC_SIZE(request), "USBRelay8");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (_IOC_NR(request) == _IOC_NR(HIDIOCGFEATURE(0))) {
                bytes[8] = static_cast<unsigned char>(relays->load());
                return 9;
            }
            const unsigned bit = bytes[2] ? 1u << (bytes[2] - 1) : 0;
            *relays = bytes[1] == 0xFE   ? 0xFFu
                      : bytes[1] == 0xFC ? 0u
                      : bytes[1] == 0xFF ? relays->load() | bit
                                         : relays->load() & ~bit;
            return 9;
        },
        [](int fd) { return ::close(fd); },
    };
    {
        fenwix::Config config;
        config.virtualBoard = false;
        config.hid = true;
        config.device = "/dev/hidraw-bench";
        config.boardPath = QDir(folder).filePath(QStringLiteral("bench-hid-board")).toStdString();
        fenwix::Port port(config, usbStandIn, fenwix::Reporter{});
        auto call = [&port](int i) { port.out(static_cast<std::int16_t>(i & 0xFF)); };
        call(0);
        port.flush(); // opened
        const CallFigures f = timeCalls(calls, call);
        table.push_back({"USB relay board call, stand-in (1 ms a transfer)",
                         fmt("median %.2f us, p99 %.2f us", f.median, f.p99) +
                             fmt(", %.0f over 1 ms", double(f.overOneMs)),
                         fmt("bare ioctl median %.2f us, p99 %.2f us", floor.median, floor.p99),
                         "median <= floor + 5 us, none over 1 ms"});
        ::unlink(config.boardPath.c_str());
    }
    ::close(nullFd);
}

// --- Child programs for start-up, memory and idle figures ---------------------------
long peakRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// A bare window holding as many buttons, fields, labels and timers as the
// panel, with the same texts in the same faces, so font loading is in the floor.
QWidget* makeBareWindow()
{
    using panel::FontKind;
    auto* w = new QWidget;
    w->setFont(panel::panelFont(FontKind::Window));
    QStringList captions;
    for (const channels::Channel& row : channels::ChannelTable)
        captions << channels::text(row.initialCaption);
    captions << QStringLiteral("循環測試") << QStringLiteral("停止") << QStringLiteral("離開");
    for (int i = 0; i < 11; ++i) {
        auto* button = new QPushButton(captions[i], w);
        button->setFont(panel::panelFont(FontKind::Small));
        button->setGeometry(10 + (i % 6) * 60, 10 + (i / 6) * 40, 50, 33);
    }
    for (int i = 0; i < automation::FieldCount; ++i) {
        auto* field = new QLineEdit(w);
        field->setFont(panel::panelFont(FontKind::Small));
        field->setGeometry(10 + (i % 8) * 50, 100 + (i / 8) * 30, 25, 19);
    }
    for (int i = 0; i < 22; ++i) { // and the title: 23, as the panel has
        auto* label =
            new QLabel(i < 16 ? QStringLiteral("：") : QStringLiteral("註：時間為24小時制"), w);
        label->setFont(panel::panelFont(i < 16 ? FontKind::Small : FontKind::SmallBold));
        label->setGeometry(10 + (i % 8) * 50, 250 + (i / 8) * 30, 45, 20);
    }
    auto* title = new QLabel(QStringLiteral("PC自動化控制"), w);
    title->setFont(panel::panelFont(FontKind::Title));
    title->setGeometry(10, 400, 225, 41);
    auto* t1 = new QTimer(w);
    auto* t2 = new QTimer(w);
    t1->start(500);
    t2->start(1000);
    w->setFixedSize(panel::ControlPanel::ClientWidth, panel::ControlPanel::ClientHeight);
    return w;
}

class FirstPaint : public QObject
{
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !done) {
            done = true;
            QTimer::singleShot(0, [] {
                std::printf("painted %ld\n", peakRssKb());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }
    bool done = false;
};

int childStartup(int argc, char* argv[], bool withPanel)
{
    QApplication app(argc, argv);
    QWidget* w = withPanel ? new panel::ControlPanel([](std::int16_t) {}) : makeBareWindow();
    FirstPaint filter;
    w->installEventFilter(&filter);
    w->show();
    const int rc = QApplication::exec();
    delete w;
    return rc;
}

int childIdle(int argc, char* argv[])
{
    QApplication app(argc, argv);
    panel::ControlPanel window([](std::int16_t) {});
    window.show();
    return QApplication::exec();
}

struct Startup {
    double ms;
    long rssKb;
};

Startup runStartup(const char* mode)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode)});
    child.waitForReadyRead(30000);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const QByteArray out = child.readAllStandardOutput();
    child.waitForFinished(30000);
    return {ms, out.startsWith("painted ") ? out.mid(8).trimmed().toLong() : -1};
}

void benchStartup(int runs)
{
    std::vector<double> panelMs, bareMs, panelKb, bareKb;
    for (int i = 0; i < runs; ++i) { // alternate, so drift hits both alike
        const Startup p = runStartup("--child-startup-panel");
        const Startup b = runStartup("--child-startup-bare");
        panelMs.push_back(p.ms);
        bareMs.push_back(b.ms);
        panelKb.push_back(double(p.rssKb));
        bareKb.push_back(double(b.rssKb));
    }
    const double pm = percentile(panelMs, 0.5), bm = percentile(bareMs, 0.5);
    const double pk = percentile(panelKb, 0.5), bk = percentile(bareKb, 0.5);
    table.push_back({"start-up to first paint", fmt("median %.1f ms (+%.1f ms)", pm, pm - bm),
                     fmt("bare window %.1f ms", bm), "within 50 ms"});
    table.push_back({"peak resident memory", fmt("%.0f KiB (%.2fx)", pk, pk / bk),
                     fmt("bare window %.0f KiB", bk), "within 10 %"});
}

void benchIdle(int seconds)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child-idle")});
    child.waitForStarted();
    const qint64 pid = child.processId();
    auto sample = [pid](double& cpuSeconds, long& switches) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string content((std::istreambuf_iterator<char>(stat)), {});
        const auto close = content.rfind(')');
        std::istringstream rest(content.substr(close + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        cpuSeconds = double(utime + stime) / double(sysconf(_SC_CLK_TCK));
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        switches = 0;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                switches += std::stol(line.substr(line.find(':') + 1));
        }
    };
    QThread::sleep(2); // past start-up
    double cpu0 = 0, cpu1 = 0;
    long sw0 = 0, sw1 = 0;
    sample(cpu0, sw0);
    QThread::sleep(static_cast<unsigned long>(seconds));
    sample(cpu1, sw1);
    child.kill();
    child.waitForFinished();
    const double percent = 100.0 * (cpu1 - cpu0) / seconds;
    table.push_back(
        {fmt("idle panel over %.0f s", seconds),
         fmt("%.3f %% of a core, %.1f wake-ups/s", percent, double(sw1 - sw0) / seconds),
         "timers: 2 + 1 per second", "< 0.2 %"});
}

std::string machine()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2) + ", " +
                   std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores";
    }
    return "unknown machine";
}

} // namespace

int main(int argc, char* argv[])
{
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("--child-startup-panel"))
        return childStartup(argc, argv, true);
    if (mode == QLatin1String("--child-startup-bare"))
        return childStartup(argc, argv, false);
    if (mode == QLatin1String("--child-idle"))
        return childIdle(argc, argv);

    int idleSeconds = 60;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--idle-seconds" && i + 1 < argc)
            idleSeconds = std::max(1, std::atoi(argv[++i]));
        else if (std::string_view(argv[i]) == "--quick")
            quick = true;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    benchScheduler(quick ? 2000 : 50000);
    benchClick(quick ? 1000 : 10000);
    mosquitto_lib_init();
    benchMqtt(quick ? 200 : 2000);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const QString defaultFolder =
        runtime && *runtime ? QString::fromLocal8Bit(runtime) : QStringLiteral("/tmp");
    benchPortCall(defaultFolder, qPrintable(QStringLiteral("default folder %1").arg(defaultFolder)),
                  quick ? 500 : 5000);
    benchPpdevCall(defaultFolder, quick ? 10000 : 100000);
    QTemporaryDir disk(QDir::currentPath() + QStringLiteral("/bench-XXXXXX"));
    benchPortCall(disk.path(), "disk folder (working directory)", quick ? 500 : 5000);
    benchStartup(quick ? 3 : 15);
    benchIdle(quick ? 5 : idleSeconds);

    std::printf("machine: %s\n\n", machine().c_str());
    std::printf("| measure | figure | anchor | aim |\n|---|---|---|---|\n");
    for (const Row& r : table)
        std::printf("| %s | %s | %s | %s |\n", r.what.c_str(), r.figure.c_str(), r.anchor.c_str(),
                    r.aim.c_str());
    return 0;
}
