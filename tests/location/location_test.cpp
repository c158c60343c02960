// Location output: the exact float/double arithmetic of GetLocation and the
// floor arithmetic of convert_ddd_dms.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "manager/gps_manager.h"
#include "vyr_gpsparser.h"

namespace {

GpsLocation locationFrom(const char* rmc) {
    EXPECT_EQ(GPSPARSER_ParseRMC(&vyr::mng::manager().msgPacket.rmc, rmc), 1);
    GpsLocation location{{}, 0.0, 0.0, {}, 123.0f, 321.0f};  // caller's speed and course
    EXPECT_EQ(VYR_GPSPARSER_GetLocation(&location), 0);
    return location;
}

// Speed: knots rounded to float, then widened and scaled in double. Course: a
// float division. Comparisons are exact.
TEST(Location, FromRmcBitExactKeepingEmptyFields) {
    GpsLocation location =
        locationFrom("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A");
    EXPECT_EQ(location.latitude, 4807.038);
    EXPECT_EQ(location.longitude, 1131.0);
    EXPECT_EQ(location.speed, static_cast<float>(static_cast<double>(22.4f) * 1.852));
    EXPECT_EQ(location.course, 844.0f / 10.0f);

    // Empty speed or course keeps the caller's value. These values also tell
    // the precisions apart: the arithmetic done all in double differs.
    location = locationFrom("$GPRMC,123519,A,3345.100,S,07030.500,W,,12345.6789,230394,,");
    EXPECT_EQ(location.speed, 123.0f);
    EXPECT_EQ(location.course, 123456789.0f / 10000.0f);
    location = locationFrom("$GPRMC,123519,A,3345.100,S,07030.500,W,054.7,,230394,,");
    EXPECT_EQ(location.speed, static_cast<float>(static_cast<double>(54.7f) * 1.852));
    EXPECT_EQ(location.course, 321.0f);
    EXPECT_EQ(VYR_GPSPARSER_GetLocation(nullptr), -1);
}

TEST(ConvertDddDms, FloorArithmeticAndRange) {
    // clang-format off
    const std::pair<double, std::array<int, 3>> cases[] = {  // 0xEE: not written
        {10.1, {10, 5, 59}}, {-12.5, {243, 30, 0}}, {-180.0, {76, 0, 0}}, {180.0, {180, 0, 0}},
        {std::nan(""), {0, 0, 0}}, {7.675833333333333, {7, 40, 33}},
        {180.0000001, {0xEE, 0xEE, 0xEE}}, {-180.0000001, {0xEE, 0xEE, 0xEE}}};
    // clang-format on
    for (const auto& [coordinate, dms] : cases) {
        uint8_t d = 0xEE, m = 0xEE, s = 0xEE;
        convert_ddd_dms(coordinate, &d, &m, &s);
        EXPECT_EQ((std::array<int, 3>{d, m, s}), dms) << coordinate;
    }
}

}  // namespace
