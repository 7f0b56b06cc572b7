#!/usr/bin/env bash
# Builds every test under AddressSanitizer and UndefinedBehaviorSanitizer (installing what is missing)
# and runs them all. The tests start their own peers on loopback and in private network namespaces.
# Then every fuzz target runs over its seeds and 20 s of new inputs (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-packages.sh g++ cmake ninja-build qt6-base-dev qt6-qpa-plugins libgl-dev \
    qt6-charts-dev libqt6opengl6-dev qt6-httpserver-dev qt6-websockets-dev qt6-networkauth-dev prometheus \
    iproute2 nftables python3 python3-aiosmtpd iputils-ping procps openssl \
    qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus-x11 postfix sasl2-bin libsasl2-modules \
    libqt6svg6 desktop-file-utils appstream \
    xvfb trayer dbus-daemon \
    clang-15 libfuzzer-15-dev llvm-15
cmake --preset testing >/dev/null
cmake --build --preset testing
ctest --preset testing
bash scripts/fuzz.sh 20
