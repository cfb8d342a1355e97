#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Reads a native image file (.wlt) straight from its documented layout, independently of
the engine: a 93,774-byte little-endian header (magic 0xCD77CD88, 99 session records of 90
bytes at 1198, 99 track records of 842 bytes at 10110, CD-Text offset and length at 93508),
then the tracks' data and the raw CD-Text block.

Usage: wlt_reader.py IMAGE [OUTDIR]
Prints the header as JSON; with OUTDIR, writes each track's data to trackNN.bin and the
CD-Text block to cdtext.bin. Exits 2 for a file that is not a valid image."""

import json
import struct
import sys

HEADER = 93774
MAGIC = 0xCD77CD88


def u16(b, at):
    return struct.unpack_from("<H", b, at)[0]


def u32(b, at):
    return struct.unpack_from("<I", b, at)[0]


def i32(b, at):
    return struct.unpack_from("<i", b, at)[0]


def u64(b, at):
    return struct.unpack_from("<Q", b, at)[0]


def fail(why):
    print(why, file=sys.stderr)
    sys.exit(2)


def session(b, at):
    return {
        "firstTrack": u16(b, at),
        "trackCount": u16(b, at + 2),
        "sessionAtOnce": b[at + 4],
        "marker": b[at + 8],
        "type": u16(b, at + 12),
        "closeDisc": b[at + 14],
        "start": i32(b, at + 18),
        "reservedZero": not any(b[at + 5:at + 8]) and not any(b[at + 9:at + 12])
        and not any(b[at + 15:at + 18]) and not any(b[at + 22:at + 90]),
    }


def track(b, at):
    short_offset = u32(b, at + 286)
    short_length = u32(b, at + 290)
    return {
        "number": u16(b, at),
        "type": u16(b, at + 4),
        "typeExtra": u16(b, at + 6),
        "blockSize": u32(b, at + 282),
        "info": b[at + 302:at + 318].hex(),
        "pregap": u16(b, at + 324),
        "start": u32(b, at + 720),
        "length": short_length or u64(b, at + 724),
        "offset": short_offset or u64(b, at + 732),
        "shortForms": [short_offset, short_length],
        "reservedZero": not any(b[at + 2:at + 4]) and not any(b[at + 8:at + 282])
        and not any(b[at + 294:at + 302]) and not any(b[at + 318:at + 324])
        and not any(b[at + 326:at + 720]) and not any(b[at + 740:at + 842]),
    }


def main():
    data = open(sys.argv[1], "rb").read()
    if len(data) < HEADER:
        fail("short header")
    if u32(data, 0) != MAGIC:
        fail("wrong magic")
    sessions = u16(data, 1196)
    tracks = u16(data, 10108)
    if sessions > 99 or tracks > 99:
        fail("counts over 99")
    out = {
        "created": u32(data, 10),
        "sessions": [session(data, 1198 + 90 * i) for i in range(sessions)],
        "tracks": [track(data, 10110 + 842 * i) for i in range(tracks)],
        "cdTextOffset": u32(data, 93508),
        "cdTextLength": u32(data, 93512),
        "fileSize": len(data),
        "unusedRecordsZero": not any(data[1198 + 90 * sessions:10108])
        and not any(data[10110 + 842 * tracks:93468]),
        "reservedZero": not any(data[4:10]) and not any(data[14:1196])
        and not any(data[93468:93508]) and not any(data[93516:HEADER]),
    }
    for t in out["tracks"]:
        if t["offset"] + t["length"] > len(data):
            fail("track %d past the end" % t["number"])
    if len(sys.argv) > 2:
        for t in out["tracks"]:
            with open("%s/track%02d.bin" % (sys.argv[2], t["number"]), "wb") as f:
                f.write(data[t["offset"]:t["offset"] + t["length"]])
        if out["cdTextOffset"] and out["cdTextLength"]:
            with open("%s/cdtext.bin" % sys.argv[2], "wb") as f:
                f.write(data[out["cdTextOffset"]:out["cdTextOffset"] + out["cdTextLength"]])
    print(json.dumps(out))


main()
