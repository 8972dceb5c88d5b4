// SPDX-License-Identifier: MIT
#include "bench/Measure.h"

#include "automation/PanelModel.h"
#include "automation/Scheduler.h"

namespace bench
{

// --- SchedulerTick over 32 plain string fields -------------------------------
void benchScheduler(int ticks)
{
    automation::PanelModel model([](std::int16_t) {});
    model.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(7, 30, 0)); });
    struct Case {
        const char* name;
        QString hour, minute;
    };
    for (const Case& c :
         {Case{"empty", "", ""}, Case{"filled", "8", "15"}, Case{"matching", "7", "30"}}) {
        for (const automation::ScheduleEntry& e : automation::ScheduleTable) {
            model.setFieldText(e.hourField(), c.hour);
            model.setFieldText(e.minuteField(), c.minute);
        }
        std::vector<double> samples;
        samples.reserve(static_cast<std::size_t>(ticks));
        for (int i = 0; i < ticks; ++i) {
            const auto t0 = Clock::now();
            model.SchedulerTick();
            samples.push_back(micros(Clock::now() - t0));
        }
        addRow({std::string("SchedulerTick, 32 fields ") + c.name,
                fmt("median %.2f us", percentile(samples, 0.5)), "500 ms tick", "< 20 us"});
    }
}

} // namespace bench
