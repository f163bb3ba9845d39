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
# Ours is the time from the click on tbOkAggiornamentiDisponibili to the
# updates-done page (download run, tests, extraction and every follow-up step:
# inventory check, language files, version report by FTP, notifier record);
# the event gap is the longest time the GUI event loop did not run meanwhile,
# from a 5 ms timer probe. Times are the best of UH_BENCH_INSTALL_ROUNDS runs
# (default 2); the gap is the largest of all runs. The cancel is the longest
# of as many runs pressing tbCancel during the extraction, from the press to
# the progress window closed, checked to leave the card as it was. UH_BENCH_INSTALL_VERBOSE=1
# prints the phases and the longest gaps of each run on standard error.
set -euo pipefail

build_dir="$(cd "${1:?usage: install.sh BUILD_DIR}" && pwd)"
bench="$build_dir/bench/bench_install"
service="$build_dir/server/update_hub_service"
set_mib="${UH_BENCH_INSTALL_MIB:-256}"
rounds="${UH_BENCH_INSTALL_ROUNDS:-2}"
verbose="${UH_BENCH_INSTALL_VERBOSE:-0}"
for program in "$bench" "$service"; do
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
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
larger() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b > a) ? b : a }'; }

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
    # Every enlarged package arrived whole where the installation puts it.
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
    ours_seconds="$(best "$ours_seconds" "$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")")"
    ours_gap="$(larger "$ours_gap" "$(sed -n 's/.*gap_ms=\([0-9.]*\).*/\1/p' <<<"$line")")"
    rm -rf "$site"
    sync
}

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
for round in $(seq "$rounds"); do
    if [ $((round % 2)) = 1 ]; then
        run_ours
        run_reference
    else
        run_reference
        run_ours
    fi
done

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
