// SPDX-License-Identifier: MIT
#include "fenwix/fenwix.h"

#include "fenwix/core/Port.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

fenwix::Port& port()
{
    // Chosen once, at the first call, and kept until the process ends.
    static fenwix::Port instance(fenwix::configFromEnvironment(&std::getenv),
                                 fenwix::systemDeviceOps(), fenwix::stderrReporter());
    return instance;
}

} // namespace

extern "C" FENWIX_API void FENWIX_CALL FENWIX_OUT_LPT1(int16_t value)
{
    port().out(value);
}

extern "C" FENWIX_API int16_t FENWIX_CALL FENWIX_IN_LPT1(void)
{
    return static_cast<int16_t>(port().in());
}

extern "C" FENWIX_API int16_t FENWIX_CALL FENWIX_STATUS_LPT1(char* message, int32_t size)
{
    std::string problem;
    const int held = port().status(problem);
    const std::string text = held == fenwix::DeviceQueue::Pending ? "pending"
                             : problem.empty()                     ? "ok"
                                                                   : problem;
    if (message && size > 0) {
        const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(message, text.data(), n);
        message[n] = '\0';
    }
    return static_cast<int16_t>(held);
}
