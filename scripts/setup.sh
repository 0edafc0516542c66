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
  # standard VXI-11 clients of the simulator's LAN face
  lxi-tools python3-pyvisa python3-pyvisa-py
  # Osprey for Windows: the cross compiler, and Wine to run it (scripts/windows.sh)
  g++-mingw-w64-x86-64-posix wine wine64
  # Kestrel.dll: widl and the OLE interface definitions its type library imports
  mingw-w64-tools libwine-dev
  # pictures of the plug-in's Win32 windows under Wine (import, convert)
  imagemagick
  # the Windows package: wixl and msiinfo, its documents as text (groff, col)
  wixl msitools groff-base bsdextrautils
  # comma-decimal locales for the tests that run an update under them
  locales)
[[ ${1:-} == demo ]] && packages=("${demo_packages[@]}")

# install_missing [APT OPTION]... -- PACKAGE...: installs those not installed yet.
install_missing() {
  local options=()
  while [[ $1 != -- ]]; do options+=("$1"); shift; done
  shift
  local missing=()
  for p in "$@"; do
    [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) == *"install ok installed"* ]] || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  local sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing packages: ${missing[*]}" >&2
      echo "Install them as root: apt-get install ${options[*]} ${missing[*]}" >&2
      exit 1
    fi
    sudo_cmd=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${options[@]}" "${missing[@]}"
}
install_missing -- "${packages[@]}"
# The Ansible collection's playbook test: ansible-core alone, without the
# bundle of other collections (500 MB) it recommends.
[[ ${1:-} == demo ]] || install_missing --no-install-recommends -- ansible-core

# The locales those tests switch to, generated only when missing.
wanted_locales=(de_DE.UTF-8 fr_FR.UTF-8)
to_generate=()
have_locales=$(locale -a 2>/dev/null || true)
for l in "${wanted_locales[@]}"; do
  grep -qix "${l/UTF-8/utf8}" <<<"$have_locales" || to_generate+=("$l")
done
if [[ ${1:-} != demo ]] && ((${#to_generate[@]})); then
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  for l in "${to_generate[@]}"; do
    "${sudo_cmd[@]}" sed -i "s/^# *\(${l//./\\.} UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${l//./\\.} UTF-8" /etc/locale.gen || echo "$l UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  done
  echo "Generating locales: ${to_generate[*]}"
  "${sudo_cmd[@]}" locale-gen
fi
