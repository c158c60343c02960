// Callback registry: two slots per kind (parsed data, NMEA sentences), filled
// and emptied by application threads, read by the reader thread when it calls
// the callbacks. Every access to a slot is made under mngLock, including the
// duplicate test and the slot choice, so two racing registrations can never
// pick the same slot. The registry logs nothing.
#include "manager/registry.h"

#include "common/mutex_guard.h"
#include "common/result_codes.h"
#include "manager/gps_manager.h"

namespace vyr::mng {

namespace {

using Slots = GpsCallbackReg[2];

constexpr bool sameRegistration(const GpsCallbackReg& slot, const GpsCallbackReg& reg) noexcept {
    return slot.callback == reg.callback && slot.userData == reg.userData;
}

// A registration already present is a success that changes nothing; otherwise
// the second slot is taken if empty, then the first.
Result registerIn(Slots& slots, const GpsCallbackReg* reg) noexcept {
    if (reg == nullptr) {
        return VYR_GPS_E_NOT_REGISTERED;
    }
    MutexGuard lock(manager().mngLock);
    if (sameRegistration(slots[0], *reg) || sameRegistration(slots[1], *reg)) {
        return kOk;
    }
    GpsCallbackReg* target = nullptr;
    if (slots[1].callback == nullptr) {
        target = &slots[1];
    } else if (slots[0].callback == nullptr) {
        target = &slots[0];
    } else {
        return VYR_GPS_E_SLOTS_FULL;
    }
    *target = *reg;
    return kOk;
}

// Clears the first slot equal to the descriptor. Holding mngLock means no
// invocation is in progress, so the callback is never called once this returns.
Result unregisterFrom(Slots& slots, const GpsCallbackReg* reg) noexcept {
    if (reg == nullptr) {
        return VYR_GPS_E_NOT_REGISTERED;
    }
    MutexGuard lock(manager().mngLock);
    for (GpsCallbackReg& slot : slots) {
        if (sameRegistration(slot, *reg)) {
            slot = GpsCallbackReg{};
            return kOk;
        }
    }
    return VYR_GPS_E_NOT_REGISTERED;
}

}  // namespace

void invokeDataCallbacksLocked(const GpsMsgPacket* record) noexcept {
    for (const GpsCallbackReg& slot : manager().dataCbk) {
        if (slot.callback != nullptr) {
            reinterpret_cast<GpsDataCallback>(slot.callback)(record, slot.userData);
        }
    }
}

}  // namespace vyr::mng

using vyr::mng::manager;

extern "C" {

uint32_t VYR_GPSPARSER_Register(const GpsCallbackReg* reg) {
    return vyr::mng::registerIn(manager().dataCbk, reg);
}

uint32_t VYR_GPSPARSER_UnRegister(const GpsCallbackReg* reg) {
    return vyr::mng::unregisterFrom(manager().dataCbk, reg);
}

uint32_t VYR_GPSPARSER_RegNMEARecvCbk(const GpsCallbackReg* reg) {
    return vyr::mng::registerIn(manager().nmeaCbk, reg);
}

uint32_t VYR_GPSPARSER_UnregNMEARecvCbk(const GpsCallbackReg* reg) {
    return vyr::mng::unregisterFrom(manager().nmeaCbk, reg);
}

// Reader thread: runs the NMEA callbacks, first slot then second, with mngLock
// held for both so that an unregistration waits for a call in progress.
int32_t GPS_Notify_Nmea_Packet(const char* sentence, uint32_t len) {
    vyr::mng::GpsManager& mng = manager();
    vyr::MutexGuard lock(mng.mngLock);
    for (const GpsCallbackReg& slot : mng.nmeaCbk) {
        if (slot.callback != nullptr) {
            reinterpret_cast<GpsNmeaCallback>(slot.callback)(sentence, len, slot.userData);
        }
    }
    return 0;
}

}  // extern "C"
