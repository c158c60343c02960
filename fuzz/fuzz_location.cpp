// convert_ddd_dms with arbitrary doubles and VYR_GPSPARSER_GetLocation with
// arbitrary records, each against a model of its arithmetic, bit for bit.
// Input: 8 bytes of a coordinate, then bytes of the record's RMC member
// (missing bytes are 0), then bytes of the caller's GpsLocation.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fuzz_support.h"
#include "manager/gps_manager.h"

namespace {

uint8_t lowByteOfFloor(double x) {
    if (std::isnan(x)) return 0;
    return static_cast<uint8_t>(static_cast<int32_t>(std::floor(x)));
}

void checkDms(double coordinate) {
    uint8_t out[3] = {0xC3, 0xC3, 0xC3};
    convert_ddd_dms(coordinate, &out[0], &out[1], &out[2]);
    if (coordinate < -180.0 || coordinate > 180.0) {
        FUZZ_CHECK(out[0] == 0xC3 && out[1] == 0xC3 && out[2] == 0xC3,
                   "%.17g is out of range but outputs were written", coordinate);
        return;
    }
    const uint8_t d = lowByteOfFloor(coordinate);
    const double fraction = coordinate - static_cast<double>(d);
    const uint8_t m = lowByteOfFloor(fraction * 60.0);
    const uint8_t s = lowByteOfFloor(fraction * 3600.0 - static_cast<double>(m * 60));
    FUZZ_CHECK(out[0] == d && out[1] == m && out[2] == s, "%.17g gave %u %u %u, model %u %u %u",
               coordinate, out[0], out[1], out[2], d, m, s);
    if (coordinate >= 0.0) {
        // A non-negative coordinate splits into plain degrees and minutes
        // below 60 (seconds may round down past zero; the model covers them).
        FUZZ_CHECK(out[0] == static_cast<uint8_t>(std::floor(coordinate)) && out[1] < 60,
                   "%.17g gave %u %u %u", coordinate, out[0], out[1], out[2]);
    }
}

double formatDouble(const GpsFloat& f) {
    return f.scale == 0 ? static_cast<double>(f.value)
                        : static_cast<double>(f.value) / static_cast<double>(f.scale);
}

void checkLocation(const GpsRmc& rmc, const GpsLocation& caller) {
    vyr::mng::GpsManager& mng = vyr::mng::manager();
    std::memset(&mng.msgPacket, 0x77, sizeof(mng.msgPacket));
    mng.msgPacket.rmc = rmc;
    const GpsMsgPacket recordBefore = mng.msgPacket;

    GpsLocation out = caller;
    FUZZ_CHECK(VYR_GPSPARSER_GetLocation(&out) == 0, "GetLocation failed");

    GpsLocation want = caller;
    want.latitude = formatDouble(rmc.latitude);
    want.longitude = formatDouble(rmc.longitude);
    if (rmc.speed.scale != 0) {
        const float knots = static_cast<float>(static_cast<double>(rmc.speed.value) /
                                               static_cast<double>(rmc.speed.scale));
        want.speed = static_cast<float>(static_cast<double>(knots) * 1.852);
    }
    if (rmc.course.scale != 0) {
        want.course = static_cast<float>(rmc.course.value) / static_cast<float>(rmc.course.scale);
    }
    FUZZ_CHECK(std::memcmp(&out, &want, sizeof(out)) == 0,
               "location differs from the model (lat %.17g/%.17g speed %g/%g course %g/%g)",
               out.latitude, want.latitude, static_cast<double>(out.speed),
               static_cast<double>(want.speed), static_cast<double>(out.course),
               static_cast<double>(want.course));
    FUZZ_CHECK(std::memcmp(&mng.msgPacket, &recordBefore, sizeof(recordBefore)) == 0,
               "GetLocation changed the record");
    FUZZ_CHECK(GPSPARSER_FORMAT_DOUBLE(&rmc.latitude) == want.latitude,
               "GPSPARSER_FORMAT_DOUBLE differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vyr::fuzz::quietLog();
    uint8_t bytes[8 + sizeof(GpsRmc) + sizeof(GpsLocation)] = {};
    std::memcpy(bytes, data, std::min(size, sizeof(bytes)));

    double coordinate = 0;
    std::memcpy(&coordinate, bytes, sizeof(coordinate));
    checkDms(coordinate);
    // The same bits read as degrees within the range, so most inputs convert.
    checkDms(std::fmod(coordinate, 181.0));

    GpsRmc rmc;
    std::memcpy(&rmc, bytes + 8, sizeof(rmc));
    GpsLocation caller;
    std::memcpy(&caller, bytes + 8 + sizeof(rmc), sizeof(caller));
    checkLocation(rmc, caller);
    return 0;
}
