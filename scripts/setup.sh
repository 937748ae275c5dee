#!/usr/bin/env bash
# Installs the Debian packages that building Ferrodex needs. As root it runs
# apt-get; otherwise it prints the exact command to run and fails.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config
          libssl-dev zlib1g-dev libpugixml-dev libsqlite3-dev libncurses-dev libcli11-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          lshw tmux
          g++-aarch64-linux-gnu  # the engine package's static lshw for arm64 hosts
          clang libclang-rt-14-dev)  # the fuzz build: clang with libFuzzer and the sanitizers
# The Windows module: MinGW-w64 (posix threads), windres, the installer, and
# Wine to test it, installed with what they recommend (the Wine libraries its
# built-in system DLLs load).
windows_packages=(g++-mingw-w64-i686-posix mingw-w64-tools nsis wine wine32:i386)

# wine32 is an i386 package: dpkg must know the architecture first.
need_i386=
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
missing_windows=()
for p in "${windows_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing_windows+=("$p")
done
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
  echo "  sudo apt-get install -y ${missing[*]} ${missing_windows[*]}" >&2
  exit 1
fi
