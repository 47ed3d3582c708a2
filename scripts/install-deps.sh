#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need,
# touching apt only when something is missing.
set -euo pipefail

packages=(
  g++ make cmake ninja-build pkg-config gzip
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libsdl2-dev libfreetype-dev libpng-dev libjpeg-dev
  libpixman-1-dev libstb-dev
  fonts-dejavu-core fonts-dejavu-extra fonts-linuxlibertine
  clang libclang-rt-14-dev clang-format clang-tidy
  xvfb xdotool libcairo2-dev
  libx11-dev libxkbcommon-dev libxkbcommon-x11-dev libxcb-xkb-dev xkb-data x11-xkb-utils
  xdg-utils libglib2.0-bin
  e2fsprogs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "error: missing packages and neither root nor sudo available: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
