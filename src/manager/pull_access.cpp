// Pull access: whole-block copies of the latest parsed record and of the raw
// sentence set being collected, on the caller's thread. The copies are made
// under recordLock, which the reader thread holds for every write to either
// block, so a copy is never a mix of two states. Safe from callbacks (mngLock
// is taken before recordLock there, the permitted order).
#include <cstddef>
#include <cstring>

#include "common/log.h"
#include "common/mutex_guard.h"
#include "common/result_codes.h"
#include "manager/gps_manager.h"

namespace {

// The two pull operations differ only in the block they copy; each logs under
// its own name. One routine for both, the block given by its size.
[[nodiscard]] uint32_t copyWhenStarted(const char* function, const char* parameter,
                                       void* destination, const void* source,
                                       size_t size) noexcept {
    if (destination == nullptr) {
        VYR_LOG_ERR_IN(function, "pointer[%s] is NULL\n", parameter);
        return vyr::kMinusOne;
    }
    vyr::mng::GpsManager& mng = vyr::mng::manager();
    if (mng.mngState.load(std::memory_order_acquire) != vyr::mng::MngState::Start) {
        VYR_LOG_ERR_IN(function, "gps mng has not start!\n");
        return VYR_GPS_E_NOT_STARTED;
    }
    vyr::MutexGuard lock(mng.recordLock);
    std::memcpy(destination, source, size);
    return vyr::kOk;
}

}  // namespace

extern "C" {

uint32_t VYR_GPSPARSER_GetData(GpsMsgPacket* msgPacket) {
    return copyWhenStarted(__func__, "msgPacket", msgPacket, &vyr::mng::manager().msgPacket,
                           sizeof(GpsMsgPacket));
}

uint32_t VYR_GPSPARSER_ReadNmea(GpsRawData* gpsRawData) {
    return copyWhenStarted(__func__, "gpsRawData", gpsRawData, &vyr::mng::manager().gpsRawData,
                           sizeof(GpsRawData));
}

}  // extern "C"
