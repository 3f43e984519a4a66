#!/bin/sh
# with_peer.sh PORT_LINK "PEER COMMAND" TEST COMMAND...
# Starts the peer (which makes PORT_LINK point at its fresh pty), waits for
# the link, runs the test command, then waits for the peer. Fails if either
# failed.
link=$1
peer=$2
shift 2
rm -f "$link"
sh -c "$peer" &
peer_pid=$!
tries=0
while [ ! -e "$link" ] && [ ! -L "$link" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 500 ]; then
        echo "with_peer: $link did not appear" >&2
        kill $peer_pid 2>/dev/null
        exit 1
    fi
    sleep 0.01
done
"$@"
test_status=$?
# The peer ends by itself once the receiver lets go; do not wait forever.
tries=0
while kill -0 $peer_pid 2>/dev/null && [ $tries -lt 300 ]; do
    tries=$((tries + 1))
    sleep 0.1
done
kill $peer_pid 2>/dev/null
wait $peer_pid
peer_status=$?
[ $peer_status -eq 0 ] || echo "with_peer: the peer failed ($peer_status)" >&2
[ $test_status -eq 0 ] && [ $peer_status -eq 0 ]
