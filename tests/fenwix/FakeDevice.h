// SPDX-License-Identifier: MIT
#pragma once

// A parallel port that exists only in the test, and what the port library's
// tests share: the lines it reports and a ppdev configuration on the fake.
#include "fenwix/core/Port.h"
#include "tests/support/RelayBoard.h"

#include <atomic>
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
#include <thread>
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

// A USB relay board behind hidraw that exists only in the test: the shared
// stand-in's protocol on the device operations, recording the commands.
// Unplugged, its node is gone and a descriptor opened before fails, as the
// kernel's do; plugged back, only a new open reaches it.
struct FakeRelayBoard {
    std::mutex mutex; // the library's own thread writes to it
    standin::RelayBoard board;
    std::vector<std::string> commands;
    bool shortReport = false; // answers feature report 0 with too few bytes
    bool plugged = true;
    int plugs = 0; // descriptors of an earlier plug-in are dead

    void unplug()
    {
        std::lock_guard lock(mutex);
        plugged = false;
        ++plugs;
        board.powerOff();
    }
    void plugBack()
    {
        std::lock_guard lock(mutex);
        plugged = true;
    }

    // Each transfer takes this long (a USB transfer), outside the lock, so
    // two at once would overlap and be seen.
    std::chrono::milliseconds transfer{0};
    std::atomic<int> inside = 0;
    std::atomic<bool> overlapped = false;

    fenwix::DeviceOps ops()
    {
        return fenwix::DeviceOps{
            [this](const char*, int) {
                std::lock_guard lock(mutex);
                return plugged ? 100 + plugs : (errno = ENOENT, -1);
            },
            [this](int fd, unsigned long request, void* arg) {
                if (inside++ != 0)
                    overlapped = true;
                std::this_thread::sleep_for(transfer);
                const int answer = transferred(fd, request, static_cast<unsigned char*>(arg));
                const int err = errno;
                --inside;
                errno = err;
                return answer;
            },
            [](int) { return 0; },
        };
    }

  private:
    int transferred(int fd, unsigned long request, unsigned char* bytes)
    {
        std::lock_guard lock(mutex);
        if (!plugged || fd != 100 + plugs)
            return errno = ENODEV, -1;
        if (_IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0)))
            return std::snprintf(reinterpret_cast<char*>(bytes), _IOC_SIZE(request), "USBRelay%d",
                                 board.relayCount());
        if (_IOC_NR(request) == _IOC_NR(HIDIOCGFEATURE(0))) {
            board.answer(bytes);
            return shortReport ? 5 : int(standin::RelayBoard::ReportSize);
        }
        if (_IOC_NR(request) != _IOC_NR(HIDIOCSFEATURE(0)))
            return errno = ENOTTY, -1;
        commands.push_back(board.command(bytes));
        return int(standin::RelayBoard::ReportSize);
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
