#!/bin/sh
# run_gui_tests.sh WIN_BUILD NATIVE_BUILD TEST_EXE [ARGS...]
# Runs a GUI test program under Wine on an X display (Xvfb when there is
# none), with the simulated instrument broker serving COM1. KVR_READER_EXE
# names another KvrReader.exe to test than the build tree's.
win=$1
native=$2
shift 2
simdir=$(mktemp -d /tmp/kvr-gui-XXXXXX)
started_x=
if [ -z "$DISPLAY" ]; then
    for n in 71 72 73 74 75 76 77 78 79; do
        if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
            Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            started_x=$!
            export DISPLAY=:$n
            break
        fi
    done
    tries=0
    while [ ! -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && [ $tries -lt 200 ]; do tries=$((tries + 1)); sleep 0.05; done
fi
sh "$(dirname "$0")/sim_broker.sh" "$simdir" "$native/kvr-sim" "$win/com1" &
broker=$!
# Wine's own diagnostics (of the test program and of every KvrReader.exe it
# starts) go to a file, not into the test's output; a failure shows their end.
KVR_SIM_DIR=$simdir KVR_READER_EXE="${KVR_READER_EXE:-$win/KvrReader.exe}" "$win/wine-run" "$@" 2>"$simdir/wine.err" >"$simdir/out"
status=$?
cat "$simdir/out"
# A filter that names no case must not pass as a run.
if grep -q "Running 0 tests" "$simdir/out"; then
    echo "no test case matches: $*"
    status=1
fi
touch "$simdir/stop"
wait $broker
if [ $status -ne 0 ]; then
    lines=$(wc -l <"$simdir/wine.err")
    if [ "$lines" -gt 0 ]; then
        echo "--- the last 20 of $lines lines on standard error (Wine's diagnostics among them)"
        tail -n 20 "$simdir/wine.err"
    fi
fi
WINEPREFIX="$win/wineprefix" wineserver -k 2>/dev/null || true
[ -n "$started_x" ] && kill $started_x 2>/dev/null
rm -rf "$simdir"
exit $status
