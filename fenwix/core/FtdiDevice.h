// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/core/Advice.h"
#include "fenwix/core/Device.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fenwix
{

// One FTDI chip plugged in (USB id 0403:6001 or 0403:6015), as listed.
struct FtdiChip {
    std::string product; // "FT245R USB FIFO", "FT232R USB UART" ...
    std::string serial;
    int bus = 0, address = 0;
    int problem = 0; // an errno value when its strings could not be read
};

// The USB steps an FTDI board takes; libftdiLink() makes them through
// libftdi, and the benchmark stands in for a board. Each returns 0 or an
// errno value, with what went wrong in words.
class FtdiLink
{
  public:
    virtual ~FtdiLink() = default;
    // Every chip plugged in now (a fresh look each time: a board plugged in
    // later is seen without hot-plug messages).
    virtual int list(std::vector<FtdiChip>& chips, std::string& why) = 0;
    // Opens chip in asynchronous bit-bang mode, every pin an output.
    virtual int open(const FtdiChip& chip, std::string& why) = 0;
    virtual int write(std::uint8_t pins, std::string& why) = 0;
    virtual int readPins(std::uint8_t& pins, std::string& why) = 0;
    virtual void close() = 0;
};
std::unique_ptr<FtdiLink> libftdiLink();

// Whether FENWIX_LPT1's value names an FTDI bit-bang board: "ftdi" or "ftdi:...".
bool namesFtdiBoard(const std::string& choice);

// A relay board on an FTDI chip's eight data pins in bit-bang mode (FT245R
// boards, some FT232R ones). choice: "ftdi" (the one FT245R plugged in; a
// serial cable is never switched unless named), "ftdi:SERIAL", each with
// ":active-low". USB transfers take milliseconds: the port calls this from
// its own thread.
class FtdiDevice final : public Device
{
  public:
    FtdiDevice(const std::string& choice, std::unique_ptr<FtdiLink> link, Reports& reports);
    ~FtdiDevice() override;
    FtdiDevice(const FtdiDevice&) = delete;
    FtdiDevice& operator=(const FtdiDevice&) = delete;

    // One byte on the pins, then the pins read back: a board that holds
    // anything else is an error.
    int write(std::uint8_t byte) override;
    int read() override;
    bool isOpen() const override { return m_open; }
    // "ftdi:SERIAL" once a board is open, the choice before.
    const std::string& name() const override { return m_name; }
    std::string problem() const override { return m_lastProblem; }
    int held() const override { return m_open ? m_held : -1; }

  private:
    int open();
    int readBack(int& byte, std::string& why);
    int fail(const std::string& line, int err);
    void close();

    std::string m_serial; // empty: the one FT245R
    bool m_activeLow = false;
    std::string m_choiceProblem;
    std::unique_ptr<FtdiLink> m_link;
    Reports& m_reports;
    std::string m_name;
    bool m_open = false;
    int m_held = 0;
    bool m_disagrees = false;
    std::string m_lastProblem;
};

} // namespace fenwix
