// SPDX-License-Identifier: MIT
#include "bench/Measure.h"

#include "fenwix/core/Port.h"
#include "tests/support/RelayBoard.h"

#include <cstdio>
#include <fcntl.h>
#include <linux/gpio.h>
#include <linux/hidraw.h>
#include <linux/ppdev.h>
#include <memory>
#include <QDir>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace bench
{

// --- One port library call against the bare operations -------------------------
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

    addRow({std::string("port call, virtual board, ") + label,
            fmt("median %.1f us (%.2fx)", call, call / bareReplace),
            fmt("bare replace %.1f us", bareReplace), "<= 1.5x"});
    addRow({std::string("port call with trace, ") + label,
            fmt("median %.1f us (%.2fx)", tracedCall, tracedCall / (bareReplace + bareAppend)),
            fmt("bare replace + append %.1f us", bareReplace + bareAppend), "<= 1.5x"});
    ::unlink(board.c_str());
    ::unlink(trace.c_str());
}

// --- A ppdev call against the bare device write -------------------------------
// The device stand-in's write is a real but trivial system call: an ioctl on
// an open /dev/null (refused by the kernel, so it does nothing). The floor is
// that same ioctl, bare.
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
        addRow({std::string("ppdev call, device stand-in") + (traced ? ", with trace" : ""),
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
    auto relayBoard = std::make_shared<standin::RelayBoard>();
    fenwix::DeviceOps usbStandIn{
        [](const char*, int flags) { return ::open("/dev/null", flags); },
        [relayBoard](int, unsigned long request, void* arg) {
            // Only the library's own thread calls it, one transfer at a time.
            auto* bytes = static_cast<unsigned char*>(arg);
            if (_IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0)))
                return std::snprintf(static_cast<char*>(arg), _IOC_SIZE(request), "USBRelay8");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (_IOC_NR(request) == _IOC_NR(HIDIOCGFEATURE(0)))
                relayBoard->answer(bytes);
            else
                relayBoard->command(bytes);
            return int(standin::RelayBoard::ReportSize);
        },
        [](int fd) { return ::close(fd); },
    };
    // The caller's cost on a board whose transfers the library's thread makes.
    auto queued = [&](const char* what, fenwix::Config config, const fenwix::DeviceOps& ops) {
        config.virtualBoard = false;
        config.boardPath =
            QDir(folder).filePath(QStringLiteral("bench-queued-board")).toStdString();
        fenwix::Port port(config, ops, fenwix::Reporter{});
        auto call = [&port](int i) { port.out(static_cast<std::int16_t>(i & 0xFF)); };
        call(0);
        port.flush(); // opened
        const CallFigures f = timeCalls(calls, call);
        addRow({what,
                fmt("median %.2f us, p99 %.2f us", f.median, f.p99) +
                    fmt(", %.0f over 1 ms", double(f.overOneMs)),
                fmt("bare ioctl median %.2f us, p99 %.2f us", floor.median, floor.p99),
                "median <= floor + 5 us, none over 1 ms"});
        ::unlink(config.boardPath.c_str());
    };
    fenwix::Config hid;
    hid.hid = true;
    hid.device = "/dev/hidraw-bench";
    queued("USB relay board call, stand-in (1 ms a transfer)", hid, usbStandIn);

    // A GPIO chip on USB: setting or reading the lines takes a millisecond.
    auto pins = std::make_shared<std::uint64_t>(0);
    fenwix::DeviceOps gpioStandIn{
        [](const char*, int flags) { return ::open("/dev/null", flags); },
        [pins](int, unsigned long request, void* arg) {
            if (request == GPIO_GET_CHIPINFO_IOCTL) {
                auto* info = static_cast<gpiochip_info*>(arg);
                std::snprintf(info->label, sizeof info->label, "bench_gpio");
                info->lines = 8;
            } else if (request == GPIO_V2_GET_LINE_IOCTL) {
                static_cast<gpio_v2_line_request*>(arg)->fd = ::open("/dev/null", O_RDONLY);
            } else {
                auto* values = static_cast<gpio_v2_line_values*>(arg);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (request == GPIO_V2_LINE_SET_VALUES_IOCTL)
                    *pins = (*pins & ~values->mask) | (values->bits & values->mask);
                else
                    values->bits = *pins & values->mask;
            }
            return 0;
        },
        [](int fd) { return ::close(fd); },
    };
    fenwix::Config gpio;
    gpio.gpio = true;
    gpio.device = "gpio:/dev/gpiochip-bench";
    queued("GPIO board call, stand-in (1 ms a transfer)", gpio, gpioStandIn);

    // An FTDI board: a byte on bulk OUT, then the pins read back, each a
    // millisecond.
    struct FtdiStandIn final : fenwix::FtdiLink {
        std::uint8_t pins = 0;
        int list(std::vector<fenwix::FtdiChip>& chips, std::string&) override
        {
            chips.push_back({"FT245R USB FIFO", "BENCH", 1, 2, 0});
            return 0;
        }
        int open(const fenwix::FtdiChip&, std::string&) override { return 0; }
        int write(std::uint8_t byte, std::string&) override
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            pins = byte;
            return 0;
        }
        int readPins(std::uint8_t& byte, std::string&) override
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            byte = pins;
            return 0;
        }
        void close() override {}
    };
    fenwix::Config ftdi;
    ftdi.ftdi = true;
    ftdi.device = "ftdi";
    ftdi.ftdiLink = [] { return std::make_unique<FtdiStandIn>(); };
    queued("FTDI board call, stand-in (1 ms a transfer)", ftdi, {});
    ::close(nullFd);
}

} // namespace bench
