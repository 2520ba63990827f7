#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# `lxi discover --mdns` finds `korvale-cli serve --scpi 0`, announced through
# an avahi-daemon of the test's own, in a network and mount namespace of its
# own where loopback is the only interface: nothing leaves the namespace, and
# the machine's own bus and daemon are never touched. Exit 77 (skipped) when
# the namespace or the daemons cannot be had here, saying why.
#   scpi_discover.sh KORVALE_CLI KORVALE_SIM
set -euo pipefail
cli=$1 sim=$2

skip() { echo "SKIP: $*"; exit 77; }

if [ "${KORVALE_IN_NAMESPACE:-}" != 1 ]; then
    for tool in unshare ip dbus-daemon avahi-daemon lxi; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
    [ "$(id -u)" = 0 ] || skip "a network namespace of its own needs root"
    unshare --net --mount true 2>/dev/null || skip "unshare --net --mount is not allowed here"
    KORVALE_IN_NAMESPACE=1 exec unshare --net --mount "$0" "$@"
fi

work=$(mktemp -d)
pids=()
finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT

# Until it is true, for at most $1 tries a tenth of a second apart.
until_true() {
    local tries=$1
    shift
    until "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

ip link set lo up multicast on
ip route add 224.0.0.0/4 dev lo
# The daemon's pid file and socket, and the bus's, on this namespace's own /run.
mount -t tmpfs tmpfs /run
mkdir -p /run/avahi-daemon

cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
cat >"$work/avahi.conf" <<EOF
[server]
host-name=korvale-test
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
EOF
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile 2>"$work/bus.log" &
pids+=($!)
until_true 50 test -S "$work/bus" || skip "the private dbus-daemon did not start: $(cat "$work/bus.log")"
# The daemon, as pids[1], telling its start-up in the log $1.
avahi() {
    avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$work/avahi.conf" 2>"$1" &
    pids[1]=$!
    until_true 100 grep -q "Server startup complete" "$1"
}
avahi "$work/avahi.log" || skip "the private avahi-daemon did not start: $(tail -3 "$work/avahi.log")"

"$sim" --no-pace --period 100 --link "$work/supply" >/dev/null &
pids+=($!)
until_true 50 test -e "$work/supply"
"$cli" --device "$work/supply" serve --http 0 --scpi 0 >"$work/serve.out" 2>"$work/serve.err" &
pids+=($!)
until_true 100 grep -q '^scpi on TCPIP::127.0.0.1::[0-9]*::SOCKET$' "$work/serve.out"
port=$(sed -n 's/^scpi on TCPIP::127.0.0.1::\([0-9]*\)::SOCKET$/\1/p' "$work/serve.out")

# Browsing takes its own timeout each try; a few tries cover the daemon's
# probing of the new name.
found() {
    lxi discover --mdns --timeout 2 >"$work/discover.out" 2>&1
    grep -A1 '^ *Found "Korvale KPS-4005 on .*:'"$port"'" on address 127.0.0.1$' "$work/discover.out" |
        grep -q "scpi-raw service on port $port"
}
if ! until_true 5 found; then
    echo "lxi discover --mdns did not list the server on port $port:"
    cat "$work/discover.out" "$work/serve.err"
    exit 1
fi
echo "lxi discover --mdns lists korvale-cli serve --scpi on port $port"

# Announced again when the daemon comes back after a restart.
kill "${pids[1]}"
wait "${pids[1]}" || true
avahi "$work/avahi-again.log"
until_true 5 found || { echo "not announced again after avahi-daemon restarted"; cat "$work/serve.err"; exit 1; }

# Withdrawn with the server.
kill "${pids[-1]}"
wait "${pids[-1]}" || true
unset 'pids[-1]'
gone() { ! found; }
until_true 5 gone || { echo "still listed after serve ended"; exit 1; }
echo "1 passed, 0 failed"
