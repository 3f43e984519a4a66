#!/bin/sh
# make bench: figures of the link and of KvrReader.exe under Wine, printed
# as one table at the end. Prints figures only; nothing passes or fails.
#   - processor time while the Windows link waits 10 s for a sync that never
#     comes (the process, and the wineserver), against a plain 1 ms poll;
#   - acknowledgement latency over a 1200 baud paced transfer of the sample
#     job: the Windows link alone, KvrReader.exe with its recovery journal
#     (each line written and flushed before its acknowledgement) and with
#     recovery off (a file blocks the journal's folder), the POSIX link;
#   - an unpaced download of 3,000 records, KvrReader.exe and kvr-download;
#   - Load and Save of 100,000 lines in KvrReader.exe, next to a bare list
#     box filled the fast way in the same run.
set -e
native=${1:-build/native}
win=${2:-build/win}
win_abs=$(cd "$win" && pwd)
com7=$win_abs/com7
com1=$win_abs/com1
work=$(mktemp -d /tmp/kvr-bench-XXXXXX)
appdata="$win/wineprefix/drive_c/users/$(id -un)/AppData/Local"
results=$work/results
: >"$results"

say() { echo "$*"; }
winpath() { echo "Z:$1" | sed 's|/|\\|g'; }
record() { printf '| %s | %s |\n' "$1" "$2" >>"$results"; }

server_ticks() {
    total=0
    for pid in $(pgrep wineserver); do
        set -- $(cut -d' ' -f14,15 /proc/$pid/stat)
        total=$((total + $1 + $2))
    done
    echo $total
}

# idle LABEL [--poll-1ms]
idle() {
    label=$1
    shift
    "$native/tests/pty-peer" "$com7" open-wait close-wait &
    peer=$!
    tries=0
    while [ ! -L "$com7" ] && kill -0 $peer 2>/dev/null && [ $tries -lt 500 ]; do tries=$((tries + 1)); sleep 0.01; done
    "$win/wine-run" "$win/bench/link_idle_bench.exe" COM7 1 "$@" >/dev/null  # start the server first
    "$native/tests/pty-peer" "$com7" open-wait close-wait &
    peer2=$!
    sleep 0.2
    before=$(server_ticks)
    line=$("$win/wine-run" "$win/bench/link_idle_bench.exe" COM7 10 "$@" | tr -d '\r')
    after=$(server_ticks)
    say "$line"
    own=$(echo "$line" | sed -n 's/.*: \([0-9.]*%\) of one core.*/\1/p')
    server=$(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f%%", 100 * t / hz / 10 }')
    record "$label, processor time (process + wineserver)" "$own + $server of one core"
    wait $peer $peer2 || true
}

# latency LABEL SIM_ERR: the simulator's figures as one cell
latency() {
    cell=$(sed -n 's/.*over \([0-9]*\) frames: median \([0-9.]*\) ms, 99th percentile \([0-9.]*\) ms.*/median \2 ms, p99 \3 ms (\1 frames)/p' "$2")
    say "$1: $cell"
    record "$1" "${cell:-no figure}"
}

start_sim() {  # PORT_LINK LOG ARGS...
    link=$1
    log=$2
    shift 2
    rm -f "$link"
    "$native/kvr-sim" --pty "$link" "$@" >/dev/null 2>"$log" &
    sim=$!
    tries=0
    while [ ! -L "$link" ] && kill -0 $sim 2>/dev/null && [ $tries -lt 500 ]; do tries=$((tries + 1)); sleep 0.01; done
}

# One paced download through the program, driven by kvr-demo-drive.
gui_latency() {  # on|off LABEL
    rm -f "$appdata/KVR Reader/Recovery/"*  # nothing left from other runs to offer
    if [ "$1" = off ]; then
        rm -rf "$appdata/KVR Reader"
        : >"$appdata/KVR Reader"
    fi
    markers=$(mktemp -d "$work/drive-XXXXXX")
    start_sim "$com1" "$markers/sim.err" --baud 1200 --dialect J --timeout 30
    "$win/wine-run" "$win/kvr-demo-drive.exe" "Z:$win_abs/KvrReader.exe" "Z:$markers" >/dev/null 2>&1 &
    driver=$!
    while [ ! -f "$markers/finished" ] && kill -0 $driver 2>/dev/null; do sleep 0.1; done
    touch "$markers/shot-taken"
    wait $driver || say "  (the driver failed)"
    wait $sim || true
    latency "$2" "$markers/sim.err"
    [ "$1" = off ] && rm -f "$appdata/KVR Reader"
    return 0
}

XVFB_PID=
if [ -z "$DISPLAY" ]; then
    . "$(dirname "$0")/../tools/xvfb.sh"
    StartXvfb 91
fi

say "== Idle wait for a sync, 10 s, Windows link under Wine"
idle "Idle wait for a sync, 10 s"
say "== For comparison: a ClearCommError poll with Sleep(1)"
idle "For comparison: a Sleep(1) poll" --poll-1ms

say "== Acknowledgement latency at 1200 baud, sample job (39 frames), dialect J"
expected=$work/expected
start_sim "$com7" "$work/link.err" --baud 1200 --dialect J --print-lines "$expected" --timeout 30
KVR_EXPECT_LINES=$expected "$win/wine-run" "$win/tests/windows_link_tests.exe" --gtest_filter=*WithPeerDownloads* \
    | grep -E '^\[ +(OK|FAILED) +\]' || true
wait $sim || true
latency "Ack latency at 1200 baud: Windows link alone" "$work/link.err"
gui_latency on "Ack latency at 1200 baud: KvrReader.exe with the journal"
gui_latency off "Ack latency at 1200 baud: KvrReader.exe, recovery off"
start_sim "$work/port" "$work/native.err" --baud 1200 --dialect J
"$native/kvr-download" -q "$work/port" >/dev/null
wait $sim || true
latency "Ack latency at 1200 baud: kvr-download (POSIX link)" "$work/native.err"

say "== Unpaced download of 3,000 records"
awk 'BEGIN { print "JOB J3000"; print "STN S1 - 1.5 100 200 30"; print "BK S1 B1 0900000";
             for (i = 1; i <= 2997; i++) printf "MP P%d A 0%06d 0900000 10 10 0 1.5 0 110 %d 30\n", i, 100000 + i, 200 + i }' \
    >"$work/records.txt"
rm -f "$appdata/KVR Reader/Recovery/"*
start_sim "$com1" "$work/unpaced.err" --dialect J --start-delay 0 --records "$work/records.txt" --timeout 30
"$win/wine-run" "$win/bench/kvr-gui-bench.exe" "Z:$win_abs/KvrReader.exe" download | tr -d '\r' >"$work/download"
wait $sim || true
cat "$work/download"
rate=$(awk '/download_seconds/ { s = $2 } /download_lines/ { n = $2 } END { if (s > 0) printf "%.0f records/s (%d in %.2f s)", n / s, n, s }' "$work/download")
record "Unpaced download, 3,000 records: KvrReader.exe" "$rate"
rm -f "$appdata/KVR Reader/Recovery/"*
start_sim "$work/port" "$work/native-unpaced.err" --dialect J --start-delay 0 --records "$work/records.txt"
t0=$(date +%s.%N)
lines=$("$native/kvr-download" -q "$work/port" | wc -l)
t1=$(date +%s.%N)
wait $sim || true
rate=$(awk -v n="$lines" -v a="$t0" -v b="$t1" 'BEGIN { printf "%.0f records/s (%d in %.2f s, with the 0.3 s the port takes to open)", n / (b - a), n, b - a }')
say "kvr-download: $rate"
record "Unpaced download, 3,000 records: kvr-download" "$rate"

say "== Load and Save of 100,000 lines"
awk 'BEGIN { for (i = 1; i <= 100000; i++) { if (i > 1) printf "\r\n";
             printf "MP:  P%06d,CODE,123.4567,89.0123,100.000,99.999,1.234,1.500,0.000,3000000.000,500000.000", i } }' \
    >"$work/big.txt"
cp "$work/big.txt" "$work/saved.txt.in"
bytes=$(wc -c <"$work/big.txt")
"$win/wine-run" "$win/bench/kvr-gui-bench.exe" - fill 100000 | tr -d '\r' >"$work/fill"
"$win/wine-run" "$win/bench/kvr-gui-bench.exe" "Z:$win_abs/KvrReader.exe" load "$(winpath "$work/big.txt")" 100000 | tr -d '\r' >"$work/load"
"$win/wine-run" "$win/bench/kvr-gui-bench.exe" "Z:$win_abs/KvrReader.exe" save "$(winpath "$work/saved.txt")" "$bytes" | tr -d '\r' >"$work/save"
cat "$work/fill" "$work/load" "$work/save"
cmp -s "$work/big.txt" "$work/saved.txt" || say "  (the saved file differs from the loaded one)"
record "Load of 100,000 lines (10 MB), OK to a list that answers" "$(awk '/load_seconds/ { print $2 " s" }' "$work/load")"
record "Save of the same list, OK to the file in place" "$(awk '/save_seconds/ { print $2 " s" }' "$work/save")"
record "Bare list box, 100,000 lines, redraw off and storage reserved" "$(awk '/fill_seconds/ { print $2 " s" }' "$work/fill")"
rm -f "$appdata/KVR Reader/Recovery/"*

WINEPREFIX="$win/wineprefix" wineserver -k 2>/dev/null || true
[ -n "$XVFB_PID" ] && kill $XVFB_PID 2>/dev/null

echo
echo "== Figures ($(nproc) cores, $(uname -m), Wine $(wine --version 2>/dev/null | sed 's/^wine-//'))"
echo "| What | Figure |"
echo "|---|---|"
cat "$results"
rm -rf "$work"
exit 0
