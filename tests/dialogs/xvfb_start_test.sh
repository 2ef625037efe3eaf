#!/usr/bin/env bash
# with_xvfb.sh starts its command only on a server that answers a client:
#  silent - the first server writes a display number where nothing answers
#           and stays silent; a fresh server must be started in its place;
#  twelve - twelve runs started at once each reach their own server, also
#           with a client that comes right after another one left (as the
#           dialogs' display check and Qt's own connection do).
# Usage: xvfb_start_test.sh silent|twelve <with_xvfb.sh> <xvfb_client_pairs>
set -uo pipefail
mode=$1 runner=$2 pairs=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case "$mode" in
silent)
    real=$(command -v Xvfb) || { echo "no Xvfb"; exit 1; }
    mkdir "$work/bin"
    cat >"$work/bin/Xvfb" <<FAKE
#!/usr/bin/env bash
if mkdir "$work/first" 2>/dev/null; then
    echo 97 >&3
    exec sleep 60
fi
exec "$real" "\$@"
FAKE
    chmod +x "$work/bin/Xvfb"
    PATH="$work/bin:$PATH" WITH_XVFB_ANSWER_SECONDS=2 "$runner" 640x480x24 sh -c 'xdpyinfo >/dev/null && echo "answered on $DISPLAY"' >"$work/out" 2>&1
    status=$?
    cat "$work/out"
    [ "$status" -eq 0 ] || { echo "FAIL: the command did not reach a fresh server"; exit 1; }
    grep -q "did not answer" "$work/out" || { echo "FAIL: the silent server was not replaced"; exit 1; }
    echo ok
    ;;
twelve)
    pids=()
    for run in $(seq 12); do
        "$runner" 1366x768x24 timeout 60 "$pairs" 50 >"$work/run$run" 2>&1 &
        pids+=($!)
    done
    failed=0
    for run in $(seq 12); do
        wait "${pids[run - 1]}" || { failed=$((failed + 1)); echo "run $run failed:"; cat "$work/run$run"; }
    done
    cat "$work"/run*
    [ "$failed" -eq 0 ] || { echo "FAIL: $failed of 12 runs"; exit 1; }
    echo "12 of 12 runs reached their server, no connection refused"
    ;;
*) echo "usage: $0 silent|twelve <with_xvfb.sh> <xvfb_client_pairs>"; exit 2 ;;
esac
