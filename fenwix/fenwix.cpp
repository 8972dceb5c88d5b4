// SPDX-License-Identifier: MIT
#include "fenwix/fenwix.h"

#include "fenwix/core/Port.h"

#include <cstdlib>

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
