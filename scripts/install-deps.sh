#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Volren need,
# or the packages named on the command line instead (the benchmarks use that).
# Only missing packages are installed; nothing happens when all are present.
set -euo pipefail

default_packages=(
  build-essential
  cmake
  pkg-config
  qt6-base-dev
  qt6-base-dev-tools
  libqt6opengl6-dev
  qt6-qpa-plugins
  libglew-dev
  libglu1-mesa-dev
  libtbb-dev
  libgl-dev
  libxcb1-dev
  fonts-liberation2
  libgl1-mesa-dri
  libglx-mesa0
  mesa-utils
  xvfb
  xauth
  libgtest-dev
  libgmock-dev
  googletest
  libbenchmark-dev
  clang-format
  # Movies from the window and volren-render: H.264 in MP4 through FFmpeg's
  # libraries, and the colour conversion to the video's planes.
  libavcodec-dev
  libavformat-dev
  libavutil-dev
  libswscale-dev
  # make package: CPack's Debian packages take their dependencies from
  # dpkg-shlibdeps and are checked with lintian.
  dpkg-dev
  lintian
  # make install-test: the package installed into a clean Debian 12 root.
  debootstrap
  # volren-import reads DICOM, NIfTI, NRRD and MetaImage through ITK. GDCM's
  # CMake files name its command-line tools, which are missing without
  # libgdcm-tools and make every configure print a page of complaints.
  libinsighttoolkit5-dev
  libgdcm-tools
  zlib1g-dev
  # make fuzz: the import's fuzz target, built by clang with libFuzzer and
  # its sanitizers; the import library's loops need clang's OpenMP.
  clang
  libclang-rt-14-dev
  libomp-14-dev
)
if [ $# -gt 0 ]; then
  packages=("$@")
else
  packages=("${default_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  apt=(apt-get)
else
  apt=(sudo apt-get)
fi
export DEBIAN_FRONTEND=noninteractive
"${apt[@]}" update
"${apt[@]}" install -y --no-install-recommends "${missing[@]}"
