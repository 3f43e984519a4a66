#!/bin/sh
# run_gui_tests.sh WIN_BUILD NATIVE_BUILD TEST_EXE [ARGS...]
# Runs a GUI test program under Wine on an X display (Xvfb when there is
# none), with the simulated instrument broker serving COM1.
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
KVR_SIM_DIR=$simdir KVR_READER_EXE="$win/KvrReader.exe" "$win/wine-run" "$@"
status=$?
touch "$simdir/stop"
wait $broker
[ $status -eq 0 ] || { echo "--- simulator log"; cat "$simdir/sim.err" 2>/dev/null; }
WINEPREFIX="$win/wineprefix" wineserver -k 2>/dev/null || true
[ -n "$started_x" ] && kill $started_x 2>/dev/null
rm -rf "$simdir"
exit $status
