#!/usr/bin/env bash
# Zip archives: our extraction, test and creation (bench_archive) against
# Info-ZIP and bsdtar on the same corpus in the same run. Prints
#   extract-unzip: ours X s, reference Y s, ratio Z
#   extract-bsdtar: ours X s, reference Y s, ratio Z
#   test: ours X s, reference Y s, ratio Z
#   zipdir: ours X s, reference Y s, ratio Z
#   extract-memory: ours X MiB, reference Y MiB, ratio Z
# Times are the best of UH_BENCH_ARCHIVE_ROUNDS runs (default 3); memory is the
# peak resident size above each program's idle size.
set -euo pipefail

build_dir="${1:?usage: archive.sh BUILD_DIR}"
bench="$build_dir/bench/bench_archive"
corpus_mib="${UH_BENCH_ARCHIVE_MIB:-256}"
rounds="${UH_BENCH_ARCHIVE_ROUNDS:-3}"
if [ ! -x "$bench" ]; then
    echo "archive: $bench is not built" >&2
    exit 2
fi
for tool in zip unzip bsdtar; do
    if ! command -v "$tool" >/dev/null; then
        echo "archive: $tool is missing" >&2
        exit 2
    fi
done

# The debug texts of the archive code would only add noise to the output.
export QT_LOGGING_RULES="update_hub.archive.debug=false"

work="$(mktemp -d "${TMPDIR:-/tmp}/uh_bench_archive.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Corpus: half text (C headers, cut into 1 MiB files), half incompressible
# (4 MiB files of random bytes), plus a few hundred small files.
half=$((corpus_mib / 2))
mkdir -p "$work/corpus/text" "$work/corpus/binary" "$work/corpus/small/deeper"
# The headers of one system may fall short of the half: they are read again
# until it is full (repeats lie far beyond deflate's 32 KiB window).
headers() {
    for _ in 1 2 3 4 5 6 7 8; do
        find /usr/include -type f -name '*.h' -print0 | sort -z | xargs -0 cat 2>/dev/null
    done
}
{ headers 2>/dev/null || true; } | head -c "$((half * 1024 * 1024))" | (cd "$work/corpus/text" && split -b 1M -a 3 - part_)
head -c "$((half * 1024 * 1024))" /dev/urandom | (cd "$work/corpus/binary" && split -b 4M -a 3 - blob_)
for i in $(seq 300); do
    printf 'small file %d\n' "$i" >"$work/corpus/small/s$i.txt"
    head -c $((i * 37)) /dev/urandom >"$work/corpus/small/deeper/d$i.bin"
done
(cd "$work/corpus" && zip -9 -r -q "$work/corpus.zip" .)
cat "$work/corpus.zip" >/dev/null
sync

best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
larger() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b > a) ? b : a }'; }
# Runs a command under /usr/bin/time; sets $seconds and $kib.
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
    seconds="$(tail -n 1 "$work/time" | cut -d' ' -f1)"
    kib="$(tail -n 1 "$work/time" | cut -d' ' -f2)"
}
fresh() {
    rm -rf "$work/out"
    mkdir -p "$work/out"
    sync
}

measure "$bench" idle
ours_idle="$kib"
measure bsdtar --version
bsdtar_idle="$kib"

ours_extract=""
ours_memory=""
unzip_extract=""
bsdtar_extract=""
bsdtar_memory=""
ours_test=""
unzip_test=""
ours_zip=""
zip_zip=""

extract_ours() {
    fresh
    measure "$bench" extract "$work/corpus.zip" "$work/out/"
    ours_extract="$(best "$ours_extract" "$seconds")"
    ours_memory="$(larger "$ours_memory" "$((kib - ours_idle))")"
    if ! diff -r -q "$work/corpus" "$work/out" >/dev/null; then
        echo "archive: our extraction differs from the corpus" >&2
        exit 1
    fi
}
extract_unzip() {
    fresh
    measure unzip -o -qq "$work/corpus.zip" -d "$work/out"
    unzip_extract="$(best "$unzip_extract" "$seconds")"
}
extract_bsdtar() {
    fresh
    measure bsdtar -xf "$work/corpus.zip" -C "$work/out"
    bsdtar_extract="$(best "$bsdtar_extract" "$seconds")"
    bsdtar_memory="$(larger "$bsdtar_memory" "$((kib - bsdtar_idle))")"
}
test_ours() {
    measure "$bench" test "$work/corpus.zip"
    ours_test="$(best "$ours_test" "$seconds")"
}
test_unzip() {
    measure unzip -tqq "$work/corpus.zip"
    unzip_test="$(best "$unzip_test" "$seconds")"
}
zip_ours() {
    rm -f "$work/ours.zip"
    sync
    measure "$bench" zipdir "$work/corpus" "$work/ours.zip"
    ours_zip="$(best "$ours_zip" "$seconds")"
    if ! unzip -tqq "$work/ours.zip" >/dev/null; then
        echo "archive: our archive does not pass unzip -t" >&2
        exit 1
    fi
}
zip_reference() {
    rm -f "$work/reference.zip"
    sync
    measure sh -c 'cd "$1" && exec zip -9 -r -q "$2" .' sh "$work/corpus" "$work/reference.zip"
    zip_zip="$(best "$zip_zip" "$seconds")"
}

# Each round runs ours and the references back to back, ours first in odd
# rounds and last in even ones, so that neither side always meets the same
# state of a shared machine.
for round in $(seq "$rounds"); do
    if [ $((round % 2)) = 1 ]; then
        extract_ours
        extract_bsdtar
        extract_unzip
        test_ours
        test_unzip
        zip_ours
        zip_reference
    else
        extract_unzip
        extract_bsdtar
        extract_ours
        test_unzip
        test_ours
        zip_reference
        zip_ours
    fi
done
rm -rf "$work/out"

line() {
    awk -v name="$1" -v o="$2" -v r="$3" -v unit="$4" \
        'BEGIN { if (o < 0) o = 0; if (r < 0) r = 0;
                 printf "%s: ours %.2f %s, reference %.2f %s, ratio %.2f\n", name, o, unit, r, unit, o / (r > 0.01 ? r : 0.01) }'
}
line extract-unzip "$ours_extract" "$unzip_extract" s
line extract-bsdtar "$ours_extract" "$bsdtar_extract" s
line test "$ours_test" "$unzip_test" s
line zipdir "$ours_zip" "$zip_zip" s
line extract-memory "$(awk -v k="$ours_memory" 'BEGIN { print k / 1024 }')" \
    "$(awk -v k="$bsdtar_memory" 'BEGIN { print k / 1024 }')" MiB
