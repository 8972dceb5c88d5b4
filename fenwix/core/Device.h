// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace fenwix
{

// A board that the library drives. Each kind (today the parallel port through
// ppdev) is one implementation; the port, the board file and the trace do
// not depend on which.
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
    // In a child after fork(): the parent's other threads are not there.
    virtual void forgetParentThreads() {}
};

} // namespace fenwix
