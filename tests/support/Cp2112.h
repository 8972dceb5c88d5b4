// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>

namespace standin
{

// A CP2112 USB-to-SMBus bridge's eight GPIO pins as its firmware answers
// feature reports, each starting with its report id: GPIO configuration
// 0x02 (direction bits, push-pull bits, special functions, clock), pin
// values 0x03, set pins 0x04 (values, mask), version 0x05, SMBus
// configuration 0x06 and the lock byte 0x20.
class Cp2112
{
  public:
    static constexpr std::size_t LongestReport = 64;

    // Fills report for a GET of report id; its size, 0 for a report it does not have.
    std::size_t answer(unsigned char id, unsigned char* report) const;
    // Acts on a SET of report; whether the pins may have changed.
    bool set(const unsigned char* report, std::size_t size);

    unsigned pins() const { return m_pins; }
    // Pins that do not switch (a failing output), whatever is sent.
    unsigned refused = 0;

  private:
    unsigned m_pins = 0;
    unsigned char m_config[5] = {0x02, 0x00, 0x00, 0x00, 0x00};
    // Report, clock (4), address, auto-send-read, write and read timeouts (2
    // each), SCL low timeout, retry time (2).
    unsigned char m_smbus[14] = {0x06, 0x00, 0x01, 0x86, 0xA0, 0x02, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
};

} // namespace standin
