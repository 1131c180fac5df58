#!/usr/bin/env bash
# An emulated x86 machine with 32-bit Wine, for hosts that cannot run 32-bit
# programs themselves: there the shipped 32-bit program runs in a Debian
# guest under qemu's software emulation (no KVM needed).
#
#   vm32.sh image            builds the guest unless the cache holds it already
#                            and prints the cache directory
#   vm32.sh run JOB [ARGS]   boots the guest, copies the work tree onto its own
#                            disk (at the same path as here: the builds name
#                            their files by absolute path) and runs
#                            `bash JOB ARGS` from the tree's top there; prints
#                            the job's output as it comes and exits with the
#                            job's exit code
#
# The guest is made from this machine's own Debian package sources only
# (mmdebstrap, amd64 with i386 as a second architecture) and kept outside the
# clone, under BOOTSTRAP_VM32_CACHE (default /var/cache/bootstrap-vm32 for
# root, else ~/.cache/bootstrap-vm32), in a directory named after a digest of
# this script: a change to the recipe below builds a new guest, every other
# run on the machine reuses it. Each run boots a throw-away overlay of it.
#
# Settings (environment):
#   BOOTSTRAP_VM32_COPY    directories of the work tree besides its sources
#                          that the job needs (default: build/windows); the
#                          sources are copied without .git and build/
#   BOOTSTRAP_VM32_OUT     a directory of this host the job writes to, seen in
#                          the guest as $VM32_OUT (default: the run's own
#                          build/vm32/run.*/out, beside the guest's console log)
#   BOOTSTRAP_VM32_MEMORY  the guest's memory in MiB (default 4096)
#   BOOTSTRAP_VM32_LIMIT   minutes after which a run is stopped as hung
#                          (default 150)
#
# Inside the guest: the job runs as root with HOME=/root, WINEPREFIX set to a
# 32-bit prefix made when the guest was built (and SCREENSHOTS_WINEPREFIX to a
# second one), and the tree, its temporary directories and the prefixes on
# the guest's own disk: Wine sees no ACLs on the shared folder, which the
# installer's elevated checks refuse.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
self="$here/scripts/vm32.sh"

if [ "$(id -u)" = 0 ]; then
    cacheroot="${BOOTSTRAP_VM32_CACHE:-/var/cache/bootstrap-vm32}"
else
    cacheroot="${BOOTSTRAP_VM32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bootstrap-vm32}"
fi
key="$(sha256sum "$self" | cut -c1-16)"
image="$cacheroot/$key"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"

say() { echo "vm32: $*" >&2; }

# What the guest carries: the kernel, 32-bit Wine with a display and a small
# window manager, the screenshot tools and fonts, and what the tests' scripts
# call (ctest, and the native compiler with its inputs, so that a script's
# `cmake --build` of a copied native build finds it up to date).
guestpackages=(
    linux-image-amd64 mount kmod procps iproute2 psmisc
    wine wine32:i386
    xvfb matchbox-window-manager x11-utils xdotool imagemagick fonts-wqy-microhei locales
    cmake ninja-build g++ googletest
    osslsigncode openssl zip unzip
)

# The host's tools, installed as scripts/install.sh installs the project's.
hosttools() {
    local need=() p
    for p in qemu-system-x86 qemu-utils mmdebstrap e2fsprogs; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
    done
    [ ${#need[@]} = 0 ] && return 0
    say "installing ${need[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}

# The Debian archive entries of this machine's apt sources (binary ones), for
# the guest's apt: those signed by the Debian archive keyring (deb822), and
# one-line entries of this release's suites.
guestsources() {
    local codename f
    codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'BEGIN{RS="";ORS="\n\n"}
             /debian-archive-keyring/ && /(^|\n)Types:[^\n]*deb([ \t]|\n|$)/ {sub(/Types:[^\n]*/,"Types: deb"); print}' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk -v c="$codename" '$1 == "deb" { s = ($2 ~ /^\[/) ? 4 : 3; if ($s == c || index($s, c "-") == 1) print }' "$f"
    done
}

# PID 1 of the guest: mounts what a job needs, runs the job the host left in
# the shared output folder with its output on the second serial port, leaves
# the exit code beside it and powers off.
writeinit() {
    cat >"$1" <<'EOF'
#!/bin/bash
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -o remount,rw /
echo vm32 >/proc/sys/kernel/hostname
ip link set lo up
modprobe 9pnet_virtio
modprobe 9p
mkdir -p /mnt/tree /mnt/out
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,ro tree /mnt/tree
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 out /mnt/out
stty -F /dev/ttyS1 raw -echo
if [ -f /mnt/out/.job ]; then
    bash /mnt/out/.job >/dev/ttyS1 2>&1 </dev/null
    echo $? >/mnt/out/.exit
else
    echo "vm32: no job in the shared folder" >/dev/ttyS1
fi
sync
echo o >/proc/sysrq-trigger
sleep 600
EOF
    chmod 755 "$1"
}

# boot DISK OUTDIR LOGDIR [SHARE [KERNELDIR]]: runs the guest on DISK until it
# powers off (or the limit passes); the job is OUTDIR/.job.
boot() {
    local disk="$1" out="$2" logs="$3" share="${4:-$here}" kernel="${5:-$image}" limit status=0 format=raw
    [ "${disk##*.}" != qcow2 ] || format=qcow2
    limit="${BOOTSTRAP_VM32_LIMIT:-150}"
    : >"$logs/job.log"
    # -cpu qemu64: with richer models the guest kernel faults on 32-bit
    # returns. TSC as the clock source: Wine asks for the time constantly, and
    # an emulated timer device costs an exit each time.
    timeout --foreground -k 30 "$((limit * 60))" \
        qemu-system-x86_64 -accel tcg,thread=multi -cpu qemu64 -smp 2 -m "${BOOTSTRAP_VM32_MEMORY:-4096}" \
        -nodefaults -display none -no-reboot \
        -kernel "$kernel/vmlinuz" -initrd "$kernel/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 init=/usr/local/sbin/vm32init panic=-1 quiet mitigations=off tsc=reliable clocksource=tsc" \
        -drive "file=$disk,if=virtio,cache=unsafe,format=$format" \
        -virtfs "local,path=$share,mount_tag=tree,security_model=none,readonly=on" \
        -virtfs "local,path=$out,mount_tag=out,security_model=none" \
        -serial "file:$logs/console.log" -serial "file:$logs/job.log" </dev/null &
    local qemu=$!
    tail -n +1 -s 0.5 -f --pid="$qemu" "$logs/job.log" &
    local follower=$!
    wait "$qemu" || status=$?
    wait "$follower" || true
    [ "$status" = 124 ] && say "the guest ran past ${limit} minutes and was stopped"
    return 0
}

buildimage() {
    hosttools
    mkdir -p "$cacheroot"
    local work
    work="$(mktemp -d "$cacheroot/build.XXXXXX")"
    trap 'rm -rf "$work"' EXIT
    say "building the guest in $image (once per version of this script; about 10 minutes)"
    guestsources >"$work/debian.sources"
    [ -s "$work/debian.sources" ] || { say "no Debian package source found in /etc/apt"; exit 1; }
    local include
    include="$(
        IFS=,
        echo "${guestpackages[*]}"
    )"
    # The initial RAM disk holds only what finds the root disk: made with
    # every module it takes minutes, at each kernel install.
    mmdebstrap --quiet --mode=root --variant=minbase --architectures=amd64,i386 --include="$include" \
        --essential-hook='mkdir -p "$1/etc/initramfs-tools/conf.d" "$1/usr/share/initramfs-tools/modules.d"' \
        --essential-hook='echo MODULES=list >"$1/etc/initramfs-tools/conf.d/vm32"' \
        --essential-hook='printf "%s\n" virtio_pci virtio_blk ext4 >"$1/usr/share/initramfs-tools/modules.d/vm32"' \
        bookworm "$work/root" "$work/debian.sources" >&2
    cp "$(ls "$work"/root/boot/vmlinuz-* | sort -V | tail -n1)" "$work/vmlinuz"
    cp "$(ls "$work"/root/boot/initrd.img-* | sort -V | tail -n1)" "$work/initrd.img"
    writeinit "$work/root/usr/local/sbin/vm32init"
    chroot "$work/root" localedef -i zh_CN -f GBK zh_CN.GBK
    rm -rf "$work"/root/var/cache/apt/archives/*.deb "$work"/root/var/lib/apt/lists/* "$work"/root/usr/share/doc/*
    # Room for the tree, the builds' copies and a test's 5 GiB file; sparse.
    mke2fs -q -t ext4 -L vm32 -d "$work/root" "$work/root.img" 24G
    rm -rf "$work/root"

    # Wine's prefixes, booted once in the guest itself: their first start is
    # the slow one, and only the guest runs 32-bit Wine.
    mkdir -p "$work/out"
    cat >"$work/out/.job" <<'EOF'
set -e
export HOME=/root WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
mkdir -p /opt/vm32
WINEPREFIX=/opt/vm32/wineprefix wineboot -i
WINEPREFIX=/opt/vm32/wineprefix wineserver -w
# The screenshots' own prefix (they run beside the tests): a copy.
cp -a /opt/vm32/wineprefix /opt/vm32/wineprefix-screens
echo "vm32: Wine prefixes made"
EOF
    boot "$work/root.img" "$work/out" "$work" "$work/out" "$work"
    if [ "$(cat "$work/out/.exit" 2>/dev/null)" != 0 ]; then
        say "making the Wine prefixes in the guest failed; the guest's console said:"
        tail -n 30 "$work/console.log" >&2
        exit 1
    fi
    rm -rf "$work/out" "$work/debian.sources"
    mv "$work" "$image"
    trap - EXIT
}

image() {
    if [ ! -f "$image/root.img" ]; then
        mkdir -p "$cacheroot"
        # One build at a time on this machine; a second caller waits and uses it.
        exec 9>"$cacheroot/.lock"
        flock 9
        [ -f "$image/root.img" ] || buildimage
        flock -u 9
    fi
}

run() {
    local job="${1:?usage: vm32.sh run JOB [ARGS]}"
    shift
    hosttools
    image
    mkdir -p "$here/build/vm32"
    local logs out status args copy
    logs="$(mktemp -d "$here/build/vm32/run.XXXXXX")"
    out="${BOOTSTRAP_VM32_OUT:-$logs/out}"
    mkdir -p "$out"
    out="$(cd "$out" && pwd)"
    rm -f "$out/.job" "$out/.exit"
    qemu-img create -q -f qcow2 -F raw -b "$image/root.img" "$logs/disk.qcow2"
    args=""
    [ $# = 0 ] || args="$(printf ' %q' "$@")"
    copy="${BOOTSTRAP_VM32_COPY-build/windows}"
    cat >"$out/.job" <<EOF
set -e
tree=$(printf %q "$here")
mkdir -p "\$tree"
tar -C /mnt/tree --exclude=./.git --exclude=./build -cf - . | tar -C "\$tree" -xf -
for d in $copy; do
    if [ -d "/mnt/tree/\$d" ]; then
        mkdir -p "\$tree/\$d"
        tar -C "/mnt/tree/\$d" -cf - . | tar -C "\$tree/\$d" -xf -
    fi
done
export HOME=/root VM32_OUT=/mnt/out WINEPREFIX=/opt/vm32/wineprefix SCREENSHOTS_WINEPREFIX=/opt/vm32/wineprefix-screens
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8
cd "\$tree"
set +e
bash $(printf %q "$job")$args
EOF
    boot "$logs/disk.qcow2" "$out" "$logs"
    rm -f "$out/.job"
    if [ ! -f "$out/.exit" ]; then
        say "the job left no exit code; the guest's console ends with:"
        tail -n 30 "$logs/console.log" >&2
        rm -f "$logs/disk.qcow2"
        return 1
    fi
    status="$(cat "$out/.exit")"
    rm -f "$out/.exit" "$logs/disk.qcow2"
    return "$status"
}

case "${1:-}" in
image)
    hosttools
    image
    echo "$image"
    ;;
run)
    shift
    run "$@"
    ;;
*)
    echo "usage: vm32.sh image | run JOB [ARGS]" >&2
    exit 2
    ;;
esac
