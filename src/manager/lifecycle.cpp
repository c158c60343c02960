// Manager lifecycle: Init opens the serial device, Start runs the reader
// thread, Stop joins it, Deinit releases the device.
//
// Called from one controlling thread, never concurrently with each other and
// never from a callback; no lifecycle operation takes a lock. mngState is
// atomic because the pull operations read it on any thread.
//
// mngLock is one statically initialised lock that lives as long as the
// process: Init does not create it again and Deinit does not destroy it. The
// registry takes it in every state, possibly on another thread at the very
// moment of an Init or Deinit, and re-initialising or destroying a mutex that
// may be held is undefined.
#include <pthread.h>

#include "common/log.h"
#include "common/result_codes.h"
#include "device/serial_device.h"
#include "manager/gps_manager.h"
#include "manager/reader_thread.h"

namespace vyr::mng {

namespace {

[[nodiscard]] MngState state() noexcept {
    return manager().mngState.load();
}

void setState(MngState next) noexcept {
    manager().mngState.store(next);
}

}  // namespace

Result VYR_GPSPARSER_Init() noexcept {
    if (state() != MngState::Deinit) {
        VYR_LOG_ERR("gps mng has already init or start!\n");
        return VYR_GPS_E_STATE;
    }
    if (dev::VyrGpsDevInit() != 0) {
        VYR_LOG_ERR("hal gps init failed!\n");
        return VYR_GPS_E_INIT_DEVICE;
    }
    setState(MngState::Init);
    return kOk;
}

Result VYR_GPSPARSER_Start() noexcept {
    const MngState current = state();
    if (current == MngState::Deinit) {
        VYR_LOG_ERR("gps mng has not init!\n");
        return VYR_GPS_E_STATE;
    }
    if (current == MngState::Start) {
        VYR_LOG_ERR("gps mng has already start!\n");
        return kOk;
    }
    GpsManager& mng = manager();
    // Set before the thread exists, so that its first test passes.
    mng.runFlag.store(1);
    if (pthread_create(&mng.readThread, nullptr, MNG_GPS_MsgReadThread, nullptr) != 0) {
        mng.runFlag.store(0);  // no reader to run
        VYR_LOG_ERR("create MsgReadThread failed\n");
        return VYR_GPS_E_THREAD_CREATE;
    }
    VYR_LOG_INF("END !\n");
    setState(MngState::Start);
    return kOk;
}

Result VYR_GPSPARSER_Stop() noexcept {
    const MngState current = state();
    if (current == MngState::Deinit) {
        VYR_LOG_ERR("gps mng has not init!\n");
        return VYR_GPS_E_STOP_NOT_INIT;
    }
    if (current == MngState::Stop) {
        VYR_LOG_ERR("gps mng has already stop!\n");
        return kOk;
    }
    GpsManager& mng = manager();
    mng.runFlag.store(0);
    // Initialised but not started: there is no thread to join, and readThread
    // may name one joined long ago. Called on the reader thread (from a
    // callback): it cannot join itself; with runFlag cleared it ends after
    // this pass, and a later Stop from the controlling thread joins it.
    if (current == MngState::Init || onReaderThread() ||
        pthread_join(mng.readThread, nullptr) != 0) {
        VYR_LOG_ERR("join MsgReadThread failed\n");
        return VYR_GPS_E_STOP_JOIN;
    }
    setState(MngState::Stop);
    return kOk;
}

Result VYR_GPSPARSER_Deinit() noexcept {
    const MngState current = state();
    if (current == MngState::Start) {
        VYR_LOG_ERR("gps must stoped!\n");
        return kMinusOne;
    }
    if (current == MngState::Deinit) {
        VYR_LOG_ERR("gps mng has already deinit!\n");
        return kOk;
    }
    if (dev::VyrGpsDevDeInit() != 0) {
        VYR_LOG_ERR("hal gps deinit failed!\n");
        return VYR_GPS_E_DEINIT_DEVICE;
    }
    setState(MngState::Deinit);
    return kOk;
}

}  // namespace vyr::mng

extern "C" {

uint32_t VYR_GPSPARSER_Init(void) {
    return vyr::mng::VYR_GPSPARSER_Init();
}

uint32_t VYR_GPSPARSER_Start(void) {
    return vyr::mng::VYR_GPSPARSER_Start();
}

uint32_t VYR_GPSPARSER_Stop(void) {
    return vyr::mng::VYR_GPSPARSER_Stop();
}

uint32_t VYR_GPSPARSER_Deinit(void) {
    return vyr::mng::VYR_GPSPARSER_Deinit();
}

// Any thread, any state, no lock: set to 1 by the reader on the first input.
uint32_t VYR_GPSPARSER_GetGpsState(void) {
    return vyr::mng::manager().dataReceived.load(std::memory_order_relaxed);
}

}  // extern "C"
