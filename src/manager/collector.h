// Epoch collector and dispatch. Reader thread only.
#pragma once

#include <cstdint>

namespace vyr::mng {

// Stores one framed or simulated sentence into the raw set of the epoch being
// collected and dispatches the epoch when it is complete. Always 0. The
// caller holds mngLock, under which the data callbacks of a completed epoch
// run (the reader holds it for the whole sentence: handOnSentence).
int32_t GPSPARSER_MsgProc(const char* sentence) noexcept;

// Parses the complete raw set into the record, runs the data callbacks and
// clears the set. Always 0. Called only by GPSPARSER_MsgProc, mngLock held.
int32_t GPS_DataProc() noexcept;

}  // namespace vyr::mng
