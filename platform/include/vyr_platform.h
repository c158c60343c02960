/*
 * vyr_platform.h - host stand-in for the device maker's platform services.
 *
 * Implements the services of vyr_platform_services.h for development hosts,
 * tests and tools, plus a few controls of its own. Never linked into the GPS
 * library itself.
 */
#ifndef VYR_PLATFORM_H
#define VYR_PLATFORM_H

#include <stdint.h>

#include "vyr_platform_services.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Default print level: errors and warnings. */
#define VYR_PLATFORM_DEFAULT_PRINT_LEVEL 2

/* Sets the level Vyr_Comm_GetPrintLev returns. Any thread. */
void VyrPlatform_SetPrintLevel(int32_t level);

/* Makes VYR_UART_DeInit fail: while result is non-zero it returns result and
 * leaves the descriptor open; 0 restores the normal release (close, 0). */
void VyrPlatform_SetUartDeInitResult(int32_t result);

/* Number of VYR_UART_DeInit calls so far and the descriptor of the last one. */
int32_t VyrPlatform_UartDeInitCalls(void);
int32_t VyrPlatform_UartDeInitLastFd(void);

#ifdef __cplusplus
}
#endif

#endif /* VYR_PLATFORM_H */
