#!/usr/bin/env python3
"""Writes a synthetic NMEA 0183 receiver capture: a car driving a route at 1 Hz.

The output is what a serial GPS receiver sends, byte for byte: one burst of
sentences per second (GGA, GSA, RMC, GSV series), CR LF line ends, correct
checksums, satellites rising and setting, speed and course changing, a tunnel
without a fix, and a little line noise (a mid-sentence start, stray bytes
between sentences, one sentence cut off by the next "$", one debug sentence
longer than 179 characters). Everything is derived from a fixed seed, so the
same arguments always give the same bytes.

    capture_gen.py --receiver gps-beidou -o data/drive-gps-beidou.nmea
    capture_gen.py --receiver gps-only   -o data/drive-gps-only.nmea

Standard library only.
"""

import argparse
import datetime
import math
import random
import sys

EARTH_RADIUS_M = 6371008.8
KNOTS_PER_MPS = 3600.0 / 1852.0

# Route as (seconds, target speed km/h, turn rate deg/s). The car accelerates
# or brakes towards the target speed at a bounded rate.
ROUTE = [
    (12, 0.0, 0.0),     # parked, engine running
    (30, 45.0, 0.0),    # pull out, accelerate
    (14, 30.0, 6.4),    # right turn at a junction
    (36, 55.0, 0.0),
    (18, 0.0, 0.0),     # red light
    (40, 70.0, -0.6),   # long left-hand curve
    (30, 62.0, 0.0),    # into the tunnel (no fix, see TUNNEL)
    (35, 80.0, 0.3),
    (16, 25.0, -5.6),   # left turn
    (40, 40.0, 0.0),
    (29, 0.0, 0.0),     # park
]
TUNNEL = (156, 181)  # seconds with no fix: RMC V, GGA quality 0

MAX_ACCEL_KMH_PER_S = 7.0
MAX_BRAKE_KMH_PER_S = 9.0


def checksum(body):
    value = 0
    for ch in body.encode("ascii"):
        value ^= ch
    return value


def sentence(body):
    """'GPGGA,...' -> '$GPGGA,...*hh\\r\\n'"""
    return "$%s*%02X\r\n" % (body, checksum(body))


def ddmm(value, degree_digits):
    """Decimal degrees -> ('ddmm.mmmmm', hemisphere index 0 positive / 1 negative)."""
    magnitude = abs(value)
    degrees = int(magnitude)
    minutes = (magnitude - degrees) * 60.0
    if round(minutes, 5) >= 60.0:
        degrees += 1
        minutes = 0.0
    return "%0*d%08.5f" % (degree_digits, degrees, minutes), 1 if value < 0 else 0


class Satellite:
    def __init__(self, prn, elevation, azimuth, elevation_rate, azimuth_rate, quality):
        self.prn = prn
        self.elevation = elevation
        self.azimuth = azimuth
        self.elevation_rate = elevation_rate
        self.azimuth_rate = azimuth_rate
        self.quality = quality  # receiver-specific offset of the signal level

    def step(self):
        self.elevation += self.elevation_rate
        self.azimuth = (self.azimuth + self.azimuth_rate) % 360.0


def make_constellation(rng, prns, rising, setting):
    """Satellites spread over the sky; a few start near the horizon and rise
    or set during the drive (about 0.5 degrees per minute, as real orbits)."""
    satellites = []
    rng.shuffle(prns)
    for index, prn in enumerate(prns):
        if index < rising:
            elevation = rng.uniform(-2.2, -0.3)
            rate = rng.uniform(0.012, 0.02)
        elif index < rising + setting:
            elevation = rng.uniform(0.4, 2.4)
            rate = -rng.uniform(0.012, 0.02)
        else:
            elevation = rng.uniform(6.0, 85.0)
            rate = rng.uniform(-0.009, 0.009)
        satellites.append(
            Satellite(prn, elevation, rng.uniform(0.0, 360.0), rate, rng.uniform(-0.01, 0.01),
                      rng.uniform(-3.0, 3.0)))
    return satellites


def observe(rng, satellites, in_tunnel):
    """Satellites above the horizon as (prn, el, az, snr or None), sorted by
    PRN, and the PRNs the receiver uses in its solution (at most 12)."""
    visible = []
    for sat in satellites:
        if sat.elevation < 0.0:
            continue
        elevation = int(sat.elevation)
        snr = None
        if not in_tunnel:
            level = 18.0 + 0.42 * sat.elevation + sat.quality + rng.gauss(0.0, 1.2)
            # Low satellites fade in and out behind buildings and trees.
            if sat.elevation >= 5.0 or rng.random() < 0.6:
                snr = max(10, min(52, int(round(level))))
        visible.append((sat.prn, elevation, int(sat.azimuth) % 360, snr))
    visible.sort()
    used = [prn for prn, el, _az, snr in visible if snr is not None and snr >= 24 and el >= 8]
    used = sorted(used, key=lambda prn: -next(v[3] for v in visible if v[0] == prn))[:12]
    return visible, sorted(used)


def gsv_series(talker, visible):
    """GSV sentences of one constellation, four satellites per sentence."""
    if not visible:
        return [sentence("%sGSV,1,1,00" % talker)]
    total = (len(visible) + 3) // 4
    out = []
    for number in range(total):
        fields = ["%sGSV" % talker, str(total), str(number + 1), "%02d" % len(visible)]
        for prn, elevation, azimuth, snr in visible[number * 4:number * 4 + 4]:
            fields += ["%02d" % prn, "%02d" % elevation, "%03d" % azimuth,
                       "" if snr is None else "%02d" % snr]
        out.append(sentence(",".join(fields)))
    return out


def gsa(talker, used, fix, dops, system_id):
    ids = ["%02d" % prn for prn in used] + [""] * (12 - len(used))
    mode = "3" if fix else "1"
    pdop, hdop, vdop = dops if fix else (99.99, 99.99, 99.99)
    fields = ["%sGSA" % talker, "A", mode] + ids + ["%.2f" % pdop, "%.2f" % hdop, "%.2f" % vdop]
    if system_id is not None:
        fields.append(str(system_id))
    return sentence(",".join(fields))


class Drive:
    """Vehicle state along ROUTE, one step per second."""

    def __init__(self, rng, latitude, longitude):
        self.rng = rng
        self.latitude = latitude
        self.longitude = longitude
        self.speed_kmh = 0.0
        self.course = 62.0
        self.altitude = 519.4
        self.segments = []
        for duration, target, turn in ROUTE:
            self.segments += [(target, turn)] * duration

    def __len__(self):
        return len(self.segments)

    def step(self, second):
        target, turn = self.segments[second]
        if self.speed_kmh < target:
            self.speed_kmh = min(target, self.speed_kmh + MAX_ACCEL_KMH_PER_S * 0.6)
        else:
            self.speed_kmh = max(target, self.speed_kmh - MAX_BRAKE_KMH_PER_S * 0.6)
        moving = self.speed_kmh > 0.5
        if moving:
            self.course = (self.course + turn + self.rng.gauss(0.0, 0.4)) % 360.0
        distance = self.speed_kmh / 3.6
        north = distance * math.cos(math.radians(self.course))
        east = distance * math.sin(math.radians(self.course))
        self.latitude += math.degrees(north / EARTH_RADIUS_M)
        self.longitude += math.degrees(east / (EARTH_RADIUS_M * math.cos(math.radians(self.latitude))))
        self.altitude += self.rng.gauss(0.0, 0.15) + (0.02 if moving else 0.0)


def generate(receiver, seconds, seed):
    rng = random.Random(seed)
    beidou = receiver == "gps-beidou"
    gps_sats = make_constellation(rng, list(range(1, 33)), rising=2, setting=2)[:14]
    bds_sats = make_constellation(rng, list(range(1, 38)), rising=2, setting=1)[:10] if beidou else []
    drive = Drive(rng, 48.1173, 11.516667)
    start = datetime.datetime(2024, 5, 14, 8, 30, 0)
    main_talker = "GN" if beidou else "GP"

    # Noise placed at fixed seconds of the drive.
    cut_rmc_at = 97           # this burst's RMC is cut off by the next "$"
    stray_bytes_at = (41, 158, 263)
    overlong_at = 120         # a debug line longer than a sentence buffer

    out = []
    # The capture starts in the middle of a burst, as a capture taken from a
    # running receiver does: the tail of a GGA sentence, then the rest of the
    # burst without its GGA (so no fix can complete from it).
    out.append("0.93,519.2,M,47.6,M,,*5C\r\n")
    lat_text, _ = ddmm(drive.latitude, 2)
    lon_text, _ = ddmm(drive.longitude, 3)
    out.append(sentence("%sRMC,082959.00,A,%s,N,%s,E,0.008,,140524,,,A" % (main_talker, lat_text, lon_text)))
    out.append(sentence("GPTXT,01,01,02,ANTSTATUS=OK"))

    for second in range(seconds):
        now = start + datetime.timedelta(seconds=second)
        hhmmss = now.strftime("%H%M%S") + ".00"
        ddmmyy = now.strftime("%d%m%y")
        in_tunnel = TUNNEL[0] <= second < TUNNEL[1]
        for sat in gps_sats + bds_sats:
            sat.step()
        drive.step(second)

        gps_visible, gps_used = observe(rng, gps_sats, in_tunnel)
        bds_visible, bds_used = observe(rng, bds_sats, in_tunnel)
        used_count = len(gps_used) + len(bds_used)
        fix = not in_tunnel and used_count >= 4
        hdop = 0.45 + 5.0 / max(used_count, 1) + abs(rng.gauss(0.0, 0.05))
        dops = (hdop * 1.7, hdop, hdop * 1.35)

        burst = []
        lat_text, lat_south = ddmm(drive.latitude, 2)
        lon_text, lon_west = ddmm(drive.longitude, 3)
        if fix:
            burst.append(sentence(",".join([
                "%sGGA" % main_talker, hhmmss, lat_text, "NS"[lat_south], lon_text, "EW"[lon_west],
                "1", "%02d" % used_count, "%.2f" % hdop, "%.1f" % drive.altitude, "M", "47.6", "M", "", ""])))
        else:
            burst.append(sentence("%sGGA,%s,,,,,0,00,99.99,,,,,," % (main_talker, hhmmss)))
        if beidou:
            burst.append(gsa("GN", gps_used, fix, dops, 1))
            burst.append(gsa("GN", bds_used, fix, dops, 4))
        else:
            burst.append(gsa("GP", gps_used, fix, dops, None))
        if fix:
            speed_knots = drive.speed_kmh / 3.6 * KNOTS_PER_MPS
            if drive.speed_kmh > 0.5:
                speed_knots += abs(rng.gauss(0.0, 0.05))
                course = "%.2f" % drive.course
            else:
                speed_knots = abs(rng.gauss(0.0, 0.01))
                course = ""  # standing still: no course over ground
            burst.append(sentence(",".join([
                "%sRMC" % main_talker, hhmmss, "A", lat_text, "NS"[lat_south], lon_text, "EW"[lon_west],
                "%.3f" % speed_knots, course, ddmmyy, "", "", "A"])))
        else:
            burst.append(sentence("%sRMC,%s,V,,,,,,,%s,,,N" % (main_talker, hhmmss, ddmmyy)))
        burst += gsv_series("GP", gps_visible)
        if beidou:
            burst += gsv_series("BD", bds_visible)

        if second == cut_rmc_at:
            rmc = next(i for i, s in enumerate(burst) if "RMC," in s)
            burst[rmc] = burst[rmc][:24]  # no line end: the next "$" cuts it off
        if second in stray_bytes_at:
            where = 1 + rng.randrange(len(burst) - 1)
            burst.insert(where, ["\x00\x00\xff", "\r\n\r\n", "\xb5b\x01"][stray_bytes_at.index(second)])
        if second == overlong_at:
            words = " ".join("%02X" % rng.randrange(256) for _ in range(58))
            burst.append(sentence("PDBG,TRACK,%s" % words))
        out += burst
    return "".join(out).encode("latin-1")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--receiver", choices=["gps-beidou", "gps-only"], default="gps-beidou")
    parser.add_argument("--seconds", type=int, default=None,
                        help="bursts to write (default: the whole route, %d)" % sum(r[0] for r in ROUTE))
    parser.add_argument("--seed", type=int, default=20240514)
    parser.add_argument("-o", "--output", default="-")
    args = parser.parse_args(argv)
    total = sum(r[0] for r in ROUTE)
    seconds = total if args.seconds is None else max(1, min(args.seconds, total))
    data = generate(args.receiver, seconds, args.seed)
    if args.output == "-":
        sys.stdout.buffer.write(data)
    else:
        with open(args.output, "wb") as handle:
            handle.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
