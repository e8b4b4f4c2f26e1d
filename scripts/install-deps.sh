#!/usr/bin/env bash
# Installs what Quelt needs to build, run and test on Debian 12. Safe to run again:
# apt-get is only called when something is missing.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config
  # the engine tells the character set of stored names with uchardet
  libuchardet-dev
  qt6-base-dev libgl-dev libjpeg-dev libpng-dev
  # the image viewer reads TIFF (and more) through Qt's extra image plugins
  qt6-image-formats-plugins
  # the engine reads bzip2, LZMA, xz and Zstandard entries and AES through Debian's libraries
  libbz2-dev liblzma-dev libzstd-dev libssl-dev
  # tests: GoogleTest, the fuzzers' compiler, the other ZIP tools we must agree with, a headless X server
  googletest libgtest-dev clang libclang-rt-14-dev
  zip unzip p7zip-full libarchive-tools python3 sharutils zstd
  xvfb xauth x11-apps x11-utils xdotool imagemagick fonts-dejavu-core
  # glyphs for the Chinese, Japanese and Korean names of the name-encoding screenshot
  fonts-noto-cjk
  # the desktop's mail and file-type tools; GLib's own readers of what we write for the desktop
  xdg-utils libglib2.0-0 libglib2.0-bin
  # the virus-scan tests run the real scanner on a signature file of their own
  clamav
  # the editor's printing is read back from PDF
  poppler-utils
  # benchmarks only: the reference codecs we are measured against
  zlib1g-dev libdeflate-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
