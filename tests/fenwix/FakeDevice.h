// SPDX-License-Identifier: MIT
#pragma once

// A parallel port that exists only in the test, and what the port library's
// tests share: the lines it reports and a ppdev configuration on the fake.
#include "fenwix/core/Port.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <linux/hidraw.h>
#include <linux/ppdev.h>
#include <map>
#include <mutex>
#include <QTemporaryDir>
#include <string>
#include <sys/ioctl.h>
#include <vector>

namespace fakeport
{

// Records the requests it is given and fails the ones it is told to.
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

    fenwix::DeviceOps ops()
    {
        return fenwix::DeviceOps{
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
                if (request == PPRDATA)
                    *static_cast<unsigned char*>(arg) = static_cast<unsigned char>(dataLines);
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
        case PPRDATA:
            return "rdata";
        default:
            return "other";
        }
    }
};

// A USB relay board behind hidraw that exists only in the test: answers the
// name, feature report 0 and the relay commands, recording the commands.
struct FakeRelayBoard {
    std::mutex mutex; // the library's own thread writes to it
    std::vector<std::string> commands;
    int relays = 8;
    unsigned state = 0;
    bool stuck = false;   // takes commands but switches nothing
    int failCommands = 0; // this many commands fail with ENODEV (unplugged)

    fenwix::DeviceOps ops()
    {
        return fenwix::DeviceOps{
            [](const char*, int) { return 43; },
            [this](int, unsigned long request, void* arg) {
                std::lock_guard lock(mutex);
                auto* bytes = static_cast<unsigned char*>(arg);
                if (_IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0)))
                    return std::snprintf(static_cast<char*>(arg), _IOC_SIZE(request), "USBRelay%d",
                                         relays);
                if (_IOC_NR(request) == _IOC_NR(HIDIOCGFEATURE(0))) {
                    std::memcpy(bytes + 1, "R8AAA", 5);
                    bytes[8] = static_cast<unsigned char>(state);
                    return 9;
                }
                if (_IOC_NR(request) != _IOC_NR(HIDIOCSFEATURE(0)))
                    return errno = ENOTTY, -1;
                if (failCommands > 0 && failCommands--)
                    return errno = ENODEV, -1;
                const unsigned bit = bytes[2] ? 1u << (bytes[2] - 1) : 0;
                const std::map<int, std::string> names{
                    {0xFF, "on "}, {0xFD, "off "}, {0xFE, "all on"}, {0xFC, "all off"}};
                commands.push_back(names.at(bytes[1]) +
                                   (bit ? std::to_string(bytes[2]) : std::string()));
                if (!stuck)
                    state = bytes[1] == 0xFE   ? (1u << relays) - 1
                            : bytes[1] == 0xFC ? 0
                            : bytes[1] == 0xFF ? state | bit
                                               : state & ~bit;
                return 9;
            },
            [](int) { return 0; },
        };
    }
};

// Claims the fake answers at once are always seen answered, however loaded
// the machine: the wait bounds only a claim that never comes.
inline constexpr std::chrono::milliseconds LongClaimWait{60000};

// The lines a port reports.
struct Lines {
    std::vector<std::string> lines;
    fenwix::Reporter reporter()
    {
        return [this](std::string_view l) { lines.emplace_back(l); };
    }
};

// A ppdev backend on a device that only the fake knows, its board file in tmp.
inline fenwix::Config ppdevConfig(const QTemporaryDir& tmp, const char* board)
{
    fenwix::Config c;
    c.virtualBoard = false;
    c.device = "/dev/parport9";
    c.boardPath = tmp.filePath(QString::fromLatin1(board)).toStdString();
    c.sharedClaimWait = LongClaimWait;
    return c;
}

} // namespace fakeport
