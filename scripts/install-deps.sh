#!/usr/bin/env bash
# Installs the system packages the build, the tests and the benchmark need, when missing.
# Checks with dpkg first and runs apt-get (update once) only when something is missing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # codec libraries
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libtiff-dev libgif-dev libopenjp2-7-dev
  libraw-dev libexif-dev libimagequant-dev
  # fonts for the text engine ("Arial" resolves to Liberation Sans)
  fontconfig fonts-liberation
  # independent decoders the tests cross-check against
  python3 python3-pil graphicsmagick libjpeg-turbo-progs
  # sanitizer and fuzzer runtimes
  clang libclang-rt-14-dev
)
if [ "${QUILLOMAR_BENCH:-0}" = 1 ]; then
  packages+=(hyperfine imagemagick libvips-tools time)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" >/dev/null 2>&1 || ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
