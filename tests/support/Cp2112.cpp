// SPDX-License-Identifier: MIT
#include "tests/support/Cp2112.h"

#include <cstring>

namespace standin
{

std::size_t Cp2112::answer(unsigned char id, unsigned char* report) const
{
    std::memset(report, 0, LongestReport);
    report[0] = id;
    switch (id) {
    case 0x02:
        std::memcpy(report, m_config, sizeof m_config);
        return sizeof m_config;
    case 0x03:
        report[1] = static_cast<unsigned char>(m_pins);
        return 2;
    case 0x05:
        report[1] = 0x0C; // part number
        report[2] = 0x02; // version
        return 3;
    case 0x06:
        std::memcpy(report, m_smbus, sizeof m_smbus);
        return sizeof m_smbus;
    case 0x20:
        report[1] = 0xFF; // nothing locked
        return 2;
    default:
        return 0;
    }
}

bool Cp2112::set(const unsigned char* report, std::size_t size)
{
    if (size >= sizeof m_config && report[0] == 0x02) {
        std::memcpy(m_config, report, sizeof m_config);
        return false;
    }
    if (size >= sizeof m_smbus && report[0] == 0x06) {
        std::memcpy(m_smbus, report, sizeof m_smbus);
        return false;
    }
    if (size >= 3 && report[0] == 0x04) {
        const unsigned mask = report[2] & ~refused & 0xFFu;
        m_pins = (m_pins & ~mask) | (report[1] & mask);
        return true;
    }
    return false;
}

} // namespace standin
