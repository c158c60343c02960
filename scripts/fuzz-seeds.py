#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target from NMEA capture files.

usage: fuzz-seeds.py OUT_DIR CAPTURE...

OUT_DIR/<target>/ receives small files shaped as each target reads its input:
raw byte chunks (fuzz_stream), single sentences (fuzz_parsers), a format
choice byte plus a sentence (fuzz_scanner), the twelve raw-set slots of an epoch
as lines (fuzz_raw_data), coordinates with RMC records (fuzz_location), and
request lines of the tool's server (fuzz_requests).
"""
import hashlib
import os
import struct
import sys

# fuzz_scanner's first byte selects a format from its list, whose first eight
# are the parsers' formats in this order.
PARSER_KINDS = ["RMC", "GGA", "GSA", "GLL", "GST", "GSV", "VTG", "ZDA"]
PER_TARGET_LIMIT = 400


def write(out, target, data, written):
    if written.get(target, 0) >= PER_TARGET_LIMIT:
        return
    name = hashlib.sha1(data).hexdigest()
    path = os.path.join(out, target, name)
    if not os.path.exists(path):
        with open(path, "wb") as f:
            f.write(data)
        written[target] = written.get(target, 0) + 1


def sentences(blob):
    for raw in blob.replace(b"\r", b"\n").split(b"\n"):
        start = raw.find(b"$")
        if start >= 0:
            yield raw[start:]


def format_byte(kind, sentence):
    """The parser's own format for its sentence kind, any other one otherwise."""
    if kind in PARSER_KINDS:
        return bytes([PARSER_KINDS.index(kind)])
    return bytes([len(PARSER_KINDS) + len(sentence) % 64])


def epochs(lines):
    """Groups sentences into raw sets: a GGA opens one, like the collector."""
    slots = None
    gsa = 0
    for s in lines:
        kind = s[3:6]
        talker_kind = s[1:6]
        if kind == b"GGA":
            if slots is not None:
                yield slots
            slots = [b""] * 12
            slots[0] = s
            gsa = 0
        elif slots is None:
            continue
        elif kind == b"GSA":
            slots[1 + min(gsa, 1)] = s
            gsa += 1
        elif kind == b"RMC":
            slots[3] = s
        elif kind == b"GSV":
            parts = s.split(b",")
            try:
                number = int(parts[2])
            except (IndexError, ValueError):
                continue
            if 1 <= number <= 4:
                base = 8 if talker_kind.startswith(b"BD") or talker_kind.startswith(b"GB") else 4
                slots[base + number - 1] = s
    if slots is not None:
        yield slots


def main():
    out = sys.argv[1]
    for target in ("fuzz_stream", "fuzz_parsers", "fuzz_scanner", "fuzz_raw_data",
                   "fuzz_location", "fuzz_requests"):
        os.makedirs(os.path.join(out, target), exist_ok=True)
    written = {}
    for path in sys.argv[2:]:
        with open(path, "rb") as f:
            blob = f.read()
        # A few raw chunks per file for the byte stream.
        for offset in range(0, min(len(blob), 4 * 2048), 2048):
            write(out, "fuzz_stream", blob[offset:offset + 2048], written)
        lines = list(sentences(blob))
        seen_types = set()
        for s in lines:
            kind = s[3:6].decode("latin-1")
            if (kind, len(s) // 16) in seen_types:
                continue
            seen_types.add((kind, len(s) // 16))
            write(out, "fuzz_parsers", s[:179], written)
            write(out, "fuzz_scanner", format_byte(kind, s) + s[:179], written)
        for i, slots in enumerate(epochs(lines)):
            if i >= 3:
                break
            write(out, "fuzz_raw_data", b"\n".join(x[:179] for x in slots), written)
    # Coordinates around the edges of the accepted range, with an RMC record
    # (4807.038 N, 1131.000 E, 22.4 kn, 84.4 deg) and a caller's location.
    rmc = struct.pack("<4i i 2i 2i 2i 2i 3i 2i", 12, 35, 19, 0, 1, 4807038, 1000, 1131000,
                      1000, 224, 10, 844, 10, 23, 3, 94, -31, 10)
    for coordinate in (12.5, 45.7625, 180.0, -180.0, -0.5, 10.1, 23.45, 180.0000001,
                       float("nan"), float("inf"), 0.0):
        write(out, "fuzz_location", struct.pack("<d", coordinate) + rmc + bytes(40), written)
    # What the GPS clients send the server, and some it must refuse.
    for request in (b'?WATCH={"enable":true,"json":true};', b'?WATCH={"enable":true,"json":true}',
                    b'?WATCH={"enable":true,"nmea":true,"raw":1,"device":"/dev/ttyS1"};',
                    b'?WATCH;?POLL;?DEVICES;?VERSION;', b'?WATCH={"enable":false};',
                    b'?WATCH={"enable":"yes","scaled":true,"timing":false,"split24":true};',
                    b'?POLL;garbage', b'?FOO;', b'?WATCH={"device":"a\\"}"};'):
        write(out, "fuzz_requests", request, written)
    for target, count in sorted(written.items()):
        print(f"  {target}: {count} seeds")


if __name__ == "__main__":
    main()
