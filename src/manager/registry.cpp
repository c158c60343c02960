// Callback registry: two slots per kind (parsed data, NMEA sentences), filled
// and emptied by application threads, read by the reader thread when it calls
// the callbacks. Every access to a slot is made under mngLock, including the
// duplicate test and the slot choice, so two racing registrations can never
// pick the same slot.
//
// Callbacks run with mngLock held. A registry operation called from inside a
// callback finds the lock held by its own thread (the lock says so rather than
// hang) and runs under that hold: it answers a registration already present
// and an unregistration of a descriptor not present as anywhere else, and
// refuses, with VYR_GPS_E_IN_CALLBACK and an error line, what would store or
// clear a slot while the callbacks are being walked.
#include "manager/registry.h"

#include <cerrno>

#include "common/log.h"
#include "common/result_codes.h"
#include "manager/gps_manager.h"

namespace vyr::mng {

namespace {

using Slots = GpsCallbackReg[2];

// mngLock, taken here, or already held by this thread because it is running
// callbacks: nothing else in the library calls out while holding it.
class CallbackLock {
public:
    CallbackLock() noexcept : held_(pthread_mutex_lock(&mngLock()) == EDEADLK) {}
    ~CallbackLock() {
        if (!held_) {
            pthread_mutex_unlock(&mngLock());
        }
    }
    CallbackLock(const CallbackLock&) = delete;
    CallbackLock& operator=(const CallbackLock&) = delete;

    [[nodiscard]] bool inCallback() const noexcept { return held_; }

private:
    const bool held_;
};

constexpr bool sameRegistration(const GpsCallbackReg& slot, const GpsCallbackReg& reg) noexcept {
    return slot.callback == reg.callback && slot.userData == reg.userData;
}

// Register (store): a registration already present is a success that changes
// nothing; otherwise the second slot is taken if empty, then the first.
// Unregister (clear): the first slot equal to the descriptor is emptied.
// Holding mngLock means no invocation is in progress, so an unregistered
// callback is never called once this returns.
Result changeSlots(Slots& slots, const GpsCallbackReg* reg, bool store,
                   const char* operation) noexcept {
    if (reg == nullptr) {
        return VYR_GPS_E_NOT_REGISTERED;
    }
    const CallbackLock lock;
    GpsCallbackReg* target = nullptr;
    if (store) {
        if (sameRegistration(slots[0], *reg) || sameRegistration(slots[1], *reg)) {
            return kOk;
        }
        target = slots[1].callback == nullptr   ? &slots[1]
                 : slots[0].callback == nullptr ? &slots[0]
                                                : nullptr;
        if (target == nullptr) {
            return VYR_GPS_E_SLOTS_FULL;
        }
    } else {
        target = sameRegistration(slots[0], *reg)   ? &slots[0]
                 : sameRegistration(slots[1], *reg) ? &slots[1]
                                                    : nullptr;
        if (target == nullptr) {
            return VYR_GPS_E_NOT_REGISTERED;
        }
    }
    if (lock.inCallback()) {
        // Refused, so that the walk over the slots in progress never sees a
        // slot change under it.
        VYR_LOG_ERR_IN(operation, "cannot change a slot from inside a callback\n");
        return VYR_GPS_E_IN_CALLBACK;
    }
    *target = store ? *reg : GpsCallbackReg{};
    return kOk;
}

}  // namespace

void invokeDataCallbacksLocked(const GpsMsgPacket* record) noexcept {
    for (const GpsCallbackReg& slot : manager().dataCbk) {
        if (slot.callback != nullptr) {
            reinterpret_cast<GpsDataCallback>(slot.callback)(record, slot.userData);
        }
    }
}

void notifyNmeaLocked(const char* sentence, uint32_t len) noexcept {
    for (const GpsCallbackReg& slot : manager().nmeaCbk) {
        if (slot.callback != nullptr) {
            reinterpret_cast<GpsNmeaCallback>(slot.callback)(sentence, len, slot.userData);
        }
    }
}

}  // namespace vyr::mng

using vyr::mng::changeSlots;
using vyr::mng::manager;

extern "C" {

uint32_t VYR_GPSPARSER_Register(const GpsCallbackReg* reg) {
    return changeSlots(manager().dataCbk, reg, true, "VYR_GPSPARSER_Register");
}

uint32_t VYR_GPSPARSER_UnRegister(const GpsCallbackReg* reg) {
    return changeSlots(manager().dataCbk, reg, false, "VYR_GPSPARSER_UnRegister");
}

uint32_t VYR_GPSPARSER_RegNMEARecvCbk(const GpsCallbackReg* reg) {
    return changeSlots(manager().nmeaCbk, reg, true, "VYR_GPSPARSER_RegNMEARecvCbk");
}

uint32_t VYR_GPSPARSER_UnregNMEARecvCbk(const GpsCallbackReg* reg) {
    return changeSlots(manager().nmeaCbk, reg, false, "VYR_GPSPARSER_UnregNMEARecvCbk");
}

// Runs the NMEA callbacks, first slot then second, with mngLock held for both
// so that an unregistration waits for a call in progress. Called again from
// inside one of them, it runs them under the hold it already has. The reader
// itself notifies under the hold it takes for the whole sentence.
int32_t GPS_Notify_Nmea_Packet(const char* sentence, uint32_t len) {
    const vyr::mng::CallbackLock lock;
    vyr::mng::notifyNmeaLocked(sentence, len);
    return 0;
}

}  // extern "C"
