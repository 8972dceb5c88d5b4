// SPDX-License-Identifier: MIT
#pragma once

#include "channels/ChannelTable.h"

#include <chrono>
#include <cstdint>
#include <functional>

// The loop test: lights the channels one at a time, 1, 2, 4 ... 128, pass
// after pass, until a stop request is seen at the end of a pass.
namespace automation
{

inline constexpr std::int16_t StepValues[] = {1, 2, 4, 8, 16, 32, 64, 128};

struct LoopSeams {
    std::int16_t& outputState;
    std::int16_t& stopRequested;
    channels::PortWrite write;
    std::function<void()> pause;           // StepPause
    std::function<void()> refreshCaptions; // RefreshCaptions
    std::function<void()> processEvents;   // runs pending clicks, ticks and repaints
    // True once the window is closing: the run then ends at once, so no step
    // value reaches the port after the exit command's 0.
    std::function<bool()> abandoned;
};

// Handler of LOOP. Returns when a pass ends with a stop request, or at once
// when the window goes away.
void LoopTest(const LoopSeams& seams);

// Handler of STOP: asks any run to end after its pass and clears the output
// byte without writing the port.
void StopLoop(std::int16_t& outputState, std::int16_t& stopRequested);

// The blocking pause between a step's port write and its captions: a fixed
// amount of counting, storing into scratch, then a wait until at least
// minimum has passed since the start. It processes no events.
void StepPause(volatile std::int32_t& scratch, std::chrono::milliseconds minimum);

inline constexpr std::chrono::milliseconds DefaultStepPause{250};

} // namespace automation
