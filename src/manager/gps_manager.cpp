// File-scope state of the one GPS manager. Constant-initialised: it is valid
// (device closed, locks unlocked, slots empty) before any code of the library
// runs, and needs no constructor at load.
#include "manager/gps_manager.h"

namespace vyr::mng {

namespace {
constinit GpsManager gManager{};
// The serial port's descriptor, -1 while the port is closed.
constinit int32_t gpsDevFd = -1;
}  // namespace

GpsManager& manager() noexcept {
    return gManager;
}

int32_t deviceFd() noexcept {
    return gpsDevFd;
}

void setDeviceFd(int32_t fd) noexcept {
    gpsDevFd = fd;
}

}  // namespace vyr::mng
