// The records handed to the time daemon, byte for byte as a daemon built for
// this platform reads them. Runs on the host and, cross-compiled, on armhf,
// where Debian 12 has a 32-bit time_t and so a 32-byte SOCK sample.
#include <gtest/gtest.h>

#include "refclock_layouts.h"

namespace vyr::tool {
namespace {

constexpr bool kWideTime = sizeof(time_t) == 8;

TEST(RefclockLayout, SockSample) {
    struct {
        size_t size, offset, pulse, leap, pad, magic;
    } const expected = kWideTime ? decltype(expected){40, 16, 24, 28, 32, 36}
                                 : decltype(expected){32, 8, 16, 20, 24, 28};
    EXPECT_EQ(sizeof(timeval), kWideTime ? 16u : 8u);
    EXPECT_EQ(sizeof(SockSample), expected.size);
    EXPECT_EQ(offsetof(SockSample, offset), expected.offset);
    EXPECT_EQ(offsetof(SockSample, pulse), expected.pulse);
    EXPECT_EQ(offsetof(SockSample, leap), expected.leap);
    EXPECT_EQ(offsetof(SockSample, pad), expected.pad);
    EXPECT_EQ(offsetof(SockSample, magic), expected.magic);
#if defined(__arm__)
    EXPECT_FALSE(kWideTime) << "Debian 12 armhf and its chronyd use a 32-bit time_t";
#endif
}

TEST(RefclockLayout, ShmTime) {
    struct {
        size_t size, receiveSec, leap, valid, clockNSec, dummy;
    } const expected = kWideTime ? decltype(expected){96, 24, 36, 48, 52, 60}
                                 : decltype(expected){80, 16, 24, 36, 40, 48};
    EXPECT_EQ(sizeof(ShmTime), expected.size);
    EXPECT_EQ(offsetof(ShmTime, receiveTimeStampSec), expected.receiveSec);
    EXPECT_EQ(offsetof(ShmTime, leap), expected.leap);
    EXPECT_EQ(offsetof(ShmTime, valid), expected.valid);
    EXPECT_EQ(offsetof(ShmTime, clockTimeStampNSec), expected.clockNSec);
    EXPECT_EQ(offsetof(ShmTime, dummy), expected.dummy);
}

}  // namespace
}  // namespace vyr::tool
