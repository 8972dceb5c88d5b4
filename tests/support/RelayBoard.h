// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>

// Stand-in boards for the tests, the benchmark and the vm check: each board
// family's protocol once, whatever carries it (device operations in a test,
// uhid in the guest).
namespace standin
{

// A USB HID relay board as its firmware answers feature reports: report 0
// holds the serial in bytes 0 to 4 and the relays in byte 7; a command sets
// one relay (0xFF on, 0xFD off, relay number 1 ..) or all (0xFE, 0xFC).
class RelayBoard
{
  public:
    static constexpr std::size_t ReportSize = 9; // the report number, then 8 bytes

    explicit RelayBoard(int relays = 8, std::string serial = "R8AAA")
        : m_relays(relays), m_serial(std::move(serial))
    {
    }

    // Fills report (ReportSize bytes) as a GET of feature report 0 does.
    void answer(unsigned char* report) const;
    // Acts on a SET feature report; returns the command as the tests name
    // it ("on 3", "off 1", "all on", "all off"), or "ignored N" for a relay
    // this board does not have.
    std::string command(const unsigned char* report);

    unsigned relays() const { return m_state; }
    int relayCount() const { return m_relays; }
    void setRelayCount(int relays) { m_relays = relays; }
    // Power lost (unplugged): every relay drops.
    void powerOff() { m_state = 0; }
    // Takes commands but switches nothing (a failing relay driver).
    bool stuck = false;

  private:
    int m_relays;
    std::string m_serial;
    unsigned m_state = 0;
};

} // namespace standin
