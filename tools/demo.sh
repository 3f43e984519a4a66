#!/bin/sh
# make demo: the simulated instrument with its sample job on COM1 and the
# tool on screen. With a display, press Recv and watch the job arrive (paced
# at 1200 baud, as the instrument sends it). Without one, the whole download
# runs headless under Xvfb in English and in Chinese, the received lines are
# printed and screenshots of the finished window are written.
native=${1:-build/native}
win=${2:-build/win}
out=$win/demo
mkdir -p "$out"
com1=$(cd "$win" && pwd)/com1
# The demo prefix is the tests' prefix: no journal of theirs is offered here.
rm -f "$win/wineprefix/drive_c/users/$(id -un)/AppData/Local/KVR Reader/Recovery/"*

if [ -n "$DISPLAY" ] && xwd -root -silent >/dev/null 2>&1; then
    "$native/kvr-sim" --pty "$com1" --sessions 0 --baud 1200 --timeout 600 >/dev/null &
    sim=$!
    echo "The simulated instrument is on COM1. Press Recv in the window."
    "$win/wine-run" "$win/KvrReader.exe"
    kill $sim 2>/dev/null
    exit 0
fi

. "$(dirname "$0")/xvfb.sh"
StartXvfb 81
status=0
for language in en zh; do
    case $language in
        en) locale=en_US.UTF-8 ;;
        zh) locale=zh_CN.UTF-8 ;;
    esac
    markers=$(mktemp -d /tmp/kvr-demo-XXXXXX)
    "$native/kvr-sim" --pty "$com1" --dialect J >/dev/null 2>"$markers/sim.err" &
    sim=$!
    tries=0
    while [ ! -L "$com1" ] && kill -0 $sim 2>/dev/null && [ $tries -lt 500 ]; do tries=$((tries + 1)); sleep 0.01; done
    if [ ! -L "$com1" ]; then
        echo "the simulated instrument did not start:"; cat "$markers/sim.err"
        kill $sim 2>/dev/null
        status=1
        continue
    fi
    echo "== Download, $locale interface"
    LC_ALL= LC_MESSAGES= LANG=$locale "$win/wine-run" "$win/kvr-demo-drive.exe" \
        "Z:$(cd "$win" && pwd)/KvrReader.exe" "Z:$markers" &
    driver=$!
    tries=0
    while [ ! -f "$markers/finished" ] && kill -0 $driver 2>/dev/null; do sleep 0.1; done
    if [ -f "$markers/finished" ]; then
        set -- $(cat "$markers/finished")
        xwd -root -silent | convert xwd:- -crop "${3}x${4}+${1}+${2}" +repage "$out/screenshot-$language.png"
        echo "Screenshot: $out/screenshot-$language.png"
        touch "$markers/shot-taken"
    fi
    wait $driver || status=1
    kill $sim 2>/dev/null
    wait $sim 2>/dev/null
    rm -rf "$markers"
done
WINEPREFIX="$win/wineprefix" wineserver -k 2>/dev/null
kill $XVFB_PID 2>/dev/null
exit $status
