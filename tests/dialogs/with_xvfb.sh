#!/usr/bin/env bash
# Runs a command on a private Xvfb. The server picks a free display number
# itself (-displayfd), so runs in parallel never race for one the way
# `xvfb-run -a` can. The server stops when the command ends.
# Usage: with_xvfb.sh <screen geometry, e.g. 1366x768x24> <command> [args...]
set -euo pipefail
geometry=$1
shift
work=$(mktemp -d)
server=
cleanup() {
    if [[ -n $server ]]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
server=$!
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
done
display=$(tr -d '[:space:]' <"$work/display")
if [[ -z $display ]]; then
    echo "with_xvfb: Xvfb did not start"
    cat "$work/xvfb.log"
    exit 1
fi
status=0
DISPLAY=":$display" "$@" || status=$?
exit $status
