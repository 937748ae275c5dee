#!/usr/bin/env bash
# Installs the Debian packages that Ferrodex needs. As root it runs apt-get;
# otherwise it prints the exact commands to run and fails.
#
#   scripts/setup.sh              what building and running the program needs
#   scripts/setup.sh --tests      and what the whole test run needs besides
#   scripts/setup.sh --windows    and the Windows toolchain (MinGW-w64, NSIS,
#                                 Wine and the i386 architecture)
#
# run.sh asks for the first set only; test.sh asks for all three.
set -euo pipefail

with_tests=
with_windows=
for arg in "$@"; do
  case $arg in
    --tests) with_tests=1 ;;
    --windows) with_windows=1 ;;
    *) echo "usage: $0 [--tests] [--windows]" >&2; exit 2 ;;
  esac
done

# The program, its module and the engine tools. GoogleTest is here because
# configuring any Linux preset reads the test folders.
packages=(build-essential cmake ninja-build pkg-config ccache
          libssl-dev zlib1g-dev libpugixml-dev libsqlite3-dev libpq-dev libncurses-dev libcli11-dev
          libgtest-dev libgmock-dev
          lshw
          g++-aarch64-linux-gnu)  # the engine package's static lshw for arm64 hosts
if [ -n "$with_tests" ]; then
  packages+=(libbenchmark-dev tmux postgresql
             clang libclang-rt-14-dev)  # the fuzz build: clang with libFuzzer and the sanitizers
fi
# The Windows module: MinGW-w64 (posix threads), windres, the installer, and
# Wine to test it, installed with what they recommend (the Wine libraries its
# built-in system DLLs load).
windows_packages=()
need_i386=
if [ -n "$with_windows" ]; then
  windows_packages=(g++-mingw-w64-i686-posix mingw-w64-tools nsis wine wine32:i386)
  # wine32 is an i386 package: dpkg must know the architecture first.
  dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
fi

not_installed() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(not_installed "${packages[@]}")
mapfile -t missing_windows < <(not_installed "${windows_packages[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_windows[@]} -eq 0 ] && [ -z "$need_i386" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  [ -z "$need_i386" ] || dpkg --add-architecture i386
  apt-get update -qq
  [ ${#missing[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${missing[@]}"
  [ ${#missing_windows[@]} -eq 0 ] || apt-get install -y -qq "${missing_windows[@]}"
else
  echo "Ferrodex needs these packages. Run:" >&2
  [ -z "$need_i386" ] || echo "  sudo dpkg --add-architecture i386 && sudo apt-get update" >&2
  [ ${#missing[@]} -eq 0 ] || echo "  sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
  [ ${#missing_windows[@]} -eq 0 ] || echo "  sudo apt-get install -y ${missing_windows[*]}" >&2
  exit 1
fi
