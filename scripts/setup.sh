#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only when missing.
#   scripts/setup.sh        everything the test command needs
#   scripts/setup.sh demo   only what the demo needs (a compiler and CMake)
set -euo pipefail
demo_packages=(cmake g++ make)
packages=("${demo_packages[@]}" googletest libgtest-dev libgmock-dev qt6-base-dev qt6-qpa-plugins
  clang libclang-rt-14-dev valgrind xvfb xauth
  # the Debian package and its test: manual pages, lintian, shlibs, man -l
  scdoc lintian dpkg-dev file man-db pkg-config
  # the port finder's libudev, the result record test's JSON parser, objcopy for the
  # tests' S-record images
  libudev-dev nlohmann-json3-dev binutils
  # the VXI-11 client: the RPC library and rpcgen
  libtirpc-dev rpcsvc-proto
  # Osprey for Windows: the cross compiler, and Wine to run it (scripts/windows.sh)
  g++-mingw-w64-x86-64-posix wine wine64)
[[ ${1:-} == demo ]] && packages=("${demo_packages[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing packages: ${missing[*]}" >&2
      echo "Install them as root: apt-get install ${missing[*]}" >&2
      exit 1
    fi
    sudo_cmd=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
