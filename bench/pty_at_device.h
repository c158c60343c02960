// A pseudo-terminal whose slave is linked at the build-time device path, for
// the load programs: they write the receiver's bytes into the master (or close
// it, as an unplugged receiver). SIGHUP is ignored: the library opens the
// slave without O_NOCTTY.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

namespace vyr::bench {

// The master's descriptor, or -1 after printing why there is none.
inline int openPtyAtDevicePath(const char* devicePath) {
    signal(SIGHUP, SIG_IGN);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    char slave[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, slave, sizeof slave) != 0) {
        std::perror("pseudo-terminal");
        return -1;
    }
    unlink(devicePath);
    if (symlink(slave, devicePath) != 0) {
        std::perror(devicePath);
        close(master);
        return -1;
    }
    return master;
}

}  // namespace vyr::bench
