// Input: byte 0 the hour, byte 1 the minute (out-of-range values included, to
// exercise an invalid clock), byte 2 the starting output byte, then up to 32
// field texts separated by 0xFF, as UTF-8. Checks the tick's port writes
// against a plain model and MatchesDecimal against the number's text.
#include "ChannelTable.h"
#include "Scheduler.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const int hour = data[0] % 26; // 24 and 25: not a valid time
    const int minute = data[1] % 62;
    std::array<std::string, 33> fields;
    std::size_t field = 1;
    for (std::size_t i = 3; i < size && field <= 32; ++i) {
        if (data[i] == 0xFF)
            ++field;
        else
            fields[field] += static_cast<char>(data[i]);
    }
    std::array<QString, 33> texts;
    for (std::size_t i = 1; i <= 32; ++i)
        texts[i] = QString::fromUtf8(fields[i].data(), static_cast<qsizetype>(fields[i].size()));

    for (int value : {hour, minute}) {
        for (std::size_t i = 1; i <= 32; ++i) {
            if (automation::MatchesDecimal(texts[i], value) != (texts[i] == QString::number(value)))
                std::abort();
        }
    }

    std::int16_t state = data[2];
    std::vector<int> writes;
    channels::ChannelContext ctx{state, [&writes](std::int16_t v) { writes.push_back(v); }, {}};
    const QTime now(hour, minute);
    automation::SchedulerSeams seams{
        [&texts](std::string_view name) {
            return texts[static_cast<std::size_t>(std::atoi(std::string(name.substr(4)).c_str()))];
        },
        [now] { return now; },
        [&ctx](int ch) { channels::SwitchChannelOn(ctx, ch); },
        [&ctx](int ch) { channels::SwitchChannelOff(ctx, ch); },
    };
    automation::SchedulerTick(seams);

    std::vector<int> expected;
    int model = data[2];
    if (now.isValid()) {
        const std::string h = std::to_string(hour), m = std::to_string(minute);
        for (const automation::ScheduleEntry& e : automation::ScheduleTable) {
            const std::size_t hi =
                static_cast<std::size_t>(std::atoi(std::string(e.hourField.substr(4)).c_str()));
            const std::size_t mi =
                static_cast<std::size_t>(std::atoi(std::string(e.minuteField.substr(4)).c_str()));
            // Invalid UTF-8 becomes replacement characters, which never match.
            if (texts[hi] != QString::fromStdString(h) || texts[mi] != QString::fromStdString(m))
                continue;
            const int bit = 1 << e.channel;
            const bool on = e.action == automation::Action::On;
            if (on == bool(model & bit))
                continue;
            model = on ? ((model & 0xFF) | bit) : ((model & 0xFF) & ~bit);
            expected.push_back(model);
        }
    }
    if (writes != expected || int(state) != model)
        std::abort();
    return 0;
}
