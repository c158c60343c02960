/*
 * Host stand-in for the maker's platform services: wall clock, running time in
 * tenths of a second since the first call, a settable print level, and a UART
 * release that closes the descriptor (and can be told to fail).
 */
#define _POSIX_C_SOURCE 200809L

#include "vyr_platform.h"

#include <stdatomic.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

static atomic_int printLevel = VYR_PLATFORM_DEFAULT_PRINT_LEVEL;
static atomic_int uartDeInitResult = 0;
static atomic_int uartDeInitCalls = 0;
static atomic_int uartDeInitLastFd = -1;

/* Monotonic start of the running-time count, in tenths of a second; set by
 * the first caller. */
static atomic_llong startTenths = -1;

static long long monotonicTenths(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 10 + now.tv_nsec / 100000000;
}

const char *VyrSysRtcTime(void)
{
    /* One buffer per thread: log lines are written from the reader thread and
     * from application threads at once. */
    static _Thread_local char text[64];
    struct timespec now;
    struct tm parts;
    clock_gettime(CLOCK_REALTIME, &now);
    localtime_r(&now.tv_sec, &parts);
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900,
             parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

int32_t VyrSysRnuningTime(void)
{
    long long now = monotonicTenths();
    long long expected = -1;
    atomic_compare_exchange_strong(&startTenths, &expected, now);
    return (int32_t)(now - atomic_load(&startTenths));
}

int32_t Vyr_Comm_GetPrintLev(void) { return atomic_load(&printLevel); }

void VyrPlatform_SetPrintLevel(int32_t level) { atomic_store(&printLevel, level); }

int32_t VYR_UART_DeInit(int32_t fd)
{
    atomic_fetch_add(&uartDeInitCalls, 1);
    atomic_store(&uartDeInitLastFd, fd);
    int32_t result = atomic_load(&uartDeInitResult);
    if (result != 0) {
        return result;
    }
    close(fd);
    return 0;
}

void VyrPlatform_SetUartDeInitResult(int32_t result) { atomic_store(&uartDeInitResult, result); }

int32_t VyrPlatform_UartDeInitCalls(void) { return atomic_load(&uartDeInitCalls); }

int32_t VyrPlatform_UartDeInitLastFd(void) { return atomic_load(&uartDeInitLastFd); }
