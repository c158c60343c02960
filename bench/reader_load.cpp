// Load of the reader thread at the receiver's real rate: a capture is written
// into a pseudo-terminal at 9600 baud (960 bytes a second), a line with its
// line end a write, while the library reads the slave at the build-time
// device path. Reports the CPU time the reader thread used per second of
// input (from CLOCK_THREAD_CPUTIME_ID read inside the NMEA callback, on the
// reader thread) and the latency from writing a line to the NMEA callback for
// that sentence (median and 99th percentile).
//
//   vyr_reader_load CAPTURE SECONDS
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pty_at_device.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"

namespace {

constexpr double kBytesPerSecond = 960.0;

double now(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::atomic<double> gLineEndWritten{0.0};
std::vector<double> gLatencies;  // reader thread only, until the end
std::atomic<double> gFirstCpu{-1.0};
std::atomic<double> gLastCpu{0.0};
std::atomic<uint64_t> gSentences{0};

void onSentence(const char*, uint32_t, void*) {
    const double t = now(CLOCK_MONOTONIC);
    const double cpu = now(CLOCK_THREAD_CPUTIME_ID);
    if (gFirstCpu.load() < 0) gFirstCpu = cpu;
    gLastCpu = cpu;
    const double written = gLineEndWritten.exchange(0.0);
    if (written > 0 && gLatencies.size() < gLatencies.capacity()) {
        gLatencies.push_back(t - written);
    }
    ++gSentences;
}

void sleepUntil(double t) {
    const double d = t - now(CLOCK_MONOTONIC);
    if (d > 0) usleep(static_cast<useconds_t>(d * 1e6));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CAPTURE SECONDS\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1]);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    const double seconds = std::atof(argv[2]);
    if (lines.empty() || seconds <= 0) {
        std::fprintf(stderr, "no lines or no duration\n");
        return 2;
    }
    gLatencies.reserve(100000);
    VyrPlatform_SetPrintLevel(1);
    const int master = vyr::bench::openPtyAtDevicePath(VYR_DEVICE_PATH);
    if (master < 0) {
        return 1;
    }
    const GpsCallbackReg reg{VYR_GPS_CALLBACK(onSentence), nullptr};
    VYR_GPSPARSER_RegNMEARecvCbk(&reg);
    if (VYR_GPSPARSER_Init() != 0 || VYR_GPSPARSER_Start() != 0) {
        std::fprintf(stderr, "the manager did not start\n");
        return 1;
    }

    const double start = now(CLOCK_MONOTONIC);
    double t = start;
    size_t bytes = 0;
    for (size_t i = 0; now(CLOCK_MONOTONIC) - start < seconds; ++i) {
        const std::string& line = lines[i % lines.size()];
        // A line at a time, with its line end, once the line has had its
        // time on the wire: as a receiver that hands over a whole sentence
        // (USB) delivers it. The delivery of each write is timed.
        const std::string whole = line + "\r\n";
        t += static_cast<double>(whole.size()) / kBytesPerSecond;
        sleepUntil(t);
        gLineEndWritten = now(CLOCK_MONOTONIC);
        if (write(master, whole.data(), whole.size()) < 0) break;
        bytes += whole.size();
    }
    usleep(200000);
    const double wall = now(CLOCK_MONOTONIC) - start;
    VYR_GPSPARSER_Stop();
    VYR_GPSPARSER_Deinit();
    unlink(VYR_DEVICE_PATH);
    close(master);

    std::vector<double> lat = gLatencies;
    std::sort(lat.begin(), lat.end());
    const double cpu = gLastCpu.load() - gFirstCpu.load();
    const auto pct = [&](double p) {
        return lat.empty() ? 0.0
                           : lat[std::min(lat.size() - 1, static_cast<size_t>(p * lat.size()))];
    };
    std::printf("input_bytes %zu\nwall_s %.2f\nsentences %llu\n", bytes, wall,
                static_cast<unsigned long long>(gSentences.load()));
    std::printf("reader_cpu_ms_per_s %.3f\n", cpu * 1000.0 / wall);
    std::printf(
        "latency_samples %zu\nlatency_median_us %.1f\nlatency_p99_us %.1f\nlatency_max_us %.1f\n",
        lat.size(), pct(0.5) * 1e6, pct(0.99) * 1e6, lat.empty() ? 0.0 : lat.back() * 1e6);
    return 0;
}
