/*
 * vyr_platform_services.h - the device maker's platform services that the GPS
 * library calls. On the device the maker's libraries provide them; on hosts the
 * stand-in library vyr_platform does (see vyr_platform.h).
 */
#ifndef VYR_PLATFORM_SERVICES_H
#define VYR_PLATFORM_SERVICES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Wall-clock time as a NUL-terminated text, printed unchanged in log lines. */
const char *VyrSysRtcTime(void);
/* Running-time count; a log line shows it divided by ten. */
int32_t VyrSysRnuningTime(void);
/* Current print level: 0 nothing, 1 errors, 2 +warnings, 3 +information, 4+ +debug. */
int32_t Vyr_Comm_GetPrintLev(void);
/* Releases the UART behind fd. 0: released, fd is no longer the caller's;
 * non-zero: not released, fd still open. */
int32_t VYR_UART_DeInit(int32_t fd);

#ifdef __cplusplus
}
#endif

#endif /* VYR_PLATFORM_SERVICES_H */
