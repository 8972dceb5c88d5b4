#pragma once

#include <array>
#include <functional>
#include <QString>
#include <QStringView>
#include <QTime>
#include <string_view>

// The time-of-day scheduler: sixteen daily switch times, compared twice a
// second with the local wall clock.
namespace automation
{

enum class Action { On, Off };

struct ScheduleEntry {
    std::string_view hourField;
    std::string_view minuteField;
    int channel;
    Action action;
};

// The order is the order of every tick: it decides which of two entries for
// one channel acts last.
inline constexpr std::array<ScheduleEntry, 16> ScheduleTable{{
    {"Text1", "Text2", 0, Action::On},
    {"Text3", "Text4", 0, Action::Off},
    {"Text5", "Text6", 1, Action::On},
    {"Text9", "Text10", 2, Action::On},
    {"Text13", "Text14", 3, Action::On},
    {"Text7", "Text8", 1, Action::Off},
    {"Text11", "Text12", 2, Action::Off},
    {"Text15", "Text16", 3, Action::Off},
    {"Text29", "Text30", 4, Action::On},
    {"Text25", "Text26", 5, Action::On},
    {"Text17", "Text18", 6, Action::On},
    {"Text21", "Text22", 7, Action::On},
    {"Text31", "Text32", 4, Action::Off},
    {"Text27", "Text28", 5, Action::Off},
    {"Text19", "Text20", 6, Action::Off},
    {"Text23", "Text24", 7, Action::Off},
}};

struct SchedulerSeams {
    // The current text of a field, by its name (Text1 .. Text32).
    std::function<QString(std::string_view field)> fieldText;
    // One reading of the local wall clock.
    std::function<QTime()> now;
    std::function<void(int channel)> switchOn;
    std::function<void(int channel)> switchOff;
};

// The local wall clock as the system's time zone and daylight-saving rules give it.
QTime LocalClock();

// True when text is value written in decimal digits, without sign, spaces or
// leading zeros. The text is compared, never converted.
bool MatchesDecimal(QStringView text, int value);

// Handler of Timer1: every entry whose hour and minute fields hold the current
// hour and minute calls its switch routine, in table order.
void SchedulerTick(const SchedulerSeams& seams);

// The switch routine of one entry: reads both fields again and switches the
// channel unless either field has become empty.
void RunScheduleEntry(const ScheduleEntry& entry, const SchedulerSeams& seams);

} // namespace automation
