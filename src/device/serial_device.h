// Serial GPS device: the receiver's port, opened as a raw 9600-baud 8N1 line
// and read one byte at a time. The descriptor is the manager's (deviceFd).
//
// Threads: open and release run on the controlling thread while no reader
// runs; the read runs only on the reader thread. No lock of its own.
#pragma once

#include <cstdint>

#include "vyr_gpsparser.h"

namespace vyr::dev {

// Timeout of one read pass of the reader thread.
inline constexpr int32_t kReadTimeoutMs = 500;

// 0 when open (also when it already was), -1 when the port cannot be opened.
[[nodiscard]] int32_t VyrGpsDevInit() noexcept;

// 0 when released or not open, else the platform's non-zero result.
[[nodiscard]] int32_t VyrGpsDevDeInit() noexcept;

// Waits up to timeoutMs for one byte. 0 with readLen 0 or 1, or one of the
// VYR_GPS_E_DEV_* codes.
[[nodiscard]] uint32_t GpsGetRawData(GpsDevData* gpsData, int32_t timeoutMs) noexcept;

}  // namespace vyr::dev
