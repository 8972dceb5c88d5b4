// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/core/Advice.h"
#include "fenwix/core/Device.h"

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>

namespace fenwix
{

// A parallel port through the kernel's ppdev driver: opened and claimed at the
// first write, exclusively where the kernel allows it, shared beside the
// printer driver otherwise; opened afresh after a failed write.
class PpdevDevice final : public Device
{
  public:
    // sharedClaimWait: how long a write waits for a shared claim before it
    // goes on without it.
    PpdevDevice(std::string path, DeviceOps ops, Reports& reports,
                std::chrono::milliseconds sharedClaimWait);
    ~PpdevDevice() override;
    PpdevDevice(const PpdevDevice&) = delete;
    PpdevDevice& operator=(const PpdevDevice&) = delete;

    int write(std::uint8_t byte) override;
    // The data register: in the forward direction, the latched output byte.
    int read() override;
    bool isOpen() const override { return m_fd >= 0; }
    const std::string& name() const override { return m_path; }
    std::string problem() const override { return m_lastProblem; }
    void forgetParentThreads() override;

  private:
    // Each returns 0 or an errno value.
    int open();
    int finishSharedClaim(std::chrono::milliseconds wait);
    int setUp(int fd);
    int openFd(); // a descriptor, or minus an errno value
    int fail(int fd, const char* step, int err);
    void close();

    std::string m_path;
    DeviceOps m_ops;
    Reports& m_reports;
    std::chrono::milliseconds m_sharedClaimWait;
    int m_fd = -1;
    std::string m_lastProblem;
    // A shared claim runs on a thread of its own: the kernel makes it wait for
    // as long as another driver uses the port.
    struct PendingClaim {
        int fd;
        std::future<int> result;
        std::thread thread;
    };
    std::optional<PendingClaim> m_pendingClaim;
};

} // namespace fenwix
