// SPDX-License-Identifier: MIT
#include "automation/LoopRoutine.h"

#include <thread>

namespace automation
{

void LoopTest(const LoopSeams& seams)
{
    seams.stopRequested = 0;
    for (;;) {
        for (const std::int16_t value : StepValues) {
            seams.outputState = value;
            seams.write(value);
            seams.pause();
            seams.refreshCaptions();
            seams.processEvents();
            if (seams.abandoned && seams.abandoned())
                return;
        }
        if (seams.stopRequested != 0)
            return;
    }
}

void StopLoop(std::int16_t& outputState, std::int16_t& stopRequested)
{
    stopRequested = -1;
    outputState = 0;
}

void StepPause(volatile std::int32_t& scratch, std::chrono::milliseconds minimum)
{
    const auto start = std::chrono::steady_clock::now();
    // The counters belong to the call and are never reset, so a loop that has
    // run to its end once is skipped in every later round around it.
    volatile std::int32_t outer = 0;
    volatile std::int32_t middle = 0;
    volatile std::int32_t inner = 0;
    while (outer <= 65000) {
        while (middle <= 60000) {
            while (inner <= 60000) {
                scratch = outer + middle + inner;
                inner = inner + 1;
            }
            middle = middle + 1;
        }
        outer = outer + 1;
    }
    // The counting alone is far too quick for relays to follow.
    std::this_thread::sleep_until(start + minimum);
}

} // namespace automation
