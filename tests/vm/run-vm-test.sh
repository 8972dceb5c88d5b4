#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# run-vm-test.sh CACHE LIBRARY VMCHECK: boots a small Linux guest under QEMU
# (software emulation, no KVM needed) with the kernel's parport, parport_pc,
# ppdev and lp drivers on an emulated ISA port at 0x378 and its HID stack
# (hid, hid-generic, hidraw) with uhid for USB relay boards and hid-cp2112 for
# a USB chip's GPIO lines, and its USB host stack with a gadget on dummy_hcd
# through FunctionFS for FTDI boards, runs vmcheck there
# against our libFENWIX.so, and fails on any failed case or a guest that does
# not finish in time. Everything comes from Debian packages; the kernel
# package is downloaded once into CACHE.
set -euo pipefail
# The guest is Debian's amd64 kernel with our amd64 programs: elsewhere the
# test says it is skipped (CTest counts it as such), never a silent pass.
if [ "$(uname -m)" != x86_64 ]; then
    echo "vm: skipped: the guest runs amd64 programs, and this machine is $(uname -m)"
    exit 77
fi
cache=${1:?cache folder}
library=${2:?libFENWIX.so}
vmcheck=${3:?vmcheck}
mkdir -p "$cache"

# The kernel image and its modules, from Debian's package (not installed).
if [ ! -s "$cache/vmlinuz" ]; then
    kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}'; }
    pkg=$(kernel_package)
    if [ -z "$pkg" ] && [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq >/dev/null 2>&1 || true
        pkg=$(kernel_package)
    fi
    [ -n "$pkg" ] || { echo "vm: no linux-image package known to apt (run apt-get update)"; exit 1; }
    rm -rf "$cache/kernel" "$cache"/*.deb
    (cd "$cache" && apt-get download "$pkg" >/dev/null 2>&1) ||
        { echo "vm: apt-get download $pkg failed"; exit 1; }
    dpkg-deb -x "$cache"/"$pkg"_*.deb "$cache/kernel"
    rm -f "$cache"/*.deb
    cp "$cache"/kernel/boot/vmlinuz-* "$cache/vmlinuz.part"
    mv "$cache/vmlinuz.part" "$cache/vmlinuz"
fi

# Under software emulation most of a start is the kernel unpacking itself:
# its xz stream is unpacked once here into an ELF image, which QEMU starts at
# the kernel's PVH entry point.
if [ ! -s "$cache/vmlinux" ]; then
    offset=$(LC_ALL=C grep -m1 -obUaP '\xFD\x37\x7A\x58\x5A\x00' "$cache/vmlinuz" | cut -d: -f1)
    # xz stops at the stream's end, which ends tail early: that is no failure.
    if [ -n "$offset" ] &&
        { tail -c +$((offset + 1)) "$cache/vmlinuz" || true; } |
        xz -dc --single-stream >"$cache/vmlinux.part" &&
        readelf -n "$cache/vmlinux.part" 2>/dev/null | grep -q 'Xen.*0x00000012'; then
        mv "$cache/vmlinux.part" "$cache/vmlinux"
    else
        rm -f "$cache/vmlinux.part" # no PVH entry: the compressed image is started
    fi
fi
kernel=$cache/vmlinuz
[ -s "$cache/vmlinux" ] && kernel=$cache/vmlinux

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 755 "$root" # the guest's /: ordinary users run programs too
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,modules,usr/lib}
cp /bin/busybox "$root/bin/busybox"
# The drivers and what they depend on (modinfo's "depends=" field).
add_module() {
    local name=$1 file dep
    [ -f "$root/modules/$name.ko" ] && return 0
    file=$(find "$cache/kernel/lib/modules" -name "$name.ko" | head -n1)
    [ -n "$file" ] || { echo "vm: module $name not found"; exit 1; }
    for dep in $(grep -a -o 'depends=[a-z0-9_,-]*' "$file" | head -n1 | cut -d= -f2 | tr , ' '); do
        add_module "$dep"
    done
    cp "$file" "$root/modules/$name.ko"
    echo "$name" >>"$root/modules/order" # after what it depends on
}
for m in parport parport_pc ppdev lp hid hid-generic uhid hid-cp2112 dummy_hcd libcomposite usb_f_fs; do
    add_module "$m"
done
# Two full-speed controllers, one gadget on each.
echo "is_high_speed=0 num=2" >"$root/modules/dummy_hcd.params"
# Our program and library with the shared libraries they use.
cp "$vmcheck" "$root/vmcheck"
cp "$library" "$root/usr/lib/libFENWIX.so"
for f in "$vmcheck" "$library"; do
    ldd "$f" | awk '/=> \// {print $3} /^\t\/lib/ {print $1}'
done | sort -u | while read -r so; do
    mkdir -p "$root$(dirname "$so")"
    cp -L "$so" "$root$so"
done
cat >"$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
chmod 1777 /tmp
# lp is loaded by a case of its own.
for m in $(grep -vx lp /modules/order); do
    insmod /modules/$m.ko $(cat /modules/$m.params 2>/dev/null) || echo "CASE insmod $m: FAIL"
done
mount -t configfs none /sys/kernel/config
echo "VMCHECK START"
/vmcheck /modules/lp.ko
echo "VMCHECK EXIT $?"
poweroff -f
INIT
chmod 755 "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$root.cpio.gz"
trap 'rm -rf "$root" "$root.cpio.gz"' EXIT

log="$cache/console.log"
started=$(date +%s%N)
# The boot time: from QEMU's start to the guest's first line of ours.
timeout 240 qemu-system-x86_64 -M pc -accel tcg -m 256 -nographic -no-reboot \
    -kernel "$kernel" -initrd "$root.cpio.gz" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3" \
    -parallel none -chardev null,id=lpt -device isa-parallel,chardev=lpt,iobase=0x378,irq=7 \
    -nic none -monitor none -serial stdio </dev/null 2>&1 |
    while IFS= read -r line; do
        printf '%s\n' "$line"
        case $line in
        *"VMCHECK START"*)
            ms=$((($(date +%s%N) - started) / 1000000))
            printf 'vm: the guest booted in %d.%03d s (%s)\n' $((ms / 1000)) $((ms % 1000)) \
                "$(basename "$kernel")" >&2
            ;;
        esac
    done >"$log" || true

tr -d '\r' <"$log" | grep -E '^(CASE|FIGURE|VMCHECK)' || true
if ! grep -q 'VMCHECK PASSED' "$log"; then
    echo "vm: the guest did not pass (console: $log)"
    tail -n 30 "$log"
    exit 1
fi
if grep -q ': FAIL' "$log"; then
    exit 1
fi
echo "vm: all cases passed"
