#!/usr/bin/env bash
# Runs one test program of a Windows build under Wine (the command ctest runs
# for each test of build-windows/):
#   wine-test.sh WINE PROGRAM [ARGUMENTS...]
# in the first prefix of WINEPREFIX, WINEPREFIX-1, WINEPREFIX-2, ... that no
# other test holds (a lock beside each prefix, held while the program runs).
# Windows keeps the per-user state the program uses ("C:/orvane",
# HKEY_CURRENT_USER) per prefix: tests that use it run side by side, each
# with a state of its own, as each has a home of its own on Linux. The other
# prefixes are made by scripts/wine-env (wine_test_prefixes); without them
# every test runs in WINEPREFIX, one after the other.
set -u
wine="${1:?usage: wine-test.sh WINE PROGRAM [ARGUMENTS...]}"
shift
base="${WINEPREFIX:?wine-test.sh: WINEPREFIX is not set}"
prefixes=("$base")
for prefix in "$base"-[0-9]*; do
    [ -f "$prefix/system.reg" ] && prefixes+=("$prefix")
done
while :; do
    for prefix in "${prefixes[@]}"; do
        exec {lock}>>"$prefix.lock"
        if flock -n "$lock"; then
            export WINEPREFIX="$prefix"
            # The lock stays with this script: a process the test leaves
            # behind must not hold the prefix for the next test.
            "$wine" "$@" {lock}>&-
            exit $?
        fi
        exec {lock}>&-
    done
    # More tests at once than prefixes: the next to end frees one.
    sleep 0.2
done
