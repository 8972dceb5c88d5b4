#pragma once

#include "fenwix/core/BoardFile.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

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
    // With a device, how long the board file's writer gathers calls before
    // it writes the latest state (the file lags a call by at most about this
    // plus one replace).
    std::chrono::milliseconds boardCoalesce{10};
    // Told the contents of each board file written (tests follow the states).
    std::function<void(const std::string& contents)> boardWritten;
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
    // Returns once the board file shows the last call.
    void flush();
    // In a child after fork(), called by the library's fork handler: the
    // writer thread stayed behind in the parent.
    void forgetParentThreads();

  private:
    // Each returns 0 or an errno value.
    int openDevice();
    int finishSharedClaim(std::chrono::milliseconds wait);
    int setUpDevice(int fd);
    int openFd(); // a descriptor, or minus an errno value
    int fail(int fd, const char* step, int err);
    void closeDevice();
    void writeDevice(std::uint8_t byte);
    static int traceLine(std::int16_t value, char* line, std::size_t size);
    void appendTrace(const char* data, std::size_t size);
    void setDeviceStatus(int err);
    void writeVirtualBoard(std::int16_t value);
    void queueBoard(std::int16_t value, const char* line, std::size_t lineSize);
    void boardWriterLoop();
    // Each returns empty or the problem that keeps the board file unwritten.
    std::string boardPlaceProblem();
    std::string holdVirtualBoard();
    std::string replaceBoard(int value, const std::string& status);
    void reportBoard(std::string problem);
    void traceProblem(const std::string& what);
    // Prints each distinct problem of one source once, until it is cured.
    void reportOnce(std::string& last, const std::string& line);

    std::mutex m_mutex;       // one call at a time
    std::mutex m_reportMutex; // one report at a time, from callers or the writer
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
    int m_statusError = -1; // what m_status was built for: 0 ok, else errno; -1 none yet
    std::string m_lastDeviceProblem;
    std::string m_lastTraceProblem;
    std::string m_lastBoardProblem;

    // With a device the caller only writes the port; the board file is kept
    // by a thread of its own, which writes the latest state at most every
    // boardCoalesce and every status change in order.
    std::mutex m_boardMutex;
    std::condition_variable m_boardWake; // the writer waits for work
    std::condition_variable m_boardDone; // flush() waits for the writer
    std::unique_ptr<std::thread> m_boardWriter;
    bool m_boardDirty = false;   // a state waits to be written
    bool m_boardWriting = false; // the writer is writing one
    bool m_boardStop = false;
    bool m_boardUrgent = false; // the trace buffer fills: write without gathering
    int m_pendingValue = 0;
    std::string m_pendingStatus;
    // States whose status a later call changed before they were written.
    std::vector<std::pair<int, std::string>> m_statusChanges;
    // Trace lines of calls not yet written, in call order; m_traceOut is the
    // writer's own copy. Sized once, at construction.
    static constexpr std::size_t TraceBufferSize = 128 * 1024;
    std::vector<char> m_traceBuffer;
    std::size_t m_traceUsed = 0;
    std::vector<char> m_traceOut;
};

// The line that explains a device failure and what the user can do about it.
std::string deviceProblem(const std::string& device, const char* step, int err);

} // namespace fenwix
