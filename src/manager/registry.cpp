// Callback registry: two slots per kind (parsed data, NMEA sentences), filled
// and emptied by application threads, read by the reader thread when it calls
// the callbacks. Every access to a slot is made under mngLock, including the
// duplicate test and the slot choice, so two racing registrations can never
// pick the same slot.
//
// Callbacks run with mngLock held, and the lock is not recursive. A registry
// operation called from inside a callback therefore runs under the lock its
// thread already holds: it answers a registration already present and an
// unregistration of a descriptor not present as anywhere else, and refuses,
// with VYR_GPS_E_IN_CALLBACK and an error line, what would store or clear a
// slot while the callbacks are being walked.
#include "manager/registry.h"

#include "common/log.h"
#include "common/mutex_guard.h"
#include "common/result_codes.h"
#include "manager/gps_manager.h"

namespace vyr::mng {

namespace {

using Slots = GpsCallbackReg[2];

// Set while this thread runs callbacks with mngLock held.
constinit thread_local bool tInCallbacks = false;

class CallbackScope {
public:
    CallbackScope() noexcept { tInCallbacks = true; }
    ~CallbackScope() { tInCallbacks = false; }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};

// mngLock for a registry operation: taken here, unless this thread already
// holds it because the operation was called from one of its callbacks.
class SlotLock {
public:
    SlotLock() noexcept : taken_(!tInCallbacks) {
        if (taken_) {
            pthread_mutex_lock(&manager().mngLock);
        }
    }
    ~SlotLock() {
        if (taken_) {
            pthread_mutex_unlock(&manager().mngLock);
        }
    }
    SlotLock(const SlotLock&) = delete;
    SlotLock& operator=(const SlotLock&) = delete;

private:
    const bool taken_;
};

// A slot would change inside a callback: refused, so that the walk over the
// slots in progress never sees a slot change under it.
[[nodiscard]] Result refuseInCallback(const char* operation) noexcept {
    VYR_LOG_ERR_IN(operation, "cannot change a slot from inside a callback\n");
    return VYR_GPS_E_IN_CALLBACK;
}

constexpr bool sameRegistration(const GpsCallbackReg& slot, const GpsCallbackReg& reg) noexcept {
    return slot.callback == reg.callback && slot.userData == reg.userData;
}

// A registration already present is a success that changes nothing; otherwise
// the second slot is taken if empty, then the first.
Result registerIn(Slots& slots, const GpsCallbackReg* reg, const char* operation) noexcept {
    if (reg == nullptr) {
        return VYR_GPS_E_NOT_REGISTERED;
    }
    const SlotLock lock;
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
    if (tInCallbacks) {
        return refuseInCallback(operation);
    }
    *target = *reg;
    return kOk;
}

// Clears the first slot equal to the descriptor. Holding mngLock means no
// invocation is in progress, so the callback is never called once this returns.
Result unregisterFrom(Slots& slots, const GpsCallbackReg* reg, const char* operation) noexcept {
    if (reg == nullptr) {
        return VYR_GPS_E_NOT_REGISTERED;
    }
    const SlotLock lock;
    for (GpsCallbackReg& slot : slots) {
        if (sameRegistration(slot, *reg)) {
            if (tInCallbacks) {
                return refuseInCallback(operation);
            }
            slot = GpsCallbackReg{};
            return kOk;
        }
    }
    return VYR_GPS_E_NOT_REGISTERED;
}

}  // namespace

void invokeDataCallbacksLocked(const GpsMsgPacket* record) noexcept {
    const CallbackScope scope;
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
    return vyr::mng::registerIn(manager().dataCbk, reg, "VYR_GPSPARSER_Register");
}

uint32_t VYR_GPSPARSER_UnRegister(const GpsCallbackReg* reg) {
    return vyr::mng::unregisterFrom(manager().dataCbk, reg, "VYR_GPSPARSER_UnRegister");
}

uint32_t VYR_GPSPARSER_RegNMEARecvCbk(const GpsCallbackReg* reg) {
    return vyr::mng::registerIn(manager().nmeaCbk, reg, "VYR_GPSPARSER_RegNMEARecvCbk");
}

uint32_t VYR_GPSPARSER_UnregNMEARecvCbk(const GpsCallbackReg* reg) {
    return vyr::mng::unregisterFrom(manager().nmeaCbk, reg, "VYR_GPSPARSER_UnregNMEARecvCbk");
}

// Reader thread: runs the NMEA callbacks, first slot then second, with mngLock
// held for both so that an unregistration waits for a call in progress.
int32_t GPS_Notify_Nmea_Packet(const char* sentence, uint32_t len) {
    vyr::mng::GpsManager& mng = manager();
    vyr::MutexGuard lock(mng.mngLock);
    const vyr::mng::CallbackScope scope;
    for (const GpsCallbackReg& slot : mng.nmeaCbk) {
        if (slot.callback != nullptr) {
            reinterpret_cast<GpsNmeaCallback>(slot.callback)(sentence, len, slot.userData);
        }
    }
    return 0;
}

}  // extern "C"
