#!/usr/bin/env bash
# Installs what is missing, builds in Release, and runs the main job: the window when a
# display is there; otherwise quillomar-batch over examples/ with the default settings into
# out/.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j "$(nproc)"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec ./build-release/src/app/quillomar "$@"
fi
mkdir -p out
exec ./build-release/src/app/quillomar-batch --verbose --output out --replace all examples
