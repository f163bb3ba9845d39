#!/usr/bin/env bash
# Starts the machine's own programs for the Windows tests under Wine:
#   hostlauncher.sh SPOOL
# A test drops a shell script into SPOOL (written as *.part, renamed to
# *.sh when whole); this runs each with sh in the background, apart from
# the tests. A Windows program could start a Linux program itself, but
# Wine's process start of one now and then never returned under load and
# held the test until its time-out. Ends once SPOOL/stop exists or SPOOL
# is gone. scripts/wine-env starts it (wine_setup) and stops it (wine_stop).
spool="${1:?usage: hostlauncher.sh SPOOL}"
mkdir -p "$spool"
# The pause between looks at the spool is a read with a time-out on a pipe
# nobody writes to: unlike sleep, it starts no process, and the launcher
# runs through a whole Windows suite (50 sleeps a second cost a fifth of a
# core).
pause="$spool/.pause"
rm -f "$pause"
mkfifo "$pause"
exec 3<>"$pause"
echo $$ >"$spool/launcher.pid"
while [ -d "$spool" ] && [ ! -e "$spool/stop" ]; do
    for script in "$spool"/*.sh; do
        [ -e "$script" ] || continue
        running="${script%.sh}.run"
        mv "$script" "$running" 2>/dev/null || continue
        setsid sh -c 'sh "$1"; rm -f "$1"' sh "$running" </dev/null >/dev/null 2>&1 &
    done
    read -r -t 0.02 -u 3 _ || true
done
