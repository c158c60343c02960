#include "satellites.h"

#include <array>
#include <cmath>

namespace vyr::tool {

System systemOfTalker(std::string_view talker) {
    if (talker == "GP") {
        return System::Gps;
    }
    if (talker == "GL") {
        return System::Glonass;
    }
    if (talker == "GA") {
        return System::Galileo;
    }
    if (talker == "GB" || talker == "BD") {
        return System::BeiDou;
    }
    if (talker == "GQ") {
        return System::Qzss;
    }
    if (talker == "GI") {
        return System::NavIc;
    }
    return System::Unknown;
}

System systemOfId(int systemId) {
    switch (systemId) {
        case 1:
            return System::Gps;
        case 2:
            return System::Glonass;
        case 3:
            return System::Galileo;
        case 4:
            return System::BeiDou;
        case 5:
            return System::Qzss;
        case 6:
            return System::NavIc;
        default:
            return System::Unknown;
    }
}

SatelliteId identifySatellite(System system, int n) {
    const auto id = [](int prn, int gnssid, int svid) { return SatelliteId{prn, gnssid, svid}; };
    switch (system) {
        case System::Glonass:
            if (n >= 65 && n <= 99) {
                return id(n, 6, n - 64);
            }
            if (n >= 1 && n <= 32) {  // slot numbers
                return id(n + 64, 6, n);
            }
            break;
        case System::Galileo:
            if (n >= 1 && n <= 36) {
                return id(300 + n, 2, n);
            }
            if (n >= 301 && n <= 336) {
                return id(n, 2, n - 300);
            }
            break;
        case System::BeiDou:
            // Receivers number BeiDou 1-63, 201-263 or 401-463.
            for (const int base : {0, 200, 400}) {
                if (n > base && n <= base + 63) {
                    return id(400 + n - base, 3, n - base);
                }
            }
            break;
        case System::Qzss:
            if (n >= 1 && n <= 10) {
                return id(192 + n, 5, n);
            }
            if (n >= 193 && n <= 202) {
                return id(n, 5, n - 192);
            }
            break;
        case System::NavIc:
            if (n >= 1 && n <= 14) {
                return id(800 + n, 7, n);
            }
            break;
        case System::Gps:
        case System::Unknown:
            // The GPS talker's numbering, which combined ("GN") sentences
            // without a system id share.
            if (n >= 1 && n <= 32) {
                return id(n, 0, n);
            }
            if (n >= 33 && n <= 64) {  // SBAS in NMEA numbering: PRN 120-151
                return id(n + 87, 1, n + 87);
            }
            if (n >= 65 && n <= 96) {
                return id(n, 6, n - 64);
            }
            if (n >= 120 && n <= 158) {
                return id(n, 1, n);
            }
            if (n >= 193 && n <= 202) {
                return id(n, 5, n - 192);
            }
            break;
    }
    return {n, std::nullopt, std::nullopt};
}

std::optional<GeometryDops> geometryDops(const std::vector<Bearing>& used) {
    constexpr int kUnknowns = 4;  // east, north, up, clock
    if (used.size() < kUnknowns) {
        return std::nullopt;
    }
    // Normal matrix, then its inverse by Gauss-Jordan elimination with
    // partial pivoting on [N | I].
    std::array<std::array<double, 2 * kUnknowns>, kUnknowns> m{};
    for (const Bearing& b : used) {
        const double el = b.elevation * M_PI / 180.0;
        const double az = b.azimuth * M_PI / 180.0;
        const std::array<double, kUnknowns> row = {std::cos(el) * std::sin(az),
                                                   std::cos(el) * std::cos(az), std::sin(el), 1.0};
        for (int i = 0; i < kUnknowns; ++i) {
            for (int j = 0; j < kUnknowns; ++j) {
                m[i][j] += row[i] * row[j];
            }
        }
    }
    for (int i = 0; i < kUnknowns; ++i) {
        m[i][kUnknowns + i] = 1.0;
    }
    for (int col = 0; col < kUnknowns; ++col) {
        int pivot = col;
        for (int r = col + 1; r < kUnknowns; ++r) {
            if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) {
                pivot = r;
            }
        }
        // Satellites on one cone (all at one elevation, or in one plane)
        // leave the system without a solution.
        if (std::fabs(m[pivot][col]) < 1e-9) {
            return std::nullopt;
        }
        std::swap(m[col], m[pivot]);
        const double scale = m[col][col];
        for (double& value : m[col]) {
            value /= scale;
        }
        for (int r = 0; r < kUnknowns; ++r) {
            if (r != col && m[r][col] != 0.0) {
                const double factor = m[r][col];
                for (int c = 0; c < 2 * kUnknowns; ++c) {
                    m[r][c] -= factor * m[col][c];
                }
            }
        }
    }
    const double qe = m[0][kUnknowns], qn = m[1][kUnknowns + 1];
    const double qu = m[2][kUnknowns + 2], qt = m[3][kUnknowns + 3];
    if (qe <= 0 || qn <= 0 || qu <= 0 || qt <= 0) {
        return std::nullopt;
    }
    return GeometryDops{std::sqrt(qe),
                        std::sqrt(qn),
                        std::sqrt(qu),
                        std::sqrt(qe + qn),
                        std::sqrt(qe + qn + qu),
                        std::sqrt(qt),
                        std::sqrt(qe + qn + qu + qt)};
}

}  // namespace vyr::tool
