#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Reads a layout record buffer on its own, from the record table alone, and prints one
line per record:  version length kind expanded parent pause title path  (tab-separated),
then "end <records> <bytes>". Exits with 1 and a message on the first thing that breaks
the table: a wrong magic, a length that disagrees with the names, reserved bytes that are
not zero, a record that runs past the buffer."""
import struct
import sys

HEAD = 59


def main(path):
    data = open(path, "rb").read()
    at = 0
    count = 0
    out = []
    while at < len(data):
        if len(data) - at < HEAD:
            sys.exit(f"record {count}: head cut at byte {at}")
        magic = data[at:at + 4]
        version, length, title_len, path_len, kind, expanded, parent, pause = struct.unpack_from(
            "<HHHHHHIh", data, at + 4)
        if magic != b"TMND":
            sys.exit(f"record {count}: magic {magic!r}")
        if length != HEAD + title_len + path_len:
            sys.exit(f"record {count}: length {length} for names {title_len} + {path_len}")
        if at + length > len(data):
            sys.exit(f"record {count}: runs past the buffer")
        if any(data[at + 22:at + HEAD]):
            sys.exit(f"record {count}: reserved bytes not zero")
        if kind & ~0x3:
            sys.exit(f"record {count}: kind bits {kind:#x}")
        if expanded not in (0, 1):
            sys.exit(f"record {count}: expanded {expanded}")
        title = data[at + HEAD:at + HEAD + title_len].decode("utf-8")
        full = data[at + HEAD + title_len:at + length].decode("utf-8")
        out.append("\t".join(str(v) for v in (version, length, kind, expanded, parent, pause, title, full)))
        at += length
        count += 1
    out.append(f"end {count} {at}")
    print("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
