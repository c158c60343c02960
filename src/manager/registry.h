// Callback registry: the manager-internal side (the exported register and
// notify operations are declared in the public header).
#pragma once

#include "vyr_gpsparser.h"

namespace vyr::mng {

// Calls the data callbacks, first slot then second, with the manager's record.
// The caller holds mngLock (GPS_DataProc).
void invokeDataCallbacksLocked(const GpsMsgPacket* record) noexcept;

// Calls the NMEA callbacks, first slot then second, with one sentence. The
// caller holds mngLock (the reader, GPS_Notify_Nmea_Packet).
void notifyNmeaLocked(const char* sentence, uint32_t len) noexcept;

}  // namespace vyr::mng
