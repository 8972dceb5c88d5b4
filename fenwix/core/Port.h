#pragma once

#include "fenwix/core/BoardFile.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace fenwix
{

// The few system calls the ppdev backend makes, so tests can stand in for a
// real parallel port.
struct DeviceOps {
    std::function<int(const char* path, int flags)> open;
    std::function<int(int fd, unsigned long request, void* arg)> ioctl;
    std::function<int(int fd)> close;
};
DeviceOps systemDeviceOps();

// Receives one complete diagnostic line (without the newline).
using Reporter = std::function<void(std::string_view line)>;
Reporter stderrReporter();

struct Config {
    bool virtualBoard = true;
    std::string device; // the ppdev device when not virtual
    std::string boardPath;
    std::string privateFolder; // created and checked before the board is written
    std::string tracePath;     // empty: no trace
    // How long a write waits for a shared claim before going on without it.
    std::chrono::milliseconds sharedClaimWait{50};
};

// FENWIX_LPT1: unset -> /dev/parport0 when it exists, else the virtual board;
// "virtual" -> the virtual board; anything else -> a ppdev device path.
Config configFromEnvironment(const Getenv& getenv,
                             const std::function<bool(const char*)>& exists = {});

class Port
{
  public:
    Port(Config config, DeviceOps ops, Reporter report);
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    void out(std::int16_t value);

    // The status line of the last call, as written to the board file.
    const std::string& status() const { return m_status; }
    bool deviceOpen() const { return m_fd >= 0; }

  private:
    // Each returns 0 or an errno value.
    int openDevice();
    int finishSharedClaim(std::chrono::milliseconds wait);
    int setUpDevice(int fd);
    int openFd(); // a descriptor, or minus an errno value
    int fail(int fd, const char* step, int err);
    void closeDevice();
    void writeDevice(std::uint8_t byte);
    void writeTrace(std::int16_t value);
    void writeBoard(std::int16_t value);
    // Each returns empty or the problem that keeps the board file unwritten.
    std::string boardPlaceProblem();
    std::string holdVirtualBoard();
    void traceProblem(const std::string& what);
    // Prints each distinct problem of one source once, until it is cured.
    void reportOnce(std::string& last, const std::string& line);

    std::mutex m_mutex;
    Config m_config;
    DeviceOps m_ops;
    Reporter m_report;
    int m_fd = -1;
    // A shared claim runs on a thread of its own: the kernel makes it wait for
    // as long as another driver uses the port.
    struct PendingClaim {
        int fd;
        std::future<int> result;
        std::thread thread;
    };
    std::optional<PendingClaim> m_pendingClaim;
    int m_traceFd = -1;
    int m_boardLockFd = -1;     // the virtual board's advisory lock, held until exit
    bool m_boardTidied = false; // dead writers' temporary copies removed
    std::string m_status;
    std::string m_lastDeviceProblem;
    std::string m_lastTraceProblem;
    std::string m_lastBoardProblem;
};

// The line that explains a device failure and what the user can do about it.
std::string deviceProblem(const std::string& device, const char* step, int err);

} // namespace fenwix
