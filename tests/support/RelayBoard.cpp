// SPDX-License-Identifier: MIT
#include "tests/support/RelayBoard.h"

#include <algorithm>
#include <cstring>

namespace standin
{

void RelayBoard::answer(unsigned char* report) const
{
    std::memset(report, 0, ReportSize);
    std::memcpy(report + 1, m_serial.data(), std::min<std::size_t>(m_serial.size(), 5));
    report[8] = static_cast<unsigned char>(m_state);
}

std::string RelayBoard::command(const unsigned char* report)
{
    const unsigned code = report[1], relay = report[2];
    const unsigned all = (1u << m_relays) - 1;
    const bool known = relay >= 1 && relay <= static_cast<unsigned>(m_relays);
    unsigned next = m_state;
    std::string name;
    if (code == 0xFE) {
        next = all;
        name = "all on";
    } else if (code == 0xFC) {
        next = 0;
        name = "all off";
    } else if ((code == 0xFF || code == 0xFD) && known) {
        const unsigned bit = 1u << (relay - 1);
        next = code == 0xFF ? m_state | bit : m_state & ~bit;
        name = (code == 0xFF ? "on " : "off ") + std::to_string(relay);
    } else {
        return "ignored " + std::to_string(relay);
    }
    if (!stuck)
        m_state = next;
    return name;
}

} // namespace standin
