#!/bin/sh
# sim_broker.sh DIR KVR_SIM PORT_LINK
# Serves the GUI tests, which run under Wine and cannot start a Linux
# program: for each DIR/request (a line of kvr-sim arguments) it ends the
# previous simulator, starts a new one on a fresh pty linked at PORT_LINK,
# and answers DIR/ready once the port exists and DIR/done (the exit status)
# when the simulator ends. DIR/kill asks for kill -9 of every KvrReader.exe
# process, answered by DIR/killed. Stops when DIR/stop appears.
dir=$1
sim=$2
link=$3
pid=
while [ ! -f "$dir/stop" ]; do
    if [ -f "$dir/request" ]; then
        args=$(tr -d "\r" <"$dir/request")
        rm -f "$dir/request" "$dir/ready"
        if [ -n "$pid" ]; then
            pkill -P "$pid" 2>/dev/null
            kill "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        fi
        # Only once the previous simulator has ended: its status must not
        # pass for the new one's.
        rm -f "$dir/done"
        rm -f "$link"
        (
            # shellcheck disable=SC2086
            "$sim" --pty "$link" --print-lines "$dir/expected" $args >"$dir/sim.out" 2>>"$dir/sim.err"
            echo $? >"$dir/done.tmp"
            mv "$dir/done.tmp" "$dir/done"
        ) &
        pid=$!
        while [ ! -L "$link" ] && [ ! -f "$dir/done" ]; do sleep 0.01; done
        touch "$dir/ready"
    fi
    if [ -f "$dir/kill" ]; then
        rm -f "$dir/kill"
        pkill -KILL -f 'KvrReader\.exe' 2>/dev/null
        touch "$dir/killed"
    fi
    sleep 0.02
done
[ -n "$pid" ] && { pkill -P "$pid" 2>/dev/null; kill "$pid" 2>/dev/null; }
exit 0
