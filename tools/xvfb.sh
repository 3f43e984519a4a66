# Sourced by the demo and the benchmarks: StartXvfb FIRST starts Xvfb on the
# first free display of FIRST to FIRST+8, exports DISPLAY and sets XVFB_PID.
# The caller kills $XVFB_PID when done.
StartXvfb() {
    n=$1
    while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=:$n
    tries=0
    while [ ! -e /tmp/.X11-unix/X$n ] && [ $tries -lt 200 ]; do tries=$((tries + 1)); sleep 0.05; done
}
