// One delivered fix, in the units a person reads: decimal degrees, km/h, UTC.
// Built on the printing thread from the copies the data callback took.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vyr_gpsparser.h"

namespace vyr::tool {

// What the data callback copies on the reader thread: the parsed record, the
// raw sentences of the same epoch (still in the set while callbacks run) and
// the library's floating-point location of that record.
struct EpochCopy {
    GpsMsgPacket packet;
    GpsRawData raw;
    GpsLocation location;
};

enum class Constellation { Gps, BeiDou };

struct Satellite {
    Constellation constellation;
    int prn;
    int elevation;
    int azimuth;
    int snr;  // 0: not tracked
    bool used;
};

struct UtcTime {
    int year, month, day;  // year 0 when the sentence carried no date
    int hour, minute, second, microsecond;
    [[nodiscard]] std::string iso8601(int fractionDigits) const;
};

struct Fix {
    bool valid = false;  // RMC status A
    int mode = 1;        // 1 no fix, 2 2D, 3 3D
    std::optional<UtcTime> time;
    std::optional<double> latitude;   // decimal degrees, negative south
    std::optional<double> longitude;  // decimal degrees, negative west
    std::optional<double> speedKmh;
    std::optional<double> course;
    std::optional<double> altitude;  // metres above mean sea level
    int quality = 0;
    int satellitesUsed = 0;    // the receiver's own count (GGA)
    int satellitesInView = 0;  // all constellations
    std::optional<double> hdop, pdop, vdop;
    std::vector<Satellite> satellites;
};

// ddmm.mmmm (as the library keeps coordinates) to decimal degrees.
[[nodiscard]] double degreesFromDegreeMinutes(double degreeMinutes);

[[nodiscard]] Fix makeFix(const EpochCopy& epoch);

// "48°07'02\"N" through convert_ddd_dms; positive is N/E.
[[nodiscard]] std::string formatDms(double decimalDegrees, char positive, char negative);

// Great-circle distance in metres.
[[nodiscard]] double haversineMetres(double lat1, double lon1, double lat2, double lon2);

[[nodiscard]] std::string textHeader();
[[nodiscard]] std::string textLine(const Fix& fix);
[[nodiscard]] std::string jsonLine(const Fix& fix, const std::string& device);

}  // namespace vyr::tool
