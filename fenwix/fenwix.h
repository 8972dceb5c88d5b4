/* SPDX-License-Identifier: MIT */
/* Port output library: one function that presents a byte on the data lines of
 * the first parallel port (or on the virtual board when there is none). */
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

#ifdef __cplusplus
}
#endif

#endif
