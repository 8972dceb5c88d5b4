// SPDX-License-Identifier: MIT
#include "automation/Scheduler.h"

namespace automation
{

bool MatchesDecimal(QStringView text, int value)
{
    if (value < 0)
        return false;
    char16_t digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value > 0);
    if (text.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        if (text[i].unicode() != digits[count - 1 - i])
            return false;
    }
    return true;
}

namespace
{

// The value a tick would match text with, if any: decimal digits without
// sign or leading zeros, at most last.
int matchedValue(QStringView text, int last)
{
    if (text.isEmpty() || text.size() > 2)
        return -1;
    bool number = false;
    const int value = text.toInt(&number);
    return number && value <= last && MatchesDecimal(text, value) ? value : -1;
}

} // namespace

int CatchUpByte(const std::function<QString(int field)>& fieldText, QTime now, int known)
{
    constexpr int MinutesPerDay = 24 * 60;
    int byte = known < 0 ? 0 : known & 0xFF;
    if (!now.isValid())
        return byte;
    const int current = now.hour() * 60 + now.minute();
    std::array<int, channels::ChannelCount> latest; // the age of the acting entry
    latest.fill(MinutesPerDay);
    for (const ScheduleEntry& entry : ScheduleTable) {
        const int hour = matchedValue(fieldText(entry.hourField()), 23);
        const int minute = matchedValue(fieldText(entry.minuteField()), 59);
        if (hour < 0 || minute < 0)
            continue;
        const int age = (current - (hour * 60 + minute) + MinutesPerDay) % MinutesPerDay;
        int& best = latest[static_cast<std::size_t>(entry.channel)];
        if (age > best) // equal: the later entry in table order acts last
            continue;
        best = age;
        const int mask = channels::ChannelTable[static_cast<std::size_t>(entry.channel)].mask;
        byte = entry.action == Action::On ? (byte | mask) : (byte & ~mask);
    }
    return byte;
}

void RunScheduleEntry(const ScheduleEntry& entry, const SchedulerSeams& seams)
{
    if (seams.fieldText(entry.hourField()).isEmpty() ||
        seams.fieldText(entry.minuteField()).isEmpty())
        return;
    if (entry.action == Action::On)
        seams.switchOn(entry.channel);
    else
        seams.switchOff(entry.channel);
}

void SchedulerTick(const SchedulerSeams& seams)
{
    // Hour and minute from one reading: two readings could straddle the top
    // of an hour (07:59 then 08:00 reads as 08:59) and fire an hour early.
    const QTime now = seams.now();
    if (!now.isValid())
        return;
    const int hour = now.hour();
    const int minute = now.minute();
    for (const ScheduleEntry& entry : ScheduleTable) {
        const bool hourMatches = MatchesDecimal(seams.fieldText(entry.hourField()), hour);
        const bool minuteMatches = MatchesDecimal(seams.fieldText(entry.minuteField()), minute);
        if (hourMatches && minuteMatches)
            RunScheduleEntry(entry, seams);
    }
}

} // namespace automation
