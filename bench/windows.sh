#!/usr/bin/env bash
# The Windows build under Wine against the Linux build on this machine: the
# whole ctest suite of build-windows/ run through Wine (as scripts/test runs
# it: three tests side by side, each in a Wine prefix of its own, one
# wineserver per prefix for the run) against the
# whole suite of the Linux build (two side by side), both timed from start to
# end in the same run. Both suites must pass. Then the installation of the
# install benchmark (bench/install.sh) made by the Windows program under Wine
# against the Linux program, each optimised (scripts/build-windows --bench
# builds the Windows helper into build-windows-bench/). Prints
#   windows-suite: ours X s, reference Y s, ratio Z
#   windows-install: ours X s, reference Y s, ratio Z
# The Windows build is made first (scripts/build-windows) when missing.
set -euo pipefail

build_dir="$(cd "${1:?usage: windows.sh BUILD_DIR}" && pwd)"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
if [ ! -f build-windows/CTestTestfile.cmake ]; then
    scripts/build-windows >/dev/null
fi
log="$(mktemp "${TMPDIR:-/tmp}/uh_bench_windows.XXXXXX")"
trap 'rm -f "$log"' EXIT

suite() {
    local start status=0
    start="$(date +%s.%N)"
    "$@" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        cat "$log" >&2
        echo "windows: the suite failed: $*" >&2
        exit 1
    fi
    awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { print e - s }'
}

reference="$(QT_QPA_PLATFORM=offscreen suite ctest --test-dir "$build_dir" -j2 --timeout 600)"
ours="$(
    . scripts/wine-env
    wine_setup
    trap wine_stop EXIT
    wine_test_prefixes 3
    suite ctest --test-dir build-windows -j3 --timeout 600
)"
[ -n "$ours" ] && [ -n "$reference" ] || exit 1
awk -v o="$ours" -v r="$reference" \
    'BEGIN { printf "windows-suite: ours %.0f s, reference %.0f s, ratio %.2f\n", o, r, o / r }'

scripts/build-windows --bench >/dev/null
UH_BENCH_INSTALL_WINDOWS="$root/build-windows-bench/bench/bench_install.exe" bash bench/install.sh "$build_dir"
