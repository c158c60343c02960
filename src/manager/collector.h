// Epoch collector and dispatch. Reader thread only.
#pragma once

#include <cstdint>

namespace vyr::mng {

// Stores one framed or simulated sentence into the raw set of the epoch being
// collected and dispatches the epoch when it is complete. Always 0.
int32_t GPSPARSER_MsgProc(const char* sentence) noexcept;

// Parses the complete raw set into the record, runs the data callbacks under
// mngLock and clears the set. Always 0. Called only by GPSPARSER_MsgProc.
int32_t GPS_DataProc() noexcept;

}  // namespace vyr::mng
