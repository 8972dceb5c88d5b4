// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace fenwix
{

// The few system calls the devices make, so tests can stand in for a real
// parallel port or USB board.
struct DeviceOps {
    std::function<int(const char* path, int flags)> open;
    std::function<int(int fd, unsigned long request, void* arg)> ioctl;
    std::function<int(int fd)> close;
};
DeviceOps systemDeviceOps();

// A board that the library drives. Each kind (the parallel port through
// ppdev, a USB relay board through hidraw ...) is one implementation; the
// port, the board file and the trace do not depend on which.
class Device
{
  public:
    virtual ~Device() = default;

    // Presents byte on the board's outputs. Returns 0 or an errno value; the
    // device has said what went wrong and tries again at the next write.
    virtual int write(std::uint8_t byte) = 0;
    // The byte the board holds (0 to 255), or -1 when it cannot be read.
    virtual int read() = 0;
    virtual bool isOpen() const = 0;
    // How the board file's status names the device.
    virtual const std::string& name() const = 0;
    // The problem said last, with what to do; empty while the device works.
    virtual std::string problem() const = 0;
    // The byte the board was last found to hold, without asking it; -1 when
    // not known.
    virtual int held() const { return -1; }
    // In a child after fork(): the parent's other threads are not there.
    virtual void forgetParentThreads() {}
};

} // namespace fenwix
