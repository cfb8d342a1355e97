#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Boots a QEMU guest whose Linux kernel mounts a disc image with its own udf driver
(read-only, from a SCSI CD-ROM) and prints every file's MD5 and path, one
"QUILLION-UDF-FILE <md5>  ./<path>" line each, then "QUILLION-UDF-END". The kernel and
the module-packing helpers are those of prepare_guest.py.

    udf_mount_guest.py IMAGE WORK

Exit status 0 when the guest ran to its end line (its lines on standard output), 77 when
QEMU, a kernel or busybox is missing, 1 otherwise."""

import gzip
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import prepare_guest as guest  # noqa: E402

MODULES = [
    "scsi_common", "scsi_mod", "cdrom", "sr_mod",
    "virtio_ring", "virtio", "virtio_pci_modern_dev", "virtio_pci_legacy_dev", "virtio_pci", "virtio_scsi",
    "crc_itu_t", "udf",
]

INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules.order); do
  insmod /modules/$m.ko || echo "QUILLION-UDF: insmod $m failed"
done
n=0
while [ ! -e /dev/sr0 ]; do
  n=$((n + 1))
  if [ $n -gt 200 ]; then echo "QUILLION-UDF: no drive appeared"; poweroff -f; fi
  usleep 50000
done
mkdir -p /mnt
if mount -t udf -o ro /dev/sr0 /mnt; then
  cd /mnt
  find . -type f | sort | while read -r f; do echo "QUILLION-UDF-FILE $(md5sum "$f")"; done
  find . -type d | sort | while read -r d; do echo "QUILLION-UDF-DIR $d"; done
  cd /
  umount /mnt
else
  echo "QUILLION-UDF: mount failed"
  dmesg | tail -5
fi
echo "QUILLION-UDF-END"
poweroff -f
"""


def main():
    if len(sys.argv) != 3:
        guest.fail("usage: udf_mount_guest.py IMAGE WORK")
    image, work = Path(sys.argv[1]), Path(sys.argv[2])
    qemu = shutil.which("qemu-system-x86_64")
    found = guest.newest_kernel()
    busybox = shutil.which("busybox") or "/bin/busybox"
    if not qemu or not found or not Path(busybox).exists() or guest.shared_libraries(busybox):
        guest.fail("QEMU, a kernel with modules or a static busybox is missing", guest.SKIP)
    version, bzimage = found
    work.mkdir(parents=True, exist_ok=True)
    vmlinux = work / "vmlinux"
    vmlinux.write_bytes(guest.unpack_vmlinux(bzimage.read_bytes()))

    archive = guest.Cpio()
    for d in ["bin", "dev", "proc", "sys", "modules", "mnt", "tmp"]:
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
            guest.fail("module %s is compressed (%s)" % (module, path))
        archive.file("modules/%s.ko" % module, path.read_bytes())
        order.append(module)
    archive.file("modules.order", ("\n".join(order) + "\n").encode())
    initramfs = work / "initramfs.cpio.gz"
    initramfs.write_bytes(gzip.compress(archive.finish(), 1))

    argv = ["timeout", "-k", "5", "150", qemu, "-accel", "tcg", "-machine", "pc", "-nodefaults",
            "-display", "none", "-no-reboot", "-m", "256", "-smp", "1", "-net", "none",
            "-kernel", str(vmlinux), "-initrd", str(initramfs),
            "-append", "console=ttyS0 panic=-1 quiet",
            "-drive", "if=none,id=cd0,media=cdrom,readonly=on,format=raw,file=%s" % image,
            "-device", "virtio-scsi-pci,id=scsi0", "-device", "scsi-cd,bus=scsi0.0,drive=cd0",
            "-serial", "stdio"]
    if Path("/usr/share/qemu/qboot.rom").exists():
        argv += ["-bios", "/usr/share/qemu/qboot.rom"]
    run = subprocess.run(argv, capture_output=True, stdin=subprocess.DEVNULL)
    out = run.stdout.decode("utf-8", "replace").replace("\r", "")
    print(out)
    if "QUILLION-UDF-END" not in out:
        guest.fail("the guest did not finish (exit %d): %s" % (run.returncode, run.stderr.decode(errors="replace")))


if __name__ == "__main__":
    main()
