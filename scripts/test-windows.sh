#!/usr/bin/env bash
# The Windows stage: builds the target's libcrypto and zlib (cached), the
# `windows` preset, the installer, then runs the Windows tests under Wine
# (ctest's `windows` label and the installer test). Prints how long each
# step took; exits non-zero when a step fails.
#
#   scripts/test-windows.sh
#
# The installer carries the engine package when tools/engine-package.sh has
# made one ($XDG_DATA_HOME/ferrodex/engine/lshw-*.tar.gz). FDX_JOBS bounds
# the build's parallel jobs (default: the number of processors).
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
cd "$source_dir"
# MinGW-w64, NSIS and Wine: installed here, not by run.sh.
./scripts/setup.sh --windows
build_dir=$source_dir/build/windows
jobs=${FDX_JOBS:-$(nproc)}

timings=()
started=$SECONDS
step_started=$SECONDS
failed=

# Runs one step and notes its time; a failing build step ends the stage, a
# failing test step is noted and the next one runs.
step() {
    local name=$1 kind=$2 status=0
    shift 2
    echo "== $name" >&2
    step_started=$SECONDS
    "$@" || status=$?
    timings+=("$(printf '%-28s %4d s%s' "$name" $((SECONDS - step_started)) "$([ "$status" -eq 0 ] || echo "  FAILED ($status)")")")
    if [ "$status" -ne 0 ]; then
        failed=1
        [ "$kind" = test ] || { summary; exit "$status"; }
    fi
}

summary() {
    echo "== test-windows.sh" >&2
    printf '  %s\n' "${timings[@]}" >&2
    printf '  %-28s %4d s\n' total $((SECONDS - started)) >&2
}

engine_package=$(ls "${XDG_DATA_HOME:-$HOME/.local/share}"/ferrodex/engine/lshw-*.tar.gz 2>/dev/null | head -n 1 || true)

step "target libraries" build scripts/windows-deps.sh
step "configure" build cmake --preset windows
step "build" build cmake --build --preset windows -j "$jobs"
step "installer" build tools/installer/make-installer.sh "$build_dir" ${engine_package:+"$engine_package"}
# Wine runs the 32-bit module as a 32-bit Linux process. A kernel built
# without 32-bit support refuses every such program (exit 126, "Exec format
# error"): there the module and its installer are built, but nothing of them
# can run, so the tests that run them are left out, loudly.
loader=/lib/ld-linux.so.2
if [ -e "$loader" ]; then
    loader_status=0
    "$loader" --version >/dev/null 2>&1 || loader_status=$?
    if [ "$loader_status" -eq 126 ]; then
        echo "test-windows: WARNING: this machine's kernel does not run 32-bit programs; the Windows module" \
             "and its installer were built, their tests under Wine are not run" >&2
        summary
        exit 0
    fi
fi
if [ -n "$(ctest --test-dir "$build_dir" -N -L windows 2>/dev/null | grep -E '^ +Test +#')" ]; then
    step "ctest -L windows" test ctest --test-dir "$build_dir" -L windows --output-on-failure -j "$jobs"
else
    echo "test-windows: the build has no tests labelled windows" >&2
fi
step "installer test" test tests/windows/installer_test.sh "$build_dir"

summary
[ -z "$failed" ]
