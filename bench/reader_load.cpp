// Load of the reader thread at the receiver's real rate: a capture is written
// into a pseudo-terminal at 9600 baud (960 bytes a second), a line with its
// line end a write, while the library reads the slave at the build-time
// device path. Reports the CPU time the reader thread used per second of
// input (from CLOCK_THREAD_CPUTIME_ID read inside the NMEA callback, on the
// reader thread) and the latency from writing a line to the NMEA callback for
// that sentence (median and 99th percentile).
//
// With "bare", the library is left out: a thread of this program makes the
// reader's select and read on the slave, and nothing else, and reads the same
// clocks after every read that gave bytes. Its CPU time is what waking up for
// a line costs on this machine, the part no reader of a line can avoid.
//
//   vyr_reader_load CAPTURE SECONDS [bare]
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/select.h>
#include <termios.h>
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

std::atomic<bool> gBareRuns{true};

// The reader's wait and read (select up to 500 ms, then one read of up to 256
// bytes), with no framing, lock or callbacks.
void* bareReader(void* slavePath) {
    const int fd = open(static_cast<const char*>(slavePath), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror("bare reader");
        return nullptr;
    }
    termios attributes{};
    tcgetattr(fd, &attributes);
    cfmakeraw(&attributes);
    tcsetattr(fd, TCSANOW, &attributes);
    unsigned char bytes[256];
    while (gBareRuns) {
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(fd, &readSet);
        timeval timeout{0, 500000};
        if (select(fd + 1, &readSet, nullptr, nullptr, &timeout) > 0 &&
            read(fd, bytes, sizeof bytes) > 0) {
            onSentence(nullptr, 0, nullptr);
        }
    }
    close(fd);
    return nullptr;
}

void sleepUntil(double t) {
    const double d = t - now(CLOCK_MONOTONIC);
    if (d > 0) usleep(static_cast<useconds_t>(d * 1e6));
}

}  // namespace

int main(int argc, char** argv) {
    const bool bare = argc == 4 && std::strcmp(argv[3], "bare") == 0;
    if (argc != 3 && !bare) {
        std::fprintf(stderr, "usage: %s CAPTURE SECONDS [bare]\n", argv[0]);
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
    pthread_t bareThread{};
    if (bare) {
        if (pthread_create(&bareThread, nullptr, bareReader, const_cast<char*>(VYR_DEVICE_PATH)) !=
            0) {
            return 1;
        }
    } else if (VYR_GPSPARSER_Init() != 0 || VYR_GPSPARSER_Start() != 0) {
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
    if (bare) {
        gBareRuns = false;
        pthread_join(bareThread, nullptr);
    } else {
        VYR_GPSPARSER_Stop();
        VYR_GPSPARSER_Deinit();
    }
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
