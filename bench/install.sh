#!/usr/bin/env bash
# A whole online installation of a 256 MiB package set through the real main
# window (bench_install, offscreen) against the reference service and a
# loopback FTP server, scope 2 (PC and card), against curl + unzip doing the
# same work in the same run: download every package the run fetched, test
# each with unzip -tqq, extract each with unzip -o -qq to the same places (PC,
# card, both, or the notifier folder). Prints
#   install: ours X s, reference Y s, ratio Z
#   event-gap: ours X ms, reference 100 ms, ratio Z
#   cancel: ours X ms, reference 500 ms, ratio Z
#   recovery: ours X s, reference Y s, ratio Z
# Ours is the time from the click on tbOkAggiornamentiDisponibili to the
# updates-done page (download run, tests, extraction and every follow-up step:
# inventory check, language files, version report by FTP, notifier record);
# the event gap is the longest time the GUI event loop did not run meanwhile,
# from a 5 ms timer probe. Times are the best of UH_BENCH_INSTALL_ROUNDS runs
# (default 2); the gap is the largest of all runs. The cancel is the longest
# of as many runs pressing tbCancel during the extraction, from the press to
# the progress window closed, checked to leave the card as it was. UH_BENCH_INSTALL_VERBOSE=1
# prints the phases and the longest gaps of each run on standard error.
# The recovery is the undo at start-up of an installation of 2,000 files left
# in flight on the card (bench_recovery: the commit made every move, then the
# process ended as its undo began), timed inside the program, against cp -a of
# the old tree to the same card; best of UH_BENCH_RECOVERY_ROUNDS (default 5).
# After each undo the card must hold the old release byte for byte and no
# ".update_hub" folder.
# With UH_BENCH_INSTALL_WINDOWS naming bench_install.exe (scripts/bench
# windows), the same installation is made by the Windows program under Wine
# instead, the card a removable drive of Wine, against the Linux program, and
# only this line is printed:
#   windows-install: ours X s, reference Y s, ratio Z
set -euo pipefail

build_dir="$(cd "${1:?usage: install.sh BUILD_DIR}" && pwd)"
bench="$build_dir/bench/bench_install"
recovery="$build_dir/bench/bench_recovery"
service="$build_dir/server/update_hub_service"
set_mib="${UH_BENCH_INSTALL_MIB:-256}"
rounds="${UH_BENCH_INSTALL_ROUNDS:-2}"
recovery_rounds="${UH_BENCH_RECOVERY_ROUNDS:-5}"
verbose="${UH_BENCH_INSTALL_VERBOSE:-0}"
windows_bench="${UH_BENCH_INSTALL_WINDOWS:-}"
root="$(cd "$(dirname "$0")/.." && pwd)"
for program in "$bench" "$recovery" "$service"; do
    if [ ! -x "$program" ]; then
        echo "install: $program is not built" >&2
        exit 2
    fi
done
for tool in zip unzip curl split; do
    if ! command -v "$tool" >/dev/null; then
        echo "install: $tool is missing" >&2
        exit 2
    fi
done
if ! /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null; then
    echo "install: the FTP server module (python3-pyftpdlib) is missing" >&2
    exit 2
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/uh_bench_install.XXXXXX")"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# The catalogue: the demo one, with four of its packages enlarged to a quarter
# of the set each (their own files kept, a "bench_*" folder added), chosen so
# that every destination of the installation is exercised:
#   release_0-3.70.zip    PC software         -> PC
#   release_0-2.10.zip    card software       -> card (its binary half is one big entry)
#   bbad_auto_1.10.zip    diagnosis software  -> PC bbad/ and card varno/bbad/
#   ad_auto_ita_1.10.zip  diagnosis data      -> PC and card
# Each quarter is half text (C headers in 1 MiB files) and half random bytes
# (4 MiB files), packed with zip -9.
"$service" --make-demo "$work/service" >/dev/null
quarter=$((set_mib / 4))
half=$((quarter / 2))
headers() {
    for _ in 1 2 3 4 5 6 7 8; do
        find /usr/include -type f -name '*.h' -print0 | sort -z | xargs -0 cat 2>/dev/null
    done
}
{ headers 2>/dev/null || true; } | head -c "$((4 * half * 1024 * 1024))" >"$work/text"
enlarge() { # package (below the catalogue) tag index random-file-size
    local package="$work/service/$1" tag="$2" index="$3" piece="$4"
    local content="$work/content/$tag"
    mkdir -p "$content/bench_$tag/text" "$content/bench_$tag/binary"
    (cd "$content" && unzip -qq "$package")
    dd if="$work/text" bs=1M skip="$((index * half))" count="$half" status=none \
        | (cd "$content/bench_$tag/text" && split -b 1M -a 3 - part_)
    head -c "$((half * 1024 * 1024))" /dev/urandom | (cd "$content/bench_$tag/binary" && split -b "$piece" -a 3 - blob_)
    rm -f "$package"
    (cd "$content" && zip -9 -r -q "$package" .)
}
enlarge praxo/software_varno/pc/release_0-3.70.zip pc 0 4M
enlarge praxo/software_varno/palm/release_0-2.10.zip palm 1 "${half}M"
enlarge praxo/bbad/bbad_auto_1.10.zip bbad 2 4M
enlarge praxo/ad/auto/ita/ad_auto_ita_1.10.zip ad 3 4M
rm -f "$work/text"

exec {service_out}< <(exec "$service" --root "$work/service" --port 0 --log "$work/service.log" 2>"$work/service.err")
pids+=($!)
read -r -t 30 port <&"$service_out" || {
    echo "install: the service did not start" >&2
    cat "$work/service.err" >&2
    exit 1
}
mkdir -p "$work/ftp"
ftp_port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$ftp_port" -u drumelfask -P vilta -w -d "$work/ftp" \
    >"$work/ftp.log" 2>&1 &
pids+=($!)
ftp_up=0
for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$ftp_port") 2>/dev/null; then
        ftp_up=1
        break
    fi
    sleep 0.2
done
if [ "$ftp_up" != 1 ]; then
    echo "install: the FTP server did not start" >&2
    exit 1
fi

# A fresh installation: program folder, card, home, and an empty report folder.
site="$work/site"
fresh_site() {
    rm -rf "$site" "$work/ftp/varnohub"
    mkdir -p "$site/program" "$site/card/varno" "$site/card/qte" "$site/home" "$work/ftp/varnohub/log/versione"
    printf 'EXEC_VERSION=1.00\n' >"$site/card/varno/main"
    printf '[personalizzazioni]\nupdate_pc=1\nupdate_palm=1\n' >"$site/program/customize_update.ini"
    printf '[impostazioni]\npassword=DEMO-0001\nserialnumber=SN000001\n' >"$site/program/password.ini"
    printf '[server]\naddress=127.0.0.1\nport=%s\nftp_port=%s\nsubdir=praxo\nstall_timeout=20\n' \
        "$port" "$ftp_port" >"$site/program/http_server.ini"
    {
        printf '[lingua1]\nlingua1_description=Italiano\nlingua1_idlingua=ita\n'
        printf '[lingua2]\nlingua2_description=English\nlingua2_idlingua=eng\nlingua2_reserve=1\n'
        printf '[selected]\nselected_currentlanguage=1\n'
    } >"$site/program/language.ini"
    sync
}

now() { date +%s.%N; }
# ROUNDS runs of each of two commands, the first going first in odd rounds and
# second in even ones, so that neither always meets the same machine state.
alternate() { # rounds first second
    local round
    for round in $(seq "$1"); do
        if [ $((round % 2)) = 1 ]; then
            "$2"
            "$3"
        else
            "$3"
            "$2"
        fi
    done
}
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
larger() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b > a) ? b : a }'; }

# Every enlarged package arrived whole where the installation puts it, and
# the version report arrived by FTP.
check_installed() {
    local where tag
    for where in program/bench_pc card/varno/bench_palm program/bbad/bench_bbad card/varno/bbad/bench_bbad \
        program/bench_ad card/varno/bench_ad; do
        tag="${where##*/bench_}"
        if ! diff -r -q "$work/content/$tag/bench_$tag" "$site/$where" >/dev/null; then
            echo "install: $where differs from its package" >&2
            exit 1
        fi
    done
    if [ -z "$(ls "$work/ftp/varnohub/log/versione")" ]; then
        echo "install: no version report arrived by FTP" >&2
        exit 1
    fi
}

ours_seconds=""
ours_gap=""
packages="$work/packages"
run_ours() {
    fresh_site
    local line status=0
    line="$(cd "$site/program" && HOME="$site/home" XDG_CONFIG_HOME="$site/home/.config" \
        XDG_DATA_HOME="$site/home/.local/share" UPDATE_HUB_DRIVES="$site/card" QT_QPA_PLATFORM=offscreen \
        QT_LOGGING_RULES='*.debug=false' "$bench" "$packages" 2>"$work/ours.err")" || status=$?
    if [ "$status" != 0 ]; then
        echo "install: our installation failed (exit $status)" >&2
        cat "$work/ours.err" >&2
        exit 1
    fi
    [ "$verbose" = 1 ] && grep -v -e 'This plugin does not support' -e XDG_RUNTIME_DIR "$work/ours.err" >&2
    check_installed
    ours_seconds="$(best "$ours_seconds" "$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")")"
    ours_gap="$(larger "$ours_gap" "$(sed -n 's/.*gap_ms=\([0-9.]*\).*/\1/p' <<<"$line")")"
    rm -rf "$site"
    sync
}

# The Windows program under Wine: the card is the removable drive R: of the
# prefix, found by the program's own drive search; the per-user state of
# the prefix ("C:/orvane", the Orvane registry key) starts empty each run.
if [ -n "$windows_bench" ]; then
    . "$root/scripts/wine-env"
    wine_setup
    trap 'wine_drop_card r; wine_stop; cleanup' EXIT
    mkdir -p "$site/card"
    wine_card r "$site/card"
    wine_restart
    windows_seconds=""
    run_windows() {
        fresh_site
        rm -rf "$WINEPREFIX/drive_c/orvane"
        wine reg delete 'HKCU\Software\Orvane' /f >/dev/null 2>&1 || true
        local line status=0
        line="$(cd "$site/program" && wine "$windows_bench" "Z:$packages" 2>"$work/windows.err" | tr -d '\r')" \
            || status=$?
        if [ "$status" != 0 ]; then
            echo "install: the installation under Wine failed (exit $status)" >&2
            cat "$work/windows.err" >&2
            exit 1
        fi
        [ "$verbose" = 1 ] && grep -a -v -e 'This plugin does not support' "$work/windows.err" | tr -d '\r' >&2
        check_installed
        windows_seconds="$(best "$windows_seconds" "$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")")"
        rm -rf "$site"
        sync
    }
    alternate "$rounds" run_ours run_windows
    awk -v o="$windows_seconds" -v r="$ours_seconds" \
        'BEGIN { printf "windows-install: ours %.2f s, reference %.2f s, ratio %.2f\n", o, r, o / (r > 0.01 ? r : 0.01) }'
    exit 0
fi

# The reference does the same work on the same files with the same tools a
# script would use: download all, test all, extract all (PC before card).
reference_seconds=""
run_reference() {
    fresh_site
    local ref="$site/reference" start fetched tested end kind name path
    mkdir -p "$ref/work" "$ref/pc" "$ref/card/varno" "$ref/home/orvane/ov_update_notify"
    sync
    start="$(now)"
    while read -r _ path name kind; do
        curl -s -f -o "$ref/work/$name" "http://127.0.0.1:$port$path"
    done <"$packages"
    fetched="$(now)"
    while read -r _ path name kind; do
        unzip -tqq "$ref/work/$name" >/dev/null
    done <"$packages"
    tested="$(now)"
    while read -r _ path name kind; do
        case "$kind" in
        bbad)
            unzip -o -qq "$ref/work/$name" -d "$ref/pc/bbad"
            unzip -o -qq "$ref/work/$name" -d "$ref/card/varno/bbad"
            ;;
        balloon)
            unzip -o -qq "$ref/work/$name" -d "$ref/home/orvane/ov_update_notify"
            ;;
        *)
            case "$name" in
            varno_pc_*) unzip -o -qq "$ref/work/$name" -d "$ref/pc" ;;
            varno_palm_*) unzip -o -qq "$ref/work/$name" -d "$ref/card/varno" ;;
            *)
                unzip -o -qq "$ref/work/$name" -d "$ref/pc"
                unzip -o -qq "$ref/work/$name" -d "$ref/card/varno"
                ;;
            esac
            ;;
        esac
    done <"$packages"
    end="$(now)"
    [ "$verbose" = 1 ] && awk -v a="$start" -v b="$fetched" -v c="$tested" -v d="$end" \
        'BEGIN { printf "reference: download %.3f s, test %.3f s, extract %.3f s\n", b - a, c - b, d - c }' >&2
    if ! diff -r -q "$work/content/bbad/bench_bbad" "$ref/card/varno/bbad/bench_bbad" >/dev/null; then
        echo "install: the reference extraction differs from its package" >&2
        exit 1
    fi
    reference_seconds="$(best "$reference_seconds" "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")"
    rm -rf "$site"
    sync
}

# The package list comes from our first run, so ours goes first; afterwards the
# order alternates so that neither side always meets the same machine state.
cat "$work/service/praxo/bbad/bbad_auto_1.10.zip" >/dev/null
alternate "$rounds" run_ours run_reference

# The undo of an installation in flight: the old release of 2,000 files (40
# folders, 512 B to 64 KiB each) on a card, the new one replacing 1,900 of them
# and adding 100 in a new folder.
rec="$work/recovery"
mkdir -p "$rec"
/usr/bin/python3 - "$rec" <<'PY'
import os, random, sys
base = sys.argv[1]
rng = random.Random(14)
def write(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(rng.randbytes(size))
for i in range(2000):
    folder, name = "varno/part_%02d" % (i // 50), "file_%04d.bin" % i
    write(os.path.join(base, "old", folder, name), rng.randint(512, 64 * 1024))
    if i < 1900:
        write(os.path.join(base, "new", folder, name), rng.randint(512, 64 * 1024))
for i in range(100):
    write(os.path.join(base, "new", "varno/added/file_%04d.bin" % i), rng.randint(512, 64 * 1024))
PY
(cd "$rec/new/varno" && zip -1 -r -q "$rec/release.zip" .)
rm -rf "$rec/new"
same_as_old() { # folder
    if ! diff -r -q "$rec/old" "$1" >/dev/null; then
        echo "recovery: $1 does not hold the old release" >&2
        diff -r -q "$rec/old" "$1" 2>&1 | head -5 >&2
        exit 1
    fi
}
ours_recovery=""
reference_recovery=""
recovery_ours() {
    local card="$rec/card" line
    rm -rf "$card"
    cp -a "$rec/old" "$card"
    line="$(QT_LOGGING_RULES='*.debug=false' "$recovery" prepare "$card" "$rec/release.zip" varno/)" || {
        echo "recovery: the installation in flight could not be set up" >&2
        exit 1
    }
    if [ "$line" != "files=2000" ] || [ ! -f "$card/.update_hub/journal" ] \
        || diff -q "$rec/old/varno/part_00/file_0000.bin" "$card/varno/part_00/file_0000.bin" >/dev/null; then
        echo "recovery: the card does not hold an installation in flight ($line)" >&2
        exit 1
    fi
    sync
    line="$(QT_LOGGING_RULES='*.debug=false' "$recovery" recover "$card")" || {
        echo "recovery: the undo failed" >&2
        exit 1
    }
    if [ -e "$card/.update_hub" ]; then
        echo "recovery: .update_hub is left on the card" >&2
        exit 1
    fi
    same_as_old "$card"
    ours_recovery="$(best "$ours_recovery" "$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")")"
    rm -rf "$card"
    sync
}
recovery_reference() {
    local copy="$rec/copy" start end
    rm -rf "$copy"
    sync
    start="$(now)"
    cp -a "$rec/old" "$copy"
    end="$(now)"
    same_as_old "$copy"
    reference_recovery="$(best "$reference_recovery" "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')")"
    rm -rf "$copy"
    sync
}
alternate "$recovery_rounds" recovery_ours recovery_reference

awk -v o="$ours_seconds" -v r="$reference_seconds" \
    'BEGIN { printf "install: ours %.2f s, reference %.2f s, ratio %.2f\n", o, r, o / (r > 0.01 ? r : 0.01) }'
awk -v o="$ours_gap" \
    'BEGIN { printf "event-gap: ours %.1f ms, reference 100 ms, ratio %.2f\n", o, o / 100 }'

# Cancel during the extraction: the card keeps its old software, and nothing
# of the update lies outside the installation's own folders.
cancel_ms=""
for round in $(seq "$rounds"); do
    fresh_site
    line=""
    status=0
    line="$(cd "$site/program" && HOME="$site/home" XDG_CONFIG_HOME="$site/home/.config" \
        XDG_DATA_HOME="$site/home/.local/share" UPDATE_HUB_DRIVES="$site/card" QT_QPA_PLATFORM=offscreen \
        QT_LOGGING_RULES='*.debug=false' "$bench" --cancel 2>"$work/cancel.err")" || status=$?
    if [ "$status" != 0 ]; then
        echo "install: the cancelled installation failed (exit $status)" >&2
        cat "$work/cancel.err" >&2
        exit 1
    fi
    if [ "$(cat "$site/card/varno/main")" != "EXEC_VERSION=1.00" ] || [ -e "$site/card/varno/bench_palm" ] \
        || [ -e "$site/program/bench_pc" ] || [ -n "$(ls -A "$site/card/.update_hub" 2>/dev/null)" ]; then
        echo "install: the cancel left the card or the PC changed" >&2
        exit 1
    fi
    cancel_ms="$(larger "$cancel_ms" "$(sed -n 's/.*cancel_ms=\([0-9.]*\).*/\1/p' <<<"$line")")"
    rm -rf "$site"
    sync
done
awk -v o="$cancel_ms" \
    'BEGIN { printf "cancel: ours %.0f ms, reference 500 ms, ratio %.2f\n", o, o / 500 }'
awk -v o="$ours_recovery" -v r="$reference_recovery" \
    'BEGIN { printf "recovery: ours %.3f s, reference %.3f s, ratio %.2f\n", o, r, o / (r > 0.001 ? r : 0.001) }'
