#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# The two trees the producer benchmarks lay out, below WORK: small/ (20,000 files of up to
# 6000 bytes in 400 folders) and large/ (six files of 250 MiB). The same seed every time.
# Names after WORK make only those trees.
import os, sys, random
work = sys.argv[1]
wanted = set(sys.argv[2:]) or {"small", "large"}
rng = random.Random(7)
small = os.path.join(work, "small")
for d in range(200 if "small" in wanted else 0):
    folder = os.path.join(small, "folder%03d" % d, "sub%d" % (d % 7))
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, "file_%03d.txt" % f), "wb") as out:
            out.write(rng.randbytes(rng.randint(0, 6000)))
large = os.path.join(work, "large")
if "large" in wanted:
    os.makedirs(large)
chunk = rng.randbytes(1 << 20)
for i in range(6 if "large" in wanted else 0):
    with open(os.path.join(large, "movie%d.bin" % i), "wb") as out:
        for _ in range(250):
            out.write(chunk)
