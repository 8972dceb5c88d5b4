// SPDX-License-Identifier: MIT
#pragma once

#include "channels/ChannelTable.h"

#include <array>
#include <functional>
#include <QString>
#include <QStringView>
#include <QTime>

// The time-of-day scheduler: sixteen daily switch times, compared twice a
// second with the local wall clock.
namespace automation
{

// The schedule fields are addressed by number: N is the field TextN.
inline constexpr int FieldCount = 32;
// The longest field text taken from other programs and kept in a schedule
// file: far beyond any time, and small enough that a file of 32 such fields
// is always read back.
inline constexpr int FieldTextLimit = 4096;

// Which field holds what for one channel.
enum class Role { OnHour, OnMinute, OffHour, OffMinute };

// One row per channel, indexed by channel number, columns by Role. The only
// place that says which field belongs to which channel: the scheduler, the
// window's layout, the tests, the fuzzer and the benchmark all read it.
inline constexpr std::array<std::array<int, 4>, channels::ChannelCount> ScheduleFields{{
    {1, 2, 3, 4},
    {5, 6, 7, 8},
    {9, 10, 11, 12},
    {13, 14, 15, 16},
    {29, 30, 31, 32},
    {25, 26, 27, 28},
    {17, 18, 19, 20},
    {21, 22, 23, 24},
}};

constexpr int fieldOf(int channel, Role role)
{
    return ScheduleFields[static_cast<std::size_t>(channel)][static_cast<std::size_t>(role)];
}

enum class Action { On, Off };

struct ScheduleEntry {
    int channel;
    Action action;
    constexpr int hourField() const
    {
        return fieldOf(channel, action == Action::On ? Role::OnHour : Role::OffHour);
    }
    constexpr int minuteField() const
    {
        return fieldOf(channel, action == Action::On ? Role::OnMinute : Role::OffMinute);
    }
};

// The order is the order of every tick: it decides which of two entries for
// one channel acts last.
inline constexpr std::array<ScheduleEntry, 16> ScheduleTable{{
    {0, Action::On},
    {0, Action::Off},
    {1, Action::On},
    {2, Action::On},
    {3, Action::On},
    {1, Action::Off},
    {2, Action::Off},
    {3, Action::Off},
    {4, Action::On},
    {5, Action::On},
    {6, Action::On},
    {7, Action::On},
    {4, Action::Off},
    {5, Action::Off},
    {6, Action::Off},
    {7, Action::Off},
}};

struct SchedulerSeams {
    // The current text of field number 1 .. FieldCount.
    std::function<QString(int field)> fieldText;
    // One reading of the local wall clock.
    std::function<QTime()> now;
    std::function<void(int channel)> switchOn;
    std::function<void(int channel)> switchOff;
};

// True when text is value written in decimal digits, without sign, spaces or
// leading zeros. The text is compared, never converted.
bool MatchesDecimal(QStringView text, int value);

// Handler of Timer1: every entry whose hour and minute fields hold the current
// hour and minute calls its switch routine, in table order.
void SchedulerTick(const SchedulerSeams& seams);

// The switch routine of one entry: reads both fields again and switches the
// channel unless either field has become empty.
void RunScheduleEntry(const ScheduleEntry& entry, const SchedulerSeams& seams);

// The byte a day of ticks would have left, decided at once: each channel takes
// the action of its most recent entry at or before now's minute, looking back
// across midnight into yesterday (the same minute counts as now); entries of
// one minute act in table order, as in a tick. A field pair that no tick
// would match is no entry. Channels without an entry keep their bit of known
// (-1: unknown, so off). Times are compared on the wall clock, so after a
// clock change an entry in a skipped hour has passed and one in a repeated
// hour is as recent as its wall-clock time.
int CatchUpByte(const std::function<QString(int field)>& fieldText, QTime now, int known);

} // namespace automation
