// Result codes of the exported operations, as typed constants for the
// library's own code (the public header carries the same values as macros).
#pragma once

#include <cstdint>

#include "vyr_gpsparser.h"

namespace vyr {

using Result = uint32_t;

inline constexpr Result kOk = VYR_GPS_OK;
inline constexpr Result kMinusOne = VYR_GPS_E_MINUS_ONE;

static_assert(VYR_GPS_E_MINUS_ONE == static_cast<uint32_t>(-1), "-1 is all bits set");
static_assert((VYR_GPS_E_STOP_JOIN >> 16) == 0x8010u && (VYR_GPS_E_THREAD_CREATE >> 16) == 0x8020u,
              "Stop and the registry use 0x8010, every other operation 0x8020");

}  // namespace vyr
