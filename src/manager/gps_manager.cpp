// File-scope state of the one GPS manager. Constant-initialised: it is valid
// (device closed, locks unlocked, slots empty) before any code of the library
// runs, and needs no constructor at load. The members whose initial value is
// not zero (the descriptor, the error-checking lock) are kept beside the
// manager, so that the manager itself stays in .bss.
#include "manager/gps_manager.h"

namespace vyr::mng {

namespace {
constinit GpsManager gManager{};
// The serial port's descriptor, -1 while the port is closed.
constinit int32_t gpsDevFd = -1;
constinit pthread_mutex_t gMngLock = PTHREAD_ERRORCHECK_MUTEX_INITIALIZER_NP;
}  // namespace

GpsManager& manager() noexcept {
    return gManager;
}

pthread_mutex_t& mngLock() noexcept {
    return gMngLock;
}

int32_t deviceFd() noexcept {
    return gpsDevFd;
}

void setDeviceFd(int32_t fd) noexcept {
    gpsDevFd = fd;
}

}  // namespace vyr::mng
