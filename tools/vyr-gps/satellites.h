// Satellites as the clients' protocol numbers them, and the dilutions of
// precision that follow from where the used ones stand in the sky.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace vyr::tool {

// The constellation a sentence speaks for, from its talker ("GP", "GL", "GA",
// "GB"/"BD", "GQ", "GI") or from the NMEA 4.10 system id of a GSA. Unknown
// ("GN" without a system id): each number is placed by its range.
enum class System { Unknown, Gps, Glonass, Galileo, BeiDou, Qzss, NavIc };

[[nodiscard]] System systemOfTalker(std::string_view talker);
// NMEA 4.10 GSA system id: 1 GPS, 2 GLONASS, 3 Galileo, 4 BeiDou, 5 QZSS,
// 6 NavIC; Unknown for anything else.
[[nodiscard]] System systemOfId(int systemId);

// gnssid and svid in the clients' receiver-independent scheme (0 GPS, 1 SBAS,
// 2 Galileo, 3 BeiDou, 5 QZSS, 6 GLONASS, 7 NavIC) and a PRN that never
// collides between constellations (SBAS 120-158, Galileo 301-336, BeiDou
// 401-463, QZSS 193-202, GLONASS 65-96, NavIC 801-814).
struct SatelliteId {
    int prn = 0;
    std::optional<int> gnssid, svid;  // absent for a number of no known range

    // Equal satellites, also when seen on several signals.
    [[nodiscard]] bool operator==(const SatelliteId& other) const {
        return gnssid == other.gnssid && (gnssid ? svid == other.svid : prn == other.prn);
    }
};

[[nodiscard]] SatelliteId identifySatellite(System system, int nmeaNumber);

// Where a used satellite stands, in degrees.
struct Bearing {
    double elevation;
    double azimuth;
};

struct GeometryDops {
    double x, y, v, h, p, t, g;
};

// Least-squares dilutions of precision for one receiver clock: the
// unit vectors towards the satellites (east, north, up) and the clock give the
// rows of the design matrix G, and the diagonal of inverse(transpose(G) G) the
// squared DOPs. None with fewer than four satellites or a singular geometry.
[[nodiscard]] std::optional<GeometryDops> geometryDops(const std::vector<Bearing>& used);

}  // namespace vyr::tool
