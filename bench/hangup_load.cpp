// The reader on a hung-up line: a pseudo-terminal at the build-time device
// path whose master is closed once the reader runs, as when a USB receiver is
// unplugged. Every read then gives end of file. Reports the reader thread's
// CPU time per second of wall time over the measured span and how long Stop
// takes afterwards.
//
//   vyr_hangup_load SECONDS
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "manager/gps_manager.h"
#include "pty_at_device.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"

namespace {

double seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    const double span = argc == 2 ? std::atof(argv[1]) : 0.0;
    if (span <= 0) {
        std::fprintf(stderr, "usage: %s SECONDS\n", argv[0]);
        return 2;
    }
    VyrPlatform_SetPrintLevel(1);
    const int master = vyr::bench::openPtyAtDevicePath(VYR_DEVICE_PATH);
    if (master < 0) {
        return 1;
    }
    if (VYR_GPSPARSER_Init() != 0 || VYR_GPSPARSER_Start() != 0) {
        std::fprintf(stderr, "the manager did not start\n");
        return 1;
    }
    clockid_t readerClock;
    if (pthread_getcpuclockid(vyr::mng::manager().readThread, &readerClock) != 0) {
        std::fprintf(stderr, "no CPU clock for the reader thread\n");
        return 1;
    }
    usleep(200000);
    close(master);  // the hang-up
    usleep(200000);

    const double wallStart = seconds(CLOCK_MONOTONIC);
    const double cpuStart = seconds(readerClock);
    usleep(static_cast<useconds_t>(span * 1e6));
    const double cpu = seconds(readerClock) - cpuStart;
    const double wall = seconds(CLOCK_MONOTONIC) - wallStart;

    const double stopStart = seconds(CLOCK_MONOTONIC);
    const uint32_t stop = VYR_GPSPARSER_Stop();
    const double stopSeconds = seconds(CLOCK_MONOTONIC) - stopStart;
    VYR_GPSPARSER_Deinit();
    unlink(VYR_DEVICE_PATH);

    std::printf("hangup_wall_s %.2f\n", wall);
    std::printf("hangup_reader_cpu_ms_per_s %.3f\n", cpu * 1000.0 / wall);
    std::printf("hangup_stop_ms %.1f\n", stopSeconds * 1000.0);
    return stop == 0 ? 0 : 1;
}
