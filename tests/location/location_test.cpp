// Location output: the exact float/double arithmetic of GetLocation and the
// floor arithmetic of convert_ddd_dms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iomanip>
#include <limits>
#include <string>

#include "manager/gps_manager.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"

namespace {

uint32_t bitsOf(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof(bits));
    return bits;
}

std::string captured(const std::function<void()>& call) {
    testing::internal::CaptureStdout();
    call();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

void setRmc(const char* sentence) {
    GpsRmc& rmc = vyr::mng::manager().msgPacket.rmc;
    ASSERT_EQ(GPSPARSER_ParseRMC(&rmc, sentence), 1) << sentence;
}

GpsLocation callerLocation() {
    GpsLocation location;
    std::memset(&location, 0xA5, sizeof(location));
    location.speed = 123.0f;
    location.course = 321.0f;
    return location;
}

void expectReservedUntouched(const GpsLocation& location) {
    for (uint8_t byte : location.reserved0) EXPECT_EQ(byte, 0xA5);
    for (uint8_t byte : location.reserved1) EXPECT_EQ(byte, 0xA5);
}

TEST(Location, ConvertsRmcWithItsOwnPrecisions) {
    setRmc("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A");
    GpsLocation location = callerLocation();
    ASSERT_EQ(VYR_GPSPARSER_GetLocation(&location), 0);
    EXPECT_EQ(location.latitude, 4807.038);
    EXPECT_EQ(location.longitude, 1131.0);
    // Speed: knots rounded to float first, then widened and scaled in double.
    EXPECT_EQ(
        bitsOf(location.speed),
        bitsOf(static_cast<float>(static_cast<double>(static_cast<float>(224 / 10.0)) * 1.852)));
    EXPECT_NEAR(location.speed, 41.4848, 1e-4);
    // Course: a single-precision division.
    EXPECT_EQ(bitsOf(location.course), bitsOf(844.0f / 10.0f));
    expectReservedUntouched(location);
}

// Values where the rounding path decides the last bit, so that a conversion
// done all in double (or course in double) is caught.
TEST(Location, RoundingPathDecidesLastBit) {
    struct Case {
        const char* speed;
        int32_t value, scale;
    };
    int speedDiffers = 0, courseDiffers = 0;
    for (const Case c :
         {Case{"022.4", 224, 10}, Case{"0.1", 1, 10}, Case{"7.77", 777, 100},
          Case{"123.456", 123456, 1000}, Case{"3.3", 33, 10}, Case{"0.7", 7, 10},
          Case{"359.99", 35999, 100}, Case{"12.345", 12345, 1000}, Case{"0.09", 9, 100},
          Case{"0.15", 15, 100}, Case{"12345.6789", 123456789, 10000},
          Case{"2000.0001", 20000001, 10000}}) {
        SCOPED_TRACE(c.speed);
        const std::string sentence = std::string("$GPRMC,123519,A,4807.038,N,01131.000,E,") +
                                     c.speed + "," + c.speed + ",230394,,";
        setRmc(sentence.c_str());
        GpsLocation location = callerLocation();
        ASSERT_EQ(VYR_GPSPARSER_GetLocation(&location), 0);
        const float knots = static_cast<float>(static_cast<double>(c.value) / c.scale);
        const float speed = static_cast<float>(static_cast<double>(knots) * 1.852);
        const float course = static_cast<float>(c.value) / static_cast<float>(c.scale);
        EXPECT_EQ(bitsOf(location.speed), bitsOf(speed));
        EXPECT_EQ(bitsOf(location.course), bitsOf(course));
        speedDiffers += bitsOf(speed) != bitsOf(static_cast<float>(c.value * 1.852 / c.scale));
        courseDiffers +=
            bitsOf(course) != bitsOf(static_cast<float>(static_cast<double>(c.value) / c.scale));
    }
    // The table holds values on which the other roundings disagree.
    EXPECT_GT(speedDiffers, 0);
    EXPECT_GT(courseDiffers, 0);
}

TEST(Location, SouthWestAndEmptyFields) {
    setRmc("$GPRMC,123519,A,3345.100,S,07030.500,W,,054.7,230394,,");
    GpsLocation location = callerLocation();
    ASSERT_EQ(VYR_GPSPARSER_GetLocation(&location), 0);
    EXPECT_EQ(location.latitude, -3345.1);
    EXPECT_EQ(location.longitude, -7030.5);
    EXPECT_EQ(location.speed, 123.0f);  // empty speed: caller's value
    EXPECT_EQ(bitsOf(location.course), bitsOf(547.0f / 10.0f));

    setRmc("$GPRMC,123519,A,3345.100,S,07030.500,W,010.0,,230394,,");
    location = callerLocation();
    ASSERT_EQ(VYR_GPSPARSER_GetLocation(&location), 0);
    EXPECT_EQ(location.speed, static_cast<float>(10.0 * 1.852));
    EXPECT_EQ(location.course, 321.0f);  // empty course: caller's value
}

// The record as it is from load until the first parse: all zero.
TEST(Location, BeforeAnyEpochAndInAnyState) {
    std::memset(&vyr::mng::manager().msgPacket, 0, sizeof(GpsMsgPacket));
    for (auto state : {vyr::mng::MngState::Deinit, vyr::mng::MngState::Stop}) {
        vyr::mng::manager().mngState = state;
        GpsLocation location = callerLocation();
        ASSERT_EQ(VYR_GPSPARSER_GetLocation(&location), 0);
        EXPECT_EQ(location.latitude, 0.0);
        EXPECT_EQ(location.longitude, 0.0);
        EXPECT_EQ(location.speed, 123.0f);
        EXPECT_EQ(location.course, 321.0f);
        expectReservedUntouched(location);
    }
}

TEST(Location, NullPointerLogsAndReturnsMinusOne) {
    VyrPlatform_SetPrintLevel(1);
    int32_t result = 0;
    const std::string out = captured([&] { result = VYR_GPSPARSER_GetLocation(nullptr); });
    EXPECT_EQ(result, -1);
    EXPECT_NE(out.find("[ERR]\033[m VYR_GPSPARSER_GetLocation "), std::string::npos) << out;
    EXPECT_NE(out.find(":pointer[pGpsLocation] is NULL\n"), std::string::npos) << out;
}

struct DmsCase {
    double coordinate;
    int degrees, minutes, seconds;  // -1: nothing written
};

TEST(ConvertDddDms, FloorArithmeticRangeAndNaN) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const DmsCase cases[] = {
        {12.5, 12, 30, 0},
        {45.7625, 45, 45, 45},
        {180.0, 180, 0, 0},
        {-180.0, 76, 0, 0},
        {-0.5, 255, 30, 0},
        {-12.5, 243, 30, 0},
        {10.1, 10, 5, 59},
        {23.45, 23, 26, 59},
        {7.675833333333333, 7, 40, 33},
        {0.0075, 0, 0, 27},
        {0.02, 0, 1, 12},
        {-0.33, 255, 40, 12},
        {0.0, 0, 0, 0},
        {-0.0, 0, 0, 0},
        {179.999999, 179, 59, 59},
        {-1e-12, 255, 59, 59},
        {nan, 0, 0, 0},
        {180.0000001, -1, -1, -1},
        {-180.0000001, -1, -1, -1},
        {inf, -1, -1, -1},
        {-inf, -1, -1, -1},
        {4807.038, -1, -1, -1},
    };
    VyrPlatform_SetPrintLevel(3);
    for (const DmsCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::setprecision(17) << c.coordinate);
        uint8_t d = 0xEE, m = 0xEE, s = 0xEE;
        const std::string out = captured([&] { convert_ddd_dms(c.coordinate, &d, &m, &s); });
        if (c.degrees < 0) {
            EXPECT_EQ(d, 0xEE);
            EXPECT_EQ(m, 0xEE);
            EXPECT_EQ(s, 0xEE);
            EXPECT_EQ(out, "");
            continue;
        }
        EXPECT_EQ(d, c.degrees);
        EXPECT_EQ(m, c.minutes);
        EXPECT_EQ(s, c.seconds);
        char expected[128];
        std::snprintf(expected, sizeof(expected),
                      ":coordinate=%lf, degrees=%d, minutes=%d, seconds=%d\n", c.coordinate,
                      c.degrees, c.minutes, c.seconds);
        EXPECT_NE(out.find(std::string("[INF]\033[m convert_ddd_dms ")), std::string::npos) << out;
        EXPECT_NE(out.find(expected), std::string::npos) << out;
    }
}

TEST(ConvertDddDms, InformationLineOnlyAtLevelThree) {
    VyrPlatform_SetPrintLevel(2);
    uint8_t d = 0, m = 0, s = 0;
    EXPECT_EQ(captured([&] { convert_ddd_dms(12.5, &d, &m, &s); }), "");
    EXPECT_EQ(d, 12);
}

}  // namespace
