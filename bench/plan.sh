#!/usr/bin/env bash
# The update plan of a run that covers the PC and the card, against the
# reference service with 50 ms of latency on every answer: 3 products x 2
# languages, one database, the notifier. The reference time is what the
# requests cost when nothing but the latency counts (requests x latency), the
# reference connection count is one kept-alive connection. Prints
#   plan: ours X s, reference Y s, ratio Z
#   plan-connections: ours N, reference 1, ratio N
set -euo pipefail

build_dir="${1:?usage: plan.sh BUILD_DIR}"
bench="$build_dir/bench/bench_plan"
service="$build_dir/server/update_hub_service"
latency_ms=50
for program in "$bench" "$service"; do
    if [ ! -x "$program" ]; then
        echo "plan: $program is not built" >&2
        exit 2
    fi
done
bench="$(cd "$(dirname "$bench")" && pwd)/$(basename "$bench")"

work="$(mktemp -d "${TMPDIR:-/tmp}/uh_bench_plan.XXXXXX")"
service_pid=""
cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

root="$work/root"
put() { mkdir -p "$(dirname "$root/$1")"; printf '%s' "$2" >"$root/$1"; }

# The service: software, languages, diagnosis packages per product and language.
sw=praxo/software_varno
put "$sw/languages/version_languages.txt" "1.1"
put "$sw/languages/translations.zip" "translations"
put "$sw/languages/flags_pc.zip" "flags"
put "$sw/pc/version_pc.txt" "3.70"
put "$sw/pc/release_3.60-3.70.zip" "pc incremental"
put "$sw/palm/version_palm.txt" "2.10"
put "$sw/palm/release_0-2.10.zip" "palm full"
put database_auto/version.txt "1.05"
put database_auto/0.zip "database"
put pal_ov_balloon/version.txt "1.20"
put pal_ov_balloon/balloon.zip "notifier"
{
    echo "[products]"
    echo "praxo => varno;1;auto;Automobili;;varno;2;moto;Motocicli;moto_files;varno;3;truck;Camion;truck_files"
    echo "[max_bbad_release]"
    echo "*|praxo => 1.10"
    echo "[bbad_releases]"
    echo '*|*|praxo => 1.00\r\n1.10\r\n'
    echo "[mit_releases]"
    echo '*|*|praxo => 1.00\r\n1.10\r\n'
    echo "[bbad_downloads]"
    for product in standard_product moto_files truck_files; do
        put "praxo/$product/bbad/bbad_1.10.zip" "bbad $product"
        echo "*|*|$product|praxo => /files/varnohub/praxo/$product/bbad/bbad_1.10.zip:bbadfile"
    done
    echo "[downloads]"
    for product in standard_product moto_files truck_files; do
        for language in ita eng; do
            put "praxo/$product/ad/$language/ad_1.10.zip" "ad $product $language"
            put "praxo/$product/mit/$language/mit_1.10.zip" "mit $product $language"
            echo "*|$language|*|*|$product|praxo => /files/varnohub/praxo/$product/ad/$language/ad_1.10.zip:adfiles\r\n/files/varnohub/praxo/$product/mit/$language/mit_1.10.zip:mitfiles\r\n"
        done
    done
} >"$root/service.ini"

"$service" --root "$root" --port 0 --log "$work/service.log" --latency-ms "$latency_ms" \
    >"$work/port" 2>"$work/service.err" &
service_pid=$!
port=""
for _ in $(seq 100); do
    port="$(head -n 1 "$work/port" 2>/dev/null || true)"
    [ -n "$port" ] && break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "plan: the service did not start" >&2
    cat "$work/service.err" >&2
    exit 1
fi

# The installation: an older PC program and card, languages ita and eng, a
# private home and settings folder (no notifier installed).
install="$work/install"
mkdir -p "$install/card/varno" "$work/home" "$work/config"
printf '[server]\naddress=127.0.0.1\nport=%s\nsubdir=praxo\n' "$port" >"$install/http_server.ini"
printf 'program EXEC_VERSION=3.60 end' >"$install/main.exe"
printf 'program EXEC_VERSION=2.00 end' >"$install/card/varno/main"
language_ini='[lingua1]\nlingua1_idlingua=ita\nlingua1_description=Italiano\n[lingua2]\nlingua2_idlingua=eng\nlingua2_description=English\n[version]\nversion_languages=1.0\n'
printf "$language_ini" >"$install/language.ini"
printf "$language_ini" >"$install/card/varno/language.ini"

output="$(cd "$install" && HOME="$work/home" XDG_CONFIG_HOME="$work/config" QT_LOGGING_RULES='*.debug=false' \
    "$bench" 2)" || {
    echo "plan: the plan failed: $output" >&2
    exit 1
}
seconds="$(awk '{ print $2 }' <<<"$output")"
requests="$(grep -vc '^#' "$work/service.log")"
connections="$(grep -c '^# connection' "$work/service.log" || true)"

awk -v ours="$seconds" -v n="$requests" -v ms="$latency_ms" \
    'BEGIN { ref = n * ms / 1000; printf "plan: ours %.3f s, reference %.3f s, ratio %.2f\n", ours, ref, ours / ref }'
awk -v c="$connections" 'BEGIN { printf "plan-connections: ours %d, reference 1, ratio %d\n", c, c }'
echo "plan: $requests requests, $(awk '{ print $6 }' <<<"$output") download entries" >&2
