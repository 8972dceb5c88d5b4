/* SPDX-License-Identifier: MIT */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#ifdef FAKEPORT_WITHOUT_FUNCTION
__attribute__((visibility("default"))) void FENWIX_OTHER(int16_t value)
{
    (void)value;
}
#else
__attribute__((visibility("default"))) void FENWIX_OUT_LPT1(int16_t value)
{
    const char* path = getenv("FAKEPORT_LOG");
    FILE* log = path ? fopen(path, "a") : NULL;
    if (!log)
        return;
    fprintf(log, "%d\n", value);
    fclose(log);
}
#endif
