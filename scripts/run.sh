#!/usr/bin/env bash
# Builds the program (installing what is missing) and starts it from its build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-packages.sh g++ cmake ninja-build qt6-base-dev qt6-qpa-plugins libgl-dev \
    qt6-charts-dev libqt6opengl6-dev \
    qtkeychain-qt6-dev libsecret-1-0 libqt6svg6 qt6-httpserver-dev qt6-websockets-dev qt6-networkauth-dev
cmake --preset default >/dev/null
cmake --build --preset default
exec ./build/default/bin/sondrel
