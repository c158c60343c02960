// One delivered fix as the tool presents it, built on the tool's own threads
// from the copies the data callback took.
//
// A receiver that sends RMC before GGA makes the library's record combine the
// RMC of one second with the GGA, GSA and GSV of the second before. Such a
// record is marked mixed: position, time, speed and track come from the RMC;
// altitude, fix quality and dilutions of precision only when the GGA time
// equals the RMC time. The sky view (GSV with the GSA's used marks) is one
// epoch's own and is kept either way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vyr_gpsparser.h"

namespace vyr::tool {

// What the data callback copies on the reader thread: the parsed record and
// the raw sentences of the same epoch (still in the set while callbacks run).
struct EpochCopy {
    GpsMsgPacket packet;
    GpsRawData raw;
};

// Which GSV series a satellite was listed in.
enum class Talker { Gps, BeiDou };

// A satellite numbered as the clients' protocol does: gnssid/svid in the
// receiver-independent scheme (0 GPS, 1 SBAS, 3 BeiDou, 5 QZSS, 6 GLONASS)
// and a PRN that never collides between constellations (BeiDou 401-463).
struct SatelliteId {
    int prn;
    std::optional<int> gnssid, svid;  // absent for numbers of no known range
};

[[nodiscard]] SatelliteId identifySatellite(Talker talker, int nmeaNumber);

struct Satellite {
    SatelliteId id;
    int elevation;
    int azimuth;
    int snr;  // dB-Hz, 0: not tracked
    bool used;
};

struct UtcTime {
    int year, month, day;  // year 0 when the sentence carried no date
    int hour, minute, second, microsecond;
    [[nodiscard]] std::string iso8601(int fractionDigits) const;
    // Seconds since 1970-01-01 (dated times only).
    [[nodiscard]] double epochSeconds() const;
};

// Two-digit RMC years: 80-99 are 1980-1999 (receivers start at the GPS epoch
// of 1980 before they know the date), 00-79 are 2000-2079.
[[nodiscard]] int fullYear(int twoDigitYear);

struct Fix {
    bool valid = false;  // RMC status A
    bool mixed = false;  // GGA and RMC of different seconds
    int mode = 1;        // 1 no fix, 2 2D, 3 3D
    std::optional<UtcTime> time;
    std::optional<double> latitude, longitude;  // decimal degrees, negative south/west
    std::optional<double> speed;                // m/s
    std::optional<double> track;                // degrees true
    std::optional<double> altitude;             // metres above mean sea level
    std::optional<double> geoidSeparation;      // metres
    std::optional<double> altitudeHae;          // metres above the ellipsoid
    std::optional<int> quality;                 // GGA fix quality
    std::optional<int> satellitesUsed;          // the GGA's count
    int satellitesInView = 0;                   // all GSV series
    std::optional<double> hdop, pdop, vdop;
    std::vector<Satellite> satellites;

    [[nodiscard]] bool hasPosition() const { return mode >= 2 && latitude && longitude; }
    [[nodiscard]] int satellitesMarkedUsed() const;
};

// ddmm.mmmm as a fixed-point field to decimal degrees, rounded to two more
// decimals than the minutes carried (enough to keep the field's resolution).
[[nodiscard]] std::optional<double> degreesFromField(const GpsFloat& degreeMinutes);

[[nodiscard]] Fix makeFix(const EpochCopy& epoch);

// Great-circle distance in metres.
[[nodiscard]] double haversineMetres(double lat1, double lon1, double lat2, double lon2);

}  // namespace vyr::tool
