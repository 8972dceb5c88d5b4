// SPDX-License-Identifier: MIT
// Input: byte 0 the hour, byte 1 the minute (out-of-range values included, to
// exercise an invalid clock), byte 2 the starting output byte, then up to 32
// field texts separated by 0xFF, as UTF-8, in field-number order. Checks the
// tick's port writes against the shared model and MatchesDecimal against the
// number's text.
#include "tests/shared/SchedulerHarness.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const int hour = data[0] % 26; // 24 and 25: not a valid time
    const int minute = data[1] % 62;
    std::string texts[automation::FieldCount + 1];
    std::size_t field = 1;
    for (std::size_t i = 3; i < size && field <= automation::FieldCount; ++i) {
        if (data[i] == 0xFF)
            ++field;
        else
            texts[field] += static_cast<char>(data[i]);
    }
    schedtest::Harness h;
    for (std::size_t i = 1; i <= automation::FieldCount; ++i)
        h.fields[i] = QString::fromUtf8(texts[i].data(), static_cast<qsizetype>(texts[i].size()));

    for (int value : {hour, minute}) {
        for (std::size_t i = 1; i <= automation::FieldCount; ++i) {
            if (automation::MatchesDecimal(h.fields[i], value) !=
                (h.fields[i] == QString::number(value)))
                std::abort();
        }
    }

    h.outputState = data[2];
    const QTime now(hour, minute);
    h.at(now);
    h.tick();

    // Invalid UTF-8 becomes replacement characters, which never match.
    std::vector<int> expected;
    const int model = schedtest::modelTick(data[2], h.fields, now, expected);
    if (h.writes != expected || int(h.outputState) != model)
        std::abort();
    return 0;
}
