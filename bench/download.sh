#!/usr/bin/env bash
# Download of a 1 GiB package from the reference service on loopback: our
# client (THttp::getToFile through bench_download) against curl, same file,
# same service, same run. Prints
#   download: ours X MB/s, reference Y MB/s, ratio Z
#   download-memory: ours X MiB, reference Y MiB, ratio Z
#   download-resume: ours X MiB, reference Y MiB, ratio Z
#   download-flaky: ours X MiB, reference Y MiB, ratio Z
#   download-proxy: ours X MB/s, reference Y MB/s, ratio Z
# Memory is the peak resident size above the program's idle size. The resume
# line is what the service sent in all when it drops the connection at half
# the package: ours continues by itself (the download run's retries), curl is
# run again with -C -. The flaky line is what the service sent in all for a
# package (UH_BENCH_FLAKY_MIB, 256) whose connection it drops after every
# 16 MiB, against the package's size. The proxy line is that package through
# tinyproxy on loopback: ours against curl through the same proxy.
set -euo pipefail

build_dir="${1:?usage: download.sh BUILD_DIR}"
bench="$build_dir/bench/bench_download"
service="$build_dir/server/update_hub_service"
size_mib="${UH_BENCH_DOWNLOAD_MIB:-1024}"
for program in "$bench" "$service"; do
    if [ ! -x "$program" ]; then
        echo "download: $program is not built" >&2
        exit 2
    fi
done

work="$(mktemp -d "${TMPDIR:-/tmp}/uh_bench_download.XXXXXX")"
service_pid=""
proxy_pid=""
cleanup() {
    stop_service
    if [ -n "$proxy_pid" ]; then
        kill "$proxy_pid" 2>/dev/null || true
        wait "$proxy_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/root/package.zip"
bytes="$(stat -c %s "$work/root/package.zip")"

# Starts the service with the given extra arguments and a fresh log; sets port.
start_service() {
    stop_service
    : >"$work/service.log"
    "$service" --root "$work/root" --port 0 --log "$work/service.log" "$@" >"$work/port" 2>"$work/service.err" &
    service_pid=$!
    port=""
    for _ in $(seq 100); do
        port="$(head -n 1 "$work/port" 2>/dev/null || true)"
        [ -n "$port" ] && break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        echo "download: the service did not start" >&2
        cat "$work/service.err" >&2
        exit 1
    fi
}
stop_service() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
        service_pid=""
    fi
}
# Body bytes the service logged as sent since it started.
sent_bytes() { awk '$1 == "#" && $2 == "sent" { n += $3 } END { printf "%d", n }' "$work/service.log"; }

start_service
path="/files/varnohub/package.zip"
url="http://127.0.0.1:$port$path"

# Both programs read the package from the page cache, and neither pays for
# writing back the other's (or the package's) dirty pages: sync in between.
cat "$work/root/package.zip" >/dev/null
sync

now() { date +%s.%N; }
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
larger() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b > a) ? b : a }'; }

# Three rounds, alternating (the machine may be busy with other work); the
# fastest run of each program counts, and its largest memory peak.
ours_seconds=""
ours_memory=""
reference_seconds=""
reference_memory=""
/usr/bin/time -f "%M" -o "$work/curl_idle" curl -s -o /dev/null "http://127.0.0.1:$port/files/varnohub/datetime_ov.asp"
curl_idle="$(tail -n 1 "$work/curl_idle")"
for round in 1 2 3; do
    # Ours: time and memory as measured inside the program.
    line="$("$bench" "$port" "$path" "$work/ours.zip")"
    seconds="$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")"
    idle="$(sed -n 's/.*idle_kib=\([0-9]*\).*/\1/p' <<<"$line")"
    peak="$(sed -n 's/.*peak_kib=\([0-9]*\).*/\1/p' <<<"$line")"
    if [ "$round" = 1 ] && ! cmp -s "$work/root/package.zip" "$work/ours.zip"; then
        echo "download: our copy differs from the package" >&2
        exit 1
    fi
    rm -f "$work/ours.zip"
    sync
    ours_seconds="$(best "$ours_seconds" "$seconds")"
    ours_memory="$(larger "$ours_memory" "$((peak - idle))")"

    # Reference: curl's idle size is that of a tiny download.
    start="$(now)"
    /usr/bin/time -f "%M" -o "$work/curl_peak" curl -s -o "$work/reference.zip" "$url"
    end="$(now)"
    if [ "$(stat -c %s "$work/reference.zip")" != "$bytes" ]; then
        echo "download: curl's copy has the wrong size" >&2
        exit 1
    fi
    rm -f "$work/reference.zip"
    sync
    reference_seconds="$(best "$reference_seconds" "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")"
    reference_memory="$(larger "$reference_memory" "$(($(tail -n 1 "$work/curl_peak") - curl_idle))")"
done

awk -v bytes="$bytes" -v ours="$ours_seconds" -v ref="$reference_seconds" \
    'BEGIN { o = bytes / 1e6 / ours; r = bytes / 1e6 / ref;
             printf "download: ours %.1f MB/s, reference %.1f MB/s, ratio %.2f\n", o, r, o / r }'
awk -v o="$ours_memory" -v r="$reference_memory" \
    'BEGIN { o /= 1024; r /= 1024; if (o < 0) o = 0; if (r < 0) r = 0;
             printf "download-memory: ours %.1f MiB, reference %.1f MiB, ratio %.2f\n", o, r, o / (r > 0.1 ? r : 0.1) }'

# A connection dropped at half the package, once, then the package again.
drop="/files/varnohub/package.zip=>close $((bytes / 2)) first 1"
start_service --fault "$drop"
"$bench" --package "$port" "$path" "$work/ours.zip" "$bytes" >/dev/null
if ! cmp -s "$work/root/package.zip" "$work/ours.zip"; then
    echo "download: our resumed copy differs from the package" >&2
    exit 1
fi
rm -f "$work/ours.zip"
ours_sent="$(sent_bytes)"
start_service --fault "$drop"
url="http://127.0.0.1:$port$path"
curl -s -o "$work/reference.zip" "$url" || true
curl -s -C - -o "$work/reference.zip" "$url"
if ! cmp -s "$work/root/package.zip" "$work/reference.zip"; then
    echo "download: curl's resumed copy differs from the package" >&2
    exit 1
fi
rm -f "$work/reference.zip"
reference_sent="$(sent_bytes)"
awk -v o="$ours_sent" -v r="$reference_sent" \
    'BEGIN { o /= 1048576; r /= 1048576;
             printf "download-resume: ours %.1f MiB, reference %.1f MiB, ratio %.3f\n", o, r, o / r }'

# A line that drops after every 16 MiB: each transfer brings new bytes, so
# the download goes on; only what a drop cuts off may be sent again.
flaky_mib="${UH_BENCH_FLAKY_MIB:-256}"
rm -f "$work/root/package.zip"
head -c "$((flaky_mib * 1024 * 1024))" /dev/urandom >"$work/root/flaky.zip"
flaky_bytes="$(stat -c %s "$work/root/flaky.zip")"
flaky_path="/files/varnohub/flaky.zip"
start_service --fault "$flaky_path=>close $((16 * 1024 * 1024))"
"$bench" --package "$port" "$flaky_path" "$work/ours.zip" "$flaky_bytes" >/dev/null
if ! cmp -s "$work/root/flaky.zip" "$work/ours.zip"; then
    echo "download: our copy over the flaky line differs from the package" >&2
    exit 1
fi
rm -f "$work/ours.zip"
awk -v o="$(sent_bytes)" -v r="$flaky_bytes" \
    'BEGIN { o /= 1048576; r /= 1048576;
             printf "download-flaky: ours %.1f MiB, reference %.1f MiB, ratio %.3f\n", o, r, o / r }'

# The same package through a real HTTP proxy on loopback.
if ! command -v tinyproxy >/dev/null; then
    echo "download: tinyproxy is not installed" >&2
    exit 2
fi
start_service
proxy_port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
printf 'Port %s\nListen 127.0.0.1\nTimeout 60\nLogFile "%s"\nLogLevel Warning\nMaxClients 20\nAllow 127.0.0.1\nDisableViaHeader Yes\n' \
    "$proxy_port" "$work/proxy.log" >"$work/tinyproxy.conf"
tinyproxy -d -c "$work/tinyproxy.conf" >/dev/null 2>&1 &
proxy_pid=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$proxy_port") 2>/dev/null && break
    sleep 0.1
done
cat "$work/root/flaky.zip" >/dev/null
sync
ours_seconds=""
reference_seconds=""
for round in 1 2 3; do
    line="$(UH_BENCH_PROXY="127.0.0.1:$proxy_port" "$bench" "$port" "$flaky_path" "$work/ours.zip")"
    if [ "$round" = 1 ] && ! cmp -s "$work/root/flaky.zip" "$work/ours.zip"; then
        echo "download: our copy through the proxy differs from the package" >&2
        exit 1
    fi
    rm -f "$work/ours.zip"
    sync
    ours_seconds="$(best "$ours_seconds" "$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")")"
    start="$(now)"
    curl -s -x "http://127.0.0.1:$proxy_port" -o "$work/reference.zip" "http://127.0.0.1:$port$flaky_path"
    end="$(now)"
    if [ "$(stat -c %s "$work/reference.zip")" != "$flaky_bytes" ]; then
        echo "download: curl's copy through the proxy has the wrong size" >&2
        exit 1
    fi
    rm -f "$work/reference.zip"
    sync
    reference_seconds="$(best "$reference_seconds" "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")"
done
awk -v bytes="$flaky_bytes" -v ours="$ours_seconds" -v ref="$reference_seconds" \
    'BEGIN { o = bytes / 1e6 / ours; r = bytes / 1e6 / ref;
             printf "download-proxy: ours %.1f MB/s, reference %.1f MB/s, ratio %.2f\n", o, r, o / r }'
