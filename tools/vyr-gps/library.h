// Bringing the library's manager up and down on the device path, with
// failures explained in the device's own terms.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vyr_gpsparser.h"

namespace vyr::tool {

// What the data callback copies on the reader thread: the parsed record and
// the raw sentences of the same epoch (still in the set while callbacks run).
struct EpochCopy {
    GpsMsgPacket packet;
    GpsRawData raw;
};

// A data and an NMEA callback (or the NMEA callback alone: onFix null),
// registered with the library while attached and unregistered on detach or
// destruction.
class CallbackPair {
public:
    CallbackPair(GpsDataCallback onFix, GpsNmeaCallback onSentence, void* self);
    ~CallbackPair();
    CallbackPair(const CallbackPair&) = delete;
    CallbackPair& operator=(const CallbackPair&) = delete;

    // ToolError when the library refuses a registration.
    void attach();
    void detach();
    [[nodiscard]] bool attached() const { return attached_; }

private:
    GpsCallbackReg data_;
    GpsCallbackReg nmea_;
    bool attached_ = false;
};

// In a data callback (reader thread, manager lock held): the record and the
// raw set of its epoch, which the library clears only after the callbacks.
[[nodiscard]] std::unique_ptr<EpochCopy> copyEpoch(const GpsMsgPacket& packet);

[[nodiscard]] std::string hex(uint32_t code);

// Init and Start. ToolError when either fails (nothing is left running).
void startLibrary(const std::string& device);
// True when another program holds the device: the library takes it
// exclusively (exclusive mode and an advisory lock) while it is open.
[[nodiscard]] bool deviceInUse(const std::string& device);
// Why Init failed, in the device's own terms (in use by another program,
// missing, not accessible).
[[nodiscard]] std::string initFailure(const std::string& device, uint32_t code);
// Stop and Deinit. ToolError when either fails.
void stopLibrary();

}  // namespace vyr::tool
