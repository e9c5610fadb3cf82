#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, only when something
# is missing. Debian packages only; nothing is downloaded from anywhere else.
set -euo pipefail
packages=(
  cmake ninja-build g++ make pkg-config          # native build of the rules and host tools
  googletest                                     # GoogleTest sources, built by the project
  nlohmann-json3-dev                             # JSON library (headers)
  zlib1g-dev                                     # zlib: the plate generator, the native decoder tests
  g++-mingw-w64-x86-64 mingw-w64-tools           # cross compiler for Tessary.exe
  libz-mingw-w64-dev                             # zlib for Tessary.exe (the plate's parallel decode)
  wine wine64                                    # runs the program and its tests
  xvfb xauth xdotool x11-utils                   # virtual display and input for UI tests
  imagemagick                                    # screenshots and reference decodes
  zip unzip                                      # the release zip
  clang libclang-rt-14-dev                       # libFuzzer targets (scripts/fuzz.sh)
  libjpeg62-turbo-dev libpng-dev libtiff-dev     # reference readers of the fuzz targets and decoder tests
  libvips-tools                                  # a native reference of the load benchmark (vips)
  fonts-liberation fonts-wine                    # fonts for the desk under Wine
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
