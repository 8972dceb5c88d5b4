// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/core/Advice.h"
#include "fenwix/core/BoardFile.h"
#include "fenwix/core/BoardWriter.h"
#include "fenwix/core/Device.h"
#include "fenwix/core/DeviceQueue.h"
#include "fenwix/core/FtdiDevice.h"
#include "fenwix/core/GpioDevice.h"
#include "fenwix/core/HidDevice.h"
#include "fenwix/core/PpdevDevice.h"
#include "fenwix/core/TraceFile.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace fenwix
{

struct Config {
    bool virtualBoard = true;
    std::string device; // the ppdev device, or a USB relay board's name, when not virtual
    bool hid = false;   // device names a USB relay board
    HidFolders hidFolders;
    bool gpio = false; // device names a board on GPIO lines
    GpioFolders gpioFolders;
    bool ftdi = false; // device names an FTDI bit-bang board
    std::function<std::unique_ptr<FtdiLink>()> ftdiLink = libftdiLink;
    // How the user chose the board, for advice: FENWIX_LPT1, or a program's
    // option that sets it (FENWIX_CHOSEN_WITH, such as --board).
    std::string chosenWith;
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
// "virtual" -> the virtual board; "hid", "hid:SERIAL" or a hidraw node -> a USB
// relay board; "gpio:CHIP[:LINES][:active-low]" -> a board on GPIO lines;
// "ftdi[:SERIAL][:active-low]" -> an FTDI bit-bang board; anything else -> a
// ppdev device path.
Config configFromEnvironment(const Getenv& getenv,
                             const std::function<bool(const char*)>& exists = {});

// One output board as the library's callers see it: each call presents a
// byte on the device (or on the virtual board) and leaves it in the board
// file and the trace.
class Port
{
  public:
    Port(Config config, DeviceOps ops, Reporter report);
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    void out(std::int16_t value);
    // The byte the board holds, 0 to 255, or -1 when it cannot be known.
    int in();
    // The board as last confirmed, without waiting for a USB transfer: the
    // byte it holds, or -1 while it cannot be reached or does not hold what
    // was written, with problem set to why (empty: it works), or
    // DeviceQueue::Pending while writes are on their way. Looks at the board
    // again each time (a USB board on the library's thread, for a later
    // call).
    int status(std::string& problem);

    // The status line of the last call, as written to the board file (a
    // device written on the library's thread leaves it in the file only).
    const std::string& status() const { return m_status; }
    bool deviceOpen() const { return m_device && m_device->isOpen(); }
    // Returns once the board file shows the last call.
    void flush();
    // In a child after fork(), called by the library's fork handler.
    void forgetParentThreads();

  private:
    void setDeviceStatus(int err);
    void writeVirtualBoard(std::int16_t value);

    std::mutex m_mutex; // one call at a time
    Config m_config;
    // Destroyed in reverse: the writer stops (writing the last state) before
    // the device, the board file and the trace go.
    Reports m_reports;
    TraceFile m_trace;
    BoardFile m_board;
    std::unique_ptr<Device> m_device;      // none on the virtual board
    std::unique_ptr<BoardWriter> m_writer; // with a device
    std::unique_ptr<DeviceQueue> m_queue;  // with a device whose transfers take long
    std::string m_status;
    std::string m_virtualProblem; // why the virtual board was not written
    int m_statusError = -1;       // what m_status was built for: 0 ok, else errno; -1 none yet
};

} // namespace fenwix
