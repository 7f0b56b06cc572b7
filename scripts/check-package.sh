#!/usr/bin/env bash
# Builds the Debian package from the optimised build, installs it with apt in a fresh minimal Debian 12 root and
# runs it there as an ordinary user: `sondrel --help`, then `sondrel --no-window`, which with no saved site makes its
# folders and first log and stops. Prints where the files landed, the capability the package gave the program and
# how long each step took. Slow (it downloads a Debian system), so CI does not run it. Run as root.
# Usage: check-package.sh [PACKAGE.deb]. The mirror is taken from apt's own sources unless SONDREL_MIRROR names one.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "check-package.sh: run as root" >&2; exit 1; }

bash scripts/ensure-packages.sh debootstrap dpkg-dev file

mirror=${SONDREL_MIRROR:-$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p; s/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\)[[:space:]]\+bookworm[[:space:]].*/\2/p' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null |
    grep -v security | head -n 1 || true)}
mirror=${mirror:-http://deb.debian.org/debian}

step() {
    echo "== $1 ($(( SECONDS - started )) s so far)"
}
started=$SECONDS

# A package given as the argument is checked as it is; otherwise it is built first.
package=${1:-}
if [ -z "$package" ]; then
    step "build and package"
    cmake --preset default >/dev/null
    cmake --build --preset default
    rm -rf build/package
    cpack --config build/default/CPackConfig.cmake -G DEB -B build/package
    package=$(ls build/package/sondrel_*.deb)
fi
dpkg-deb --info "$package" | sed -n '/Package:/,$p'
dpkg-deb --contents "$package"

root=$(mktemp -d /var/tmp/sondrel-root.XXXXXX)
chmod 755 "$root" # it becomes /, which every user must be able to enter
cleanup() {
    for mount in proc dev; do
        if mountpoint -q "$root/$mount"; then umount "$root/$mount" || umount -l "$root/$mount"; fi
    done
    if ! grep -q " $root/" /proc/mounts; then rm -rf --one-file-system "$root"; fi
}
trap cleanup EXIT

step "debootstrap bookworm from $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
    { tail -n 20 "$root.debootstrap.log"; exit 1; }
rm -f "$root.debootstrap.log"
mount --bind /dev "$root/dev"
mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$package" "$root/tmp/"

step "apt install ./$(basename "$package")"
chroot "$root" apt-get update -qq
chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "/tmp/$(basename "$package")" |
    tail -n 5

step "run it as an ordinary user"
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
chroot "$root" useradd --create-home tester
echo "ping_group_range: $(cat /proc/sys/net/ipv4/ping_group_range)"
echo "getcap: $(chroot "$root" getcap /usr/bin/sondrel)"
chroot "$root" runuser -u tester -- sondrel --help
status=0
chroot "$root" runuser -u tester -- env XDG_DATA_HOME= sondrel --no-window || status=$?
echo "sondrel --no-window with no saved site ended with status $status"
[ "$status" -eq 2 ]

# Site slot 1 watching 127.0.0.1 every second, as the program stores it (775 bytes: address, packet string,
# interval, main site string, four 16-bit flags; then two empty slots). The echo needs the capability, or ping
# sockets open to the user.
python3 - "$root/home/tester/.local/share/sondrel/data/init.dat" <<'PYTHON'
import struct, sys
def text(value): return value.encode().ljust(255, b" ")
record = text("127.0.0.1") + text("Are you there?") + struct.pack("<h", 1) + text("") + struct.pack("<4h", -1, 0, 0, 0)
open(sys.argv[1], "wb").write(record + bytes(2 * len(record)))
PYTHON
chroot "$root" chown tester: /home/tester/.local/share/sondrel/data/init.dat
chroot "$root" runuser -u tester -- timeout --preserve-status -s TERM 3.5 sondrel --no-window | tee "$root/echo.out"
grep -q "Trip Time=" "$root/echo.out"

echo "files of tester:"
chroot "$root" find /home/tester/.local -printf '%M %u %p\n'
echo "files in /usr/share/sondrel: $(chroot "$root" ls /usr/share/sondrel)"
chroot "$root" test -s /home/tester/.local/share/sondrel/logs/000002.log
chroot "$root" test -f /usr/share/sondrel/SDR.html
if chroot "$root" test -e /usr/bin/data -o -e /usr/bin/logs; then echo "files were made beside the program" >&2; exit 1; fi

step "done"
