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
