// Pull access: whole-block copies of the latest parsed record and of the raw
// sentence set being collected, on the caller's thread. The copies are made
// under recordLock, which the reader thread holds for every write to either
// block, so a copy is never a mix of two states. Safe from callbacks (mngLock
// is taken before recordLock there, the permitted order).
#include "common/log.h"
#include "common/mutex_guard.h"
#include "common/result_codes.h"
#include "manager/gps_manager.h"

namespace {

[[nodiscard]] bool isStarted() noexcept {
    return vyr::mng::manager().mngState.load(std::memory_order_acquire) ==
           vyr::mng::MngState::Start;
}

}  // namespace

extern "C" {

uint32_t VYR_GPSPARSER_GetData(GpsMsgPacket* msgPacket) {
    if (msgPacket == nullptr) {
        VYR_LOG_ERR("pointer[%s] is NULL\n", "msgPacket");
        return vyr::kMinusOne;
    }
    if (!isStarted()) {
        VYR_LOG_ERR("gps mng has not start!\n");
        return VYR_GPS_E_NOT_STARTED;
    }
    vyr::mng::GpsManager& mng = vyr::mng::manager();
    vyr::MutexGuard lock(mng.recordLock);
    *msgPacket = mng.msgPacket;
    return vyr::kOk;
}

uint32_t VYR_GPSPARSER_ReadNmea(GpsRawData* gpsRawData) {
    if (gpsRawData == nullptr) {
        VYR_LOG_ERR("pointer[%s] is NULL\n", "gpsRawData");
        return vyr::kMinusOne;
    }
    if (!isStarted()) {
        VYR_LOG_ERR("gps mng has not start!\n");
        return VYR_GPS_E_NOT_STARTED;
    }
    vyr::mng::GpsManager& mng = vyr::mng::manager();
    vyr::MutexGuard lock(mng.recordLock);
    *gpsRawData = mng.gpsRawData;
    return vyr::kOk;
}

}  // extern "C"
