/* SPDX-License-Identifier: MIT */
/* Port output library: presents a byte on the data lines of the first
 * parallel port (or on the virtual board when there is none), and reads back
 * the byte the board holds. */
#ifndef FENWIX_H
#define FENWIX_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(FENWIX_BUILDING)
#define FENWIX_API __declspec(dllexport)
#else
#define FENWIX_API __declspec(dllimport)
#endif
#if !defined(_WIN64)
#define FENWIX_CALL __stdcall
#else
#define FENWIX_CALL
#endif
#else
#define FENWIX_API __attribute__((visibility("default")))
#define FENWIX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the low 8 bits of value to the data lines D0..D7. Never blocks for
 * long and never fails the caller: problems are reported on stderr and in the
 * board state file. Environment: FENWIX_LPT1, FENWIX_BOARD, FENWIX_TRACE. */
FENWIX_API void FENWIX_CALL FENWIX_OUT_LPT1(int16_t value);

/* The byte the board holds (0 to 255), read back from it: the data lines'
 * latch of a parallel port, which keeps the last byte written by any program
 * until power is lost, or the virtual board's file. -1 when it cannot be
 * known (no port, no permission, no board file yet). */
FENWIX_API int16_t FENWIX_CALL FENWIX_IN_LPT1(void);

/* Whether the board holds what was written, without waiting for the board:
 * returns the byte it was last found to hold (0 to 255), -1 while it cannot
 * be reached, does not hold what was written, or is not known yet, or -2
 * while writes are still on their way to a USB board (ask again soon).
 * message (size bytes, always NUL-terminated when size > 0) gets "ok",
 * "pending", or what is wrong and what to do. Each call also has the board looked at
 * again (a USB board on the library's own thread, seen by a later call), so
 * a board unplugged, switched by another program or back is noticed. The
 * program may say FENWIX_CHOSEN_WITH=OPTION when its OPTION set FENWIX_LPT1,
 * and the advice then names that option. */
FENWIX_API int16_t FENWIX_CALL FENWIX_STATUS_LPT1(char* message, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
