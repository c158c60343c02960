// The two records the tool hands to a time daemon, laid out exactly as the
// daemon built for the same system reads them: chrony's SOCK refclock sample
// (a datagram) and the NTP shared-memory segment that chrony's SHM refclock
// and ntpd's shared-memory driver read. Both follow the platform's time_t:
// 32-bit ARM Debian 12 has a 32-bit time_t, 64-bit hosts a 64-bit one, and
// a daemon built for the system uses the system's struct timeval and time_t.
// Self-contained (libc headers only) so that a test cross-compiled for the
// device checks the same layout as the host.
#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace vyr::tool {

// chrony's "struct sock_sample".
struct SockSample {
    timeval tv;     // system clock at the sample
    double offset;  // reference time minus tv, seconds
    int pulse;      // 1: a pulse (only its phase within the second counts)
    int leap;       // 0: no leap second announced
    int pad;        // zero
    int magic;      // kSockMagic
};

inline constexpr int kSockMagic = 0x534f434b;  // "SOCK"

// The classic "struct shmTime" (mode 1: the count/valid handshake).
struct ShmTime {
    int mode;  // 1: the reader takes a sample only if count did not move while it copied
    int count;
    time_t clockTimeStampSec;  // reference time
    int clockTimeStampUSec;
    time_t receiveTimeStampSec;  // system clock at the reference time
    int receiveTimeStampUSec;
    int leap;
    int precision;  // log2 seconds
    int nsamples;
    int valid;
    unsigned clockTimeStampNSec;
    unsigned receiveTimeStampNSec;
    int dummy[8];
};

// System V key of unit N: "NTP0" + N.
inline constexpr int kShmKeyBase = 0x4E545030;

// The layouts in terms of the platform's own types: the daemon reads exactly
// these bytes, so nothing may pad or reorder them differently.
static_assert(offsetof(SockSample, tv) == 0, "SockSample: tv first");
static_assert(offsetof(SockSample, offset) ==
                  (sizeof(timeval) + alignof(double) - 1) / alignof(double) * alignof(double),
              "SockSample: offset follows tv at double alignment");
static_assert(offsetof(SockSample, pulse) == offsetof(SockSample, offset) + sizeof(double),
              "SockSample: pulse follows offset");
static_assert(offsetof(SockSample, leap) == offsetof(SockSample, pulse) + sizeof(int) &&
                  offsetof(SockSample, pad) == offsetof(SockSample, leap) + sizeof(int) &&
                  offsetof(SockSample, magic) == offsetof(SockSample, pad) + sizeof(int),
              "SockSample: four ints in a row");
static_assert(sizeof(SockSample) == offsetof(SockSample, magic) + sizeof(int),
              "SockSample: nothing after magic");
static_assert(sizeof(int) == 4 && sizeof(double) == 8, "SockSample: 32-bit int, IEEE double");

static_assert(offsetof(ShmTime, count) == 4 &&
                  offsetof(ShmTime, clockTimeStampSec) ==
                      (8 + alignof(time_t) - 1) / alignof(time_t) * alignof(time_t),
              "ShmTime: two ints, then time_t at its alignment");
static_assert(offsetof(ShmTime, dummy) + sizeof(int[8]) <= sizeof(ShmTime) &&
                  sizeof(ShmTime) % alignof(time_t) == 0,
              "ShmTime: padded to time_t's alignment");

}  // namespace vyr::tool
