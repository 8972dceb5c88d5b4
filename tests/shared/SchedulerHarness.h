// SPDX-License-Identifier: MIT
#pragma once

// The scheduler's one test harness and one model, shared by the scheduler's
// tests, the panel's model test and the fuzzer.
#include "automation/Scheduler.h"
#include "channels/ChannelTable.h"

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

namespace schedtest
{

// Field texts by number; index 0 is unused.
using Fields = std::array<QString, automation::FieldCount + 1>;

// A window stand-in: fields by number, a clock that gives successive readings
// (the last one repeats), the real channel core and a port that records every
// write.
struct Harness {
    Fields fields;
    std::vector<QTime> clockReadings{QTime(0, 0)};
    std::size_t readings = 0;
    std::int16_t outputState = 0;
    std::vector<int> writes;
    std::map<int, std::string> captions;

    channels::ChannelContext ctx{outputState, [this](std::int16_t v) { writes.push_back(v); },
                                 [this](int ch, channels::ChannelState state) {
                                     captions[ch] = std::string(channels::captionOf(ch, state));
                                 }};

    automation::SchedulerSeams seams()
    {
        return automation::SchedulerSeams{
            [this](int number) { return fields[static_cast<std::size_t>(number)]; },
            [this] {
                const std::size_t i = std::min(readings, clockReadings.size() - 1);
                ++readings;
                return clockReadings[i];
            },
            [this](int ch) { channels::SwitchChannelOn(ctx, ch); },
            [this](int ch) { channels::SwitchChannelOff(ctx, ch); },
        };
    }
    void set(int channel, automation::Role role, const QString& text)
    {
        fields[static_cast<std::size_t>(automation::fieldOf(channel, role))] = text;
    }
    void at(QTime t)
    {
        clockReadings = {t};
        readings = 0;
    }
    void tick() { automation::SchedulerTick(seams()); }
};

// What one tick at time t must do, written apart from the product's matcher:
// each entry matches when its fields hold exactly the numbers' decimal text;
// a match switches its channel unless the channel is already in that state.
// Returns the new output byte and appends each port write to writes.
template <typename FieldText>
int modelTick(int state, const FieldText& field, QTime t, std::vector<int>& writes)
{
    if (!t.isValid())
        return state;
    const QString hour = QString::number(t.hour());
    const QString minute = QString::number(t.minute());
    for (const automation::ScheduleEntry& e : automation::ScheduleTable) {
        if (field(e.hourField()) != hour || field(e.minuteField()) != minute)
            continue;
        const int bit = 1 << e.channel;
        const bool on = e.action == automation::Action::On;
        if (bool(state & bit) == on)
            continue;
        state = on ? ((state & 0xFF) | bit) : ((state & 0xFF) & ~bit);
        writes.push_back(state);
    }
    return state;
}

inline int modelTick(int state, const Fields& fields, QTime t, std::vector<int>& writes)
{
    return modelTick(
        state, [&fields](int n) { return fields[static_cast<std::size_t>(n)]; }, t, writes);
}

// The catch-up decision reached the slow way: a day of ticks, one a minute up
// to and including t's minute, from state.
inline int modelCatchUp(int state, const Fields& fields, QTime t)
{
    std::vector<int> writes;
    for (int back = 24 * 60 - 1; back >= 0; --back)
        state = modelTick(state, fields, t.addSecs(-60 * back), writes);
    return state;
}

} // namespace schedtest
