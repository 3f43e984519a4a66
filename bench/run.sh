#!/bin/sh
# Benchmarks of the serial link under Wine; prints figures, asserts nothing.
#   1. processor time while the Windows link waits 10 s for a sync that
#      never comes (this process plus the wineserver), against a 1 ms poll;
#   2. acknowledgement latency over a 1200 baud paced transfer of the sample
#      job, Windows link under Wine and POSIX link natively.
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
