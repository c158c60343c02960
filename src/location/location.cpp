// Location output: floating-point position from the RMC member of the latest
// record, and the split of decimal degrees into degrees, minutes and seconds.
// Both run on the caller's thread. The arithmetic below is exact to the last
// bit on every target: each operation rounds once (the build forbids fused
// multiply-add), and the precisions of speed and course differ on purpose.
#include <cmath>

#include "common/log.h"
#include "common/result_codes.h"
#include "manager/gps_manager.h"
#include "nmea/scanner.h"

namespace vyr::loc {

namespace {

constexpr double kKmPerHourPerKnot = 1.852;

// Rewrites only what the record holds: speed and course keep the caller's
// values when their fields were empty (scale 0).
void fillLocation(const GpsMsgPacket& record, GpsLocation& location) noexcept {
    const GpsRmc& rmc = record.rmc;
    location.latitude = nmea::toDouble(rmc.latitude);
    location.longitude = nmea::toDouble(rmc.longitude);
    if (rmc.speed.scale != 0) {
        const float knots = static_cast<float>(static_cast<double>(rmc.speed.value) /
                                               static_cast<double>(rmc.speed.scale));
        location.speed = static_cast<float>(static_cast<double>(knots) * kKmPerHourPerKnot);
    }
    if (rmc.course.scale != 0) {
        location.course =
            static_cast<float>(rmc.course.value) / static_cast<float>(rmc.course.scale);
    }
}

// floor(x) as a 32-bit integer, reduced to its low eight bits. Within the
// accepted coordinate range every floor fits in 32 bits; NaN, the one value
// that passes the range test without a number, reads as 0.
uint8_t floorLowByte(double x) noexcept {
    if (std::isnan(x)) {
        return 0;
    }
    return static_cast<uint8_t>(static_cast<int32_t>(std::floor(x)));
}

}  // namespace

}  // namespace vyr::loc

extern "C" {

int32_t VYR_GPSPARSER_GetLocation(GpsLocation* pGpsLocation) {
    if (pGpsLocation == nullptr) {
        VYR_LOG_ERR("pointer[%s] is NULL\n", "pGpsLocation");
        return -1;
    }
    vyr::mng::withRecordSnapshot([pGpsLocation](const GpsMsgPacket& snapshot) {
        vyr::loc::fillLocation(snapshot, *pGpsLocation);
    });
    return 0;
}

// Every step rounds toward minus infinity, so a fraction a double cannot hold
// exactly may come out one second short (10.1 gives 10, 5, 59). Negative
// coordinates give floor() as a two's-complement byte, with minutes and
// seconds counted upwards from it.
void convert_ddd_dms(double coordinate, uint8_t* degrees, uint8_t* minutes, uint8_t* seconds) {
    if (coordinate < -180.0 || coordinate > 180.0) {
        return;
    }
    *degrees = vyr::loc::floorLowByte(coordinate);
    const double fraction = coordinate - static_cast<double>(*degrees);
    *minutes = vyr::loc::floorLowByte(fraction * 60.0);
    const double totalSeconds = fraction * 3600.0;
    *seconds = vyr::loc::floorLowByte(totalSeconds - static_cast<double>(*minutes * 60));
    VYR_LOG_INF("coordinate=%lf, degrees=%d, minutes=%d, seconds=%d\n", coordinate, *degrees,
                *minutes, *seconds);
}

}  // extern "C"
