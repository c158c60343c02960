#include "library.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "tool_error.h"

namespace vyr::tool {

CallbackPair::CallbackPair(GpsDataCallback onFix, GpsNmeaCallback onSentence, void* self)
    : data_{VYR_GPS_CALLBACK(onFix), self}, nmea_{VYR_GPS_CALLBACK(onSentence), self} {}

CallbackPair::~CallbackPair() {
    if (attached_) {
        detach();
    }
}

void CallbackPair::attach() {
    attached_ = true;
    if ((data_.callback != nullptr && VYR_GPSPARSER_Register(&data_) != VYR_GPS_OK) ||
        VYR_GPSPARSER_RegNMEARecvCbk(&nmea_) != VYR_GPS_OK) {
        throw ToolError("cannot register the callbacks with the library");
    }
}

void CallbackPair::detach() {
    attached_ = false;
    if (data_.callback != nullptr) {
        VYR_GPSPARSER_UnRegister(&data_);
    }
    VYR_GPSPARSER_UnregNMEARecvCbk(&nmea_);
}

std::unique_ptr<EpochCopy> copyEpoch(const GpsMsgPacket& packet) {
    auto epoch = std::make_unique<EpochCopy>();
    epoch->packet = packet;
    if (VYR_GPSPARSER_ReadNmea(&epoch->raw) != VYR_GPS_OK) {
        std::memset(&epoch->raw, 0, sizeof epoch->raw);
    }
    return epoch;
}

std::string hex(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, code);
    return text;
}

bool deviceInUse(const std::string& device) {
    // Never read, never configured, never the controlling terminal: a look at
    // whether a holder's exclusive mode refuses the open or its lock is taken.
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == EBUSY;
    }
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

std::string initFailure(const std::string& device, uint32_t code) {
    if (deviceInUse(device)) {
        return device + " is in use by another program";
    }
    std::string reason = "the library could not open it";
    if (access(device.c_str(), F_OK) != 0 || access(device.c_str(), R_OK | W_OK) != 0) {
        reason = std::strerror(errno);
    }
    return "cannot open the GPS device " + device + ": " + reason +
           " (VYR_GPSPARSER_Init returned " + hex(code) + ")";
}

void startLibrary(const std::string& device) {
    const uint32_t init = VYR_GPSPARSER_Init();
    if (init != VYR_GPS_OK) {
        throw ToolError(initFailure(device, init));
    }
    const uint32_t start = VYR_GPSPARSER_Start();
    if (start != VYR_GPS_OK) {
        VYR_GPSPARSER_Deinit();
        throw ToolError("cannot start the reader thread (VYR_GPSPARSER_Start returned " +
                        hex(start) + ")");
    }
}

void stopLibrary() {
    const uint32_t stop = VYR_GPSPARSER_Stop();
    const uint32_t deinit = VYR_GPSPARSER_Deinit();
    if (stop != VYR_GPS_OK || deinit != VYR_GPS_OK) {
        throw ToolError("shutting the library down failed (Stop " + hex(stop) + ", Deinit " +
                        hex(deinit) + ")");
    }
}

}  // namespace vyr::tool
