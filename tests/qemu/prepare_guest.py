#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Prepares what the QEMU guest boots from: the kernel as an uncompressed ELF (QEMU starts
it through its PVH entry, which skips the boot loader and the in-kernel decompressor) and an
initramfs holding busybox, the SCSI and CD-ROM modules, the guest test program with the
shared libraries it needs, the disc images (made by our ISO9660 producer, read back by
isoinfo and xorriso here) and an /init that runs the program. Beside them: the HFS Plus,
hybrid and UDF discs the guest mounts from drives of their own, each with its expected
listing.

Exit status 0 when prepared, 77 when something the guest needs is not installed (the tests
then skip), 1 on any other failure."""

import argparse
import gzip
import hashlib
import lzma
import os
import random
import re
import shutil
import stat
import struct
import subprocess
import sys
from pathlib import Path

SKIP = 77

# Loaded in this order; each line is one transport's chain after the common SCSI part.
MODULES = [
    "scsi_common", "scsi_mod", "cdrom", "sr_mod", "sg",
    "virtio_ring", "virtio", "virtio_pci_modern_dev", "virtio_pci_legacy_dev", "virtio_pci", "virtio_scsi",
    "libata", "ata_piix", "libahci", "ahci",
    # the kernel's own file-system readers, the strictest check of our volumes
    "isofs", "hfs", "hfsplus", "nls_utf8", "mac_roman", "crc_itu_t", "udf",
]


def fail(message, code=1):
    print("prepare_guest: " + message, file=sys.stderr)
    sys.exit(code)


def newest_kernel():
    kernels = []
    for path in Path("/boot").glob("vmlinuz-*"):
        version = path.name[len("vmlinuz-"):]
        if Path("/lib/modules", version, "modules.dep").exists():
            kernels.append((version, path))
    if not kernels:
        return None
    kernels.sort(key=lambda k: [int(p) if p.isdigit() else p for p in re.split(r"[.-]", k[0])])
    return kernels[-1]


def unpack_vmlinux(bzimage: bytes) -> bytes:
    """The ELF inside a bzImage: the setup header names where the compressed payload starts
    (boot protocol 2.08+, payload_offset at 0x248, payload_length at 0x24c)."""
    if bzimage[0x202:0x206] != b"HdrS" or struct.unpack_from("<H", bzimage, 0x206)[0] < 0x208:
        raise ValueError("not a bzImage with payload fields")
    setup_sects = bzimage[0x1F1] or 4
    offset, length = struct.unpack_from("<II", bzimage, 0x248)
    start = (setup_sects + 1) * 512 + offset
    payload = bzimage[start:start + length]
    if payload.startswith(b"\xfd7zXZ\x00"):
        elf = lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(payload)
    elif payload.startswith(b"\x1f\x8b"):
        elf = gzip.decompress(payload)
    else:
        raise ValueError("payload compression not handled (%r)" % payload[:6])
    if not elf.startswith(b"\x7fELF"):
        raise ValueError("payload is not an ELF image")
    return elf


class Cpio:
    """A 'newc' archive written directly, so that device nodes need no root."""

    def __init__(self):
        self.data = bytearray()
        self.ino = 1

    def _entry(self, name, mode, body=b"", rdev=(0, 0)):
        fields = [self.ino, mode, 0, 0, 1, 0, len(body), 0, 0, rdev[0], rdev[1], len(name) + 1, 0]
        self.ino += 1
        self.data += b"070701" + b"".join(b"%08X" % f for f in fields) + name.encode() + b"\0"
        self.data += b"\0" * (-len(self.data) % 4)
        self.data += body
        self.data += b"\0" * (-len(self.data) % 4)

    def directory(self, name):
        self._entry(name, stat.S_IFDIR | 0o755)

    def file(self, name, body, mode=0o644):
        self._entry(name, stat.S_IFREG | mode, body)

    def symlink(self, name, target):
        self._entry(name, stat.S_IFLNK | 0o777, target.encode())

    def chardev(self, name, major, minor):
        self._entry(name, stat.S_IFCHR | 0o600, rdev=(major, minor))

    def finish(self):
        self._entry("TRAILER!!!", 0)
        return bytes(self.data)


def shared_libraries(program):
    """The program's shared-library closure as the dynamic loader resolves it on this host."""
    out = subprocess.run(["ldd", str(program)], capture_output=True, text=True)
    if out.returncode != 0:
        return []  # a static program
    libs = []
    for line in out.stdout.splitlines():
        match = re.search(r"(/\S+)\s+\(0x", line)
        if match:
            libs.append(Path(match.group(1)))
    return libs


INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules.order); do
  insmod /modules/$m.ko || echo "QUILLION-GUEST: insmod $m failed"
done
n=0
while [ ! -e /dev/sr0 ] || [ ! -e /dev/sg0 ]; do
  n=$((n + 1))
  if [ $n -gt 200 ]; then echo "QUILLION-GUEST: no drive appeared"; poweroff -f; fi
  usleep 50000
done
stty -echo </dev/console
scenario=$(sed -n 's/.*quillion.scenario=\([^ ]*\).*/\1/p' /proc/cmdline)
case "$scenario" in
mount:*)
  # Each item is mount:<drive>:<fs>: the disc in the drive whose model the host set to
  # QCD<drive>, mounted read-only by the kernel's <fs> driver; every file's checksum and every
  # folder, tagged with the item. The drive is found by that label, not by probe order.
  mkdir -p /mnt
  for item in $(echo "$scenario" | tr , ' '); do
    pair=${item#mount:}
    drive=${pair%%:*}
    fs=${pair#*:}
    dev=""
    n=0
    while [ -z "$dev" ] && [ $n -le 200 ]; do
      for block in /sys/block/sr*; do
        [ -r "$block/device/model" ] || continue
        set -- $(cat "$block/device/model")
        [ "$1" = "QCD$drive" ] && [ -e "/dev/${block##*/}" ] && dev=/dev/${block##*/}
      done
      [ -z "$dev" ] && usleep 50000
      n=$((n + 1))
    done
    if [ -z "$dev" ]; then
      echo "QUILLION-CHECK FAIL no drive QCD$drive"
      continue
    fi
    echo "QUILLION-DRIVE QCD$drive is $dev"
    options=ro
    [ "$fs" = hfs ] && options=ro,codepage=macroman,iocharset=utf8
    [ "$fs" = hfsplus ] && options=ro,nls=utf8
    [ "$fs" = iso9660 ] && options=ro,iocharset=utf8
    if mount -t "$fs" -o "$options" "$dev" /mnt; then
      (cd /mnt && find . -type f | while IFS= read -r f; do echo "QUILLION-FILE $pair $(md5sum "$f")"; done
       find . -type d | while IFS= read -r d; do [ "$d" = . ] || echo "QUILLION-DIR $pair $d"; done)
      umount /mnt
      echo "QUILLION-RESULT: PASS $item"
    else
      echo "QUILLION-CHECK FAIL mount -t $fs $dev (QCD$drive)"
      dmesg | tail -15
    fi
  done
  poweroff -f
  ;;
esac
/quillion-guest "$scenario" </dev/console >/dev/console 2>&1
poweroff -f
"""


def write_tree(tree: Path, volume: str, kbytes: int, roman_names: bool = False):
    """A few files, every name and byte derived from the volume, so that no two discs share a
    name, a size or file data: a stale read after a media change cannot pass for the new disc.
    One file of `kbytes` KiB plus an odd tail (so its last block is partly padding), a folder
    two levels deep and a name outside ASCII (É and é, which the ISO9660 names cannot hold and
    Joliet keeps)."""
    rng = random.Random(volume)
    tag = volume.rsplit("_", 1)[-1].lower()
    shutil.rmtree(tree, ignore_errors=True)
    nested = tree / ("Folder " + tag) / (tag + " inside")
    nested.mkdir(parents=True)
    (tree / ("DATA-%s.BIN" % tag.upper())).write_bytes(rng.randbytes(kbytes * 1024 + 2 * len(volume) + 1))
    (tree / "README.TXT").write_text("Quillion QEMU fixture %s\n" % volume)
    (nested / ("notes-%s.txt" % tag)).write_text(("%s nested line\n" % volume) * (40 + len(tag)))
    (tree / ("\u00c9t\u00e9 %s.txt" % tag)).write_bytes(rng.randbytes(3000 + len(volume)))
    if roman_names:
        # One file per printable Mac Roman byte, named by that byte and its code: siblings
        # differing from their first byte on, each opened by name through the driver's catalog
        # search. Left out: ':' (the HFS separator), '/' (no Linux name holds it), and 0xC6 and
        # 0xF0, which the kernel's macroman codepage lists as '?'.
        roman = tree / "Roman"
        roman.mkdir()
        for code in range(0x20, 0x100):
            if code in (0x2F, 0x3A, 0xC6, 0xF0):
                continue
            name = bytes([code]).decode("mac_roman") + "-%02x" % code
            (roman / name).write_bytes((name + "\n").encode("utf-8"))


def write_udf_tree(tree: Path, volume: str):
    """Names outside ASCII, an empty file, a file over many blocks, a folder two levels deep,
    a folder of sixty entries (its directory spans several blocks) and the DVD-Video folder,
    which that mode lays out first."""
    rng = random.Random(volume)
    shutil.rmtree(tree, ignore_errors=True)
    (tree / "sub" / "deeper").mkdir(parents=True)
    (tree / "many").mkdir()
    (tree / "VIDEO_TS").mkdir()
    (tree / "a.txt").write_text("alpha\n")
    (tree / "empty.bin").write_bytes(b"")
    (tree / "\u00dcn\u00ef code \u2713.txt").write_bytes(rng.randbytes(3000))
    (tree / "sub" / "deeper" / "b.bin").write_bytes(rng.randbytes(100000))
    for i in range(60):
        (tree / "many" / ("entry number %d.dat" % i)).write_bytes(rng.randbytes(10 + i))
    vmg = b"DVDVIDEO-VMG".ljust(3 * 2048, b"\0")
    (tree / "VIDEO_TS" / "VIDEO_TS.IFO").write_bytes(vmg)
    (tree / "VIDEO_TS" / "VIDEO_TS.BUP").write_bytes(vmg)


def tree_contents(root: Path):
    """Relative path -> bytes for files, None for folders."""
    out = {}
    for path in root.rglob("*"):
        out[str(path.relative_to(root))] = None if path.is_dir() else path.read_bytes()
    return out


def remove_tree(path: Path):
    """Removes a folder that an extraction may have left without write permission."""
    if not path.exists():
        return
    for folder, _, _ in os.walk(path):
        os.chmod(folder, 0o755)
    shutil.rmtree(path)


def cross_check(image: Path, tree: Path, volume: str, work: Path):
    """Reads our image back with readers that share no code with our producer: isoinfo for the
    volume descriptor, xorriso for the Joliet tree, extracted and compared with the source."""
    env = dict(os.environ, LC_ALL="C.UTF-8", TZ="UTC")
    info = subprocess.run(["isoinfo", "-d", "-i", str(image)], capture_output=True, text=True, env=env)
    fields = dict(line.split(": ", 1) for line in info.stdout.splitlines() if ": " in line)
    blocks = image.stat().st_size // 2048
    if fields.get("Volume id") != volume or fields.get("Volume size is") != str(blocks):
        fail("isoinfo reads %s as volume %r of %r blocks, not %r of %d:\n%s" % (
            image.name, fields.get("Volume id"), fields.get("Volume size is"), volume, blocks, info.stdout))
    if "Joliet" not in info.stdout:
        fail("isoinfo finds no Joliet tree in %s" % image.name)
    extracted = work / (image.name + ".extracted")
    remove_tree(extracted)
    run = subprocess.run(["xorriso", "-abort_on", "FAILURE", "-indev", str(image), "-osirrox", "on",
                          "-extract", "/", str(extracted)], capture_output=True, text=True, env=env)
    if run.returncode != 0:
        fail("xorriso cannot extract %s:\n%s" % (image.name, run.stderr))
    got, wanted = tree_contents(extracted), tree_contents(tree)
    remove_tree(extracted)
    if got != wanted:
        differ = sorted(p for p in set(got) | set(wanted) if got.get(p, b"?") != wanted.get(p, b"?"))
        fail("%s read back by xorriso differs from its folder: %s" % (image.name, ", ".join(differ)))


def make_iso(out: Path, name: str, volume: str, kbytes: int, tool: Path):
    """A data disc made by our own ISO9660 producer from a small deterministic tree; the guest
    compares every block the drive serves with it."""
    tree = out / (name + ".tree")
    write_tree(tree, volume, kbytes)
    tmp = out / (name + ".tmp")
    made = subprocess.run([str(tool), str(tree), volume, str(tmp)], capture_output=True, text=True)
    if made.returncode != 0:
        fail("%s could not make %s:\n%s" % (tool.name, name, made.stderr))
    if tmp.stat().st_size % 2048 != 0 or tmp.stat().st_size < 18 * 2048:
        fail("%s made %s of %d bytes" % (tool.name, name, tmp.stat().st_size))
    cross_check(tmp, tree, volume, out)
    shutil.rmtree(tree)
    os.replace(tmp, out / name)
    return out / name


def make_mounted(out: Path, name: str, volume: str, code: str, tool: Path, fill):
    """A disc the guest mounts (data disc format `code`: HFS, HFS Plus, a hybrid or UDF) made
    by our producers from the tree `fill` writes, with "<name>.md5" beside it: every file's
    checksum and path and every folder's path ("./folder/"), as the guest prints them for the
    mounted volume."""
    tree = out / (name + ".tree")
    fill(tree)
    tmp = out / (name + ".tmp")
    made = subprocess.run([str(tool), str(tree), volume, str(tmp), code], capture_output=True, text=True)
    if made.returncode != 0:
        fail("%s could not make %s:\n%s" % (tool.name, name, made.stderr))
    lines = []
    for path, body in sorted(tree_contents(tree).items()):
        lines.append("./%s/" % path if body is None else "%s  ./%s" % (hashlib.md5(body).hexdigest(), path))
    (out / (name + ".md5")).write_text("\n".join(lines) + "\n")
    shutil.rmtree(tree)
    os.replace(tmp, out / name)


def shared_blocks(a: bytes, b: bytes):
    """LBAs past the system area where two discs hold the same bytes. Only the volume
    descriptor set terminator may repeat: it is the same on every disc."""
    same = []
    for lba in range(16, min(len(a), len(b)) // 2048):
        block = a[lba * 2048:(lba + 1) * 2048]
        if block == b[lba * 2048:(lba + 1) * 2048] and block[:7] != b"\xff" + b"CD001\x01":
            same.append(lba)
    return same


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, type=Path)
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--make-disc", required=True, type=Path,
                        help="the tool that makes a disc image from a folder with our ISO9660 producer")
    parser.add_argument("--iso", action="append", default=[],
                        help="name:VOLUME:kilobytes (of its largest file), a data disc made here and put in the "
                             "guest's /fixture")
    parser.add_argument("--mac", action="append", default=[],
                        help="name:VOLUME:kilobytes:code[:roman], an HFS, HFS Plus or hybrid disc (data disc format "
                             "code) made here for the guests that mount it; roman adds a folder with a "
                             "name for every printable Mac Roman byte")
    parser.add_argument("--udf", action="append", default=[],
                        help="name:VOLUME:code, a UDF disc (data disc format code) made here for the guests "
                             "that mount it")
    args = parser.parse_args()

    found = newest_kernel()
    busybox = shutil.which("busybox") or "/bin/busybox"
    if not found:
        fail("no kernel with modules in /boot (package linux-image-amd64)", SKIP)
    if not Path(busybox).exists():
        fail("no busybox (package busybox-static)", SKIP)
    for tool, package in [("isoinfo", "genisoimage"), ("xorriso", "xorriso")]:
        if not shutil.which(tool):
            fail("no %s (package %s)" % (tool, package), SKIP)
    if shared_libraries(busybox):
        fail("busybox is not statically linked (package busybox-static)", SKIP)
    version, bzimage = found
    args.out.mkdir(parents=True, exist_ok=True)

    try:
        elf = unpack_vmlinux(bzimage.read_bytes())
    except (OSError, ValueError, lzma.LZMAError) as e:
        fail("cannot unpack %s: %s" % (bzimage, e), SKIP)

    archive = Cpio()
    for d in ["bin", "dev", "proc", "sys", "modules", "fixture", "lib", "lib64", "usr", "usr/lib", "tmp"]:
        archive.directory(d)
    archive.chardev("dev/console", 5, 1)
    archive.file("bin/busybox", Path(busybox).read_bytes(), 0o755)
    archive.file("init", INIT.encode(), 0o755)

    moddir = Path("/lib/modules", version)
    deps = {}
    for line in (moddir / "modules.dep").read_text().splitlines():
        name = line.split(":", 1)[0]
        deps[Path(name).name.split(".ko")[0].replace("-", "_")] = name
    order = []
    for module in MODULES:
        if module not in deps:
            continue  # built into this kernel
        path = moddir / deps[module]
        if path.suffix != ".ko":
            fail("module %s is compressed (%s); the guest's insmod takes plain .ko files" % (module, path))
        archive.file("modules/%s.ko" % module, path.read_bytes())
        order.append(module)
    archive.file("modules.order", ("\n".join(order) + "\n").encode())

    archive.file("quillion-guest", args.program.read_bytes(), 0o755)
    made = set()
    for lib in shared_libraries(args.program):
        real = lib.resolve()
        target = str(lib).lstrip("/")
        parts = Path(target).parts
        for i in range(1, len(parts)):
            folder = "/".join(parts[:i])
            if folder not in made and folder not in ("lib", "lib64", "usr", "usr/lib"):
                archive.directory(folder)
                made.add(folder)
        archive.file(target, real.read_bytes(), 0o755)
    discs = {}
    for spec in args.iso:
        name, volume, kbytes = spec.split(":")
        discs[name] = make_iso(args.out, name, volume, int(kbytes), args.make_disc).read_bytes()
        archive.file("fixture/" + name, discs[name])
    for spec in args.mac:
        name, volume, kbytes, code, *extra = spec.split(":")
        make_mounted(args.out, name, volume, code, args.make_disc,
                     lambda tree, v=volume, k=int(kbytes), r="roman" in extra: write_tree(tree, v, k, r))
    for spec in args.udf:
        name, volume, code = spec.split(":")
        make_mounted(args.out, name, volume, code, args.make_disc, lambda tree, v=volume: write_udf_tree(tree, v))
    names = sorted(discs)
    for i, first in enumerate(names):
        for second in names[i + 1:]:
            same = shared_blocks(discs[first], discs[second])
            if same:
                fail("%s and %s hold the same bytes at blocks %s: a stale read there would pass" % (
                    first, second, ", ".join(map(str, same[:10]))))

    # Written beside, then renamed: a guest that boots from the old files keeps them.
    for name, body in [("vmlinux", elf), ("initramfs.cpio.gz", gzip.compress(archive.finish(), 1))]:
        tmp = args.out / (name + ".tmp")
        tmp.write_bytes(body)
        os.replace(tmp, args.out / name)
    (args.out / "kernel-version").write_text(version + "\n")
    print("prepare_guest: kernel %s, %d modules" % (version, len(order)))


if __name__ == "__main__":
    main()
