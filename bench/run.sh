#!/bin/sh
# Benchmarks of the serial link under Wine; prints figures, asserts nothing.
#   1. processor time while the Windows link waits 10 s for a sync that
#      never comes (this process plus the wineserver), against a 1 ms poll;
#   2. acknowledgement latency over a 1200 baud paced transfer of the sample
#      job, Windows link under Wine and POSIX link natively;
#   3. the same latency through KvrReader.exe itself, with the recovery
#      journal (each line written and flushed before its acknowledgement)
#      and with recovery off (a file blocks the journal's folder).
set -e
native=${1:-build/native}
win=${2:-build/win}
com7=$(cd "$win" && pwd)/com7

server_ticks() {
    total=0
    for pid in $(pgrep wineserver); do
        set -- $(cut -d' ' -f14,15 /proc/$pid/stat)
        total=$((total + $1 + $2))
    done
    echo $total
}

idle() {
    "$native/tests/pty-peer" "$com7" open-wait close-wait &
    peer=$!
    while [ ! -L "$com7" ]; do sleep 0.01; done
    "$win/wine-run" "$win/bench/link_idle_bench.exe" COM7 1 $1 >/dev/null  # start the server first
    "$native/tests/pty-peer" "$com7" open-wait close-wait &
    peer2=$!
    sleep 0.2
    before=$(server_ticks)
    "$win/wine-run" "$win/bench/link_idle_bench.exe" COM7 10 $1
    after=$(server_ticks)
    hz=$(getconf CLK_TCK)
    awk -v t=$((after - before)) -v hz="$hz" 'BEGIN { printf "  wineserver: %.2f%% of one core over the same 10 s\n", 100 * t / hz / 10 }'
    wait $peer $peer2 || true
}

echo "== Idle wait for a sync, 10 s, Windows link under Wine"
idle ""
echo "== For comparison: a ClearCommError poll with Sleep(1)"
idle --poll-1ms

echo "== Acknowledgement latency at 1200 baud, sample job, dialect J, Windows link under Wine"
expected=$(mktemp)
"$native/kvr-sim" --pty "$com7" --baud 1200 --dialect J --print-lines "$expected" --timeout 30 > /dev/null &
sim=$!
while [ ! -L "$com7" ]; do sleep 0.01; done
KVR_EXPECT_LINES=$expected "$win/wine-run" "$win/tests/windows_link_tests.exe" --gtest_filter=*WithPeerDownloads* \
    | grep -E '^\[ +(OK|FAILED) +\]'
wait $sim

echo "== The same, POSIX link natively (kvr-read)"
port=$(mktemp -u)
"$native/kvr-sim" --pty "$port" --baud 1200 --dialect J > /dev/null &
sim=$!
while [ ! -L "$port" ]; do sleep 0.01; done
"$native/kvr-read" --quiet "$port" | wc -l | sed 's/^/  lines received: /'
wait $sim
rm -f "$expected" "$port"

# One paced download through the program, driven by kvr-demo-drive on an
# X display of its own; prints the simulator's latency line.
gui_latency() {
    appdata="$win/wineprefix/drive_c/users/$(id -un)/AppData/Local"
    markers=$(mktemp -d /tmp/kvr-bench-XXXXXX)
    rm -f "$appdata/KVR Reader/Recovery/"*  # nothing left from other runs to offer
    if [ "$1" = off ]; then
        rm -rf "$appdata/KVR Reader"
        : >"$appdata/KVR Reader"
    fi
    com1=$(cd "$win" && pwd)/com1
    "$native/kvr-sim" --pty "$com1" --baud 1200 --dialect J --timeout 30 >/dev/null 2>"$markers/sim.err" &
    sim=$!
    while [ ! -L "$com1" ]; do sleep 0.01; done
    "$win/wine-run" "$win/kvr-demo-drive.exe" "Z:$(cd "$win" && pwd)/KvrReader.exe" "Z:$markers" >/dev/null 2>&1 &
    driver=$!
    while [ ! -f "$markers/finished" ] && kill -0 $driver 2>/dev/null; do sleep 0.1; done
    touch "$markers/shot-taken"
    wait $driver || echo "  (the driver failed)"
    wait $sim || true
    sed -n 's/^kvr-sim: acknowledgement latency/  latency/p' "$markers/sim.err"
    [ "$1" = off ] && rm -f "$appdata/KVR Reader"
    rm -rf "$markers"
}

XVFB_PID=
if [ -z "$DISPLAY" ]; then
    . "$(dirname "$0")/../tools/xvfb.sh"
    StartXvfb 91
fi
echo "== Acknowledgement latency at 1200 baud through KvrReader.exe, sample job, dialect J"
echo " with the recovery journal (write and flush before each acknowledgement):"
gui_latency on
echo " with recovery off (no journal, no flush):"
gui_latency off
WINEPREFIX="$win/wineprefix" wineserver -k 2>/dev/null || true
[ -n "$XVFB_PID" ] && kill $XVFB_PID 2>/dev/null
exit 0
