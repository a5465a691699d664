#!/usr/bin/env bash
# Starts PMXDiag on the demo: a copy of samples/ as its start directory, a settings
# store of its own (the user's own settings are never touched), and the switch
# simulator behind each link, so every Connect reaches a simulated switch at once.
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)  # absolute: the demo runs from its own directory
src=$(cd "$(dirname "$0")/.." && pwd)
demo=$(mktemp -d /tmp/pmxdemo.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$demo"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
cp "$src"/samples/* "$demo"/
export XDG_CONFIG_HOME="$demo/config"
settings="$XDG_CONFIG_HOME/TRQ PC Applications/PMXDiag.conf"
mkdir -p "$(dirname "$settings")"
: > "$settings"

# add_settings SECTION KEY=VALUE...: one section of the QSettings ini file. Values
# are quoted; a section or key with spaces is written with %20 (QSettings' escaping).
add_settings() {
    local section=${1// /%20}; shift
    printf '[%s]\n' "$section" >> "$settings"
    local kv key
    for kv in "$@"; do
        key=${kv%%=*}
        printf '%s="%s"\n' "${key// /%20}" "${kv#*=}" >> "$settings"
    done
    printf '\n' >> "$settings"
}

# wait_for_line FILE: the first line a simulator prints (its pty path or its port).
wait_for_line() {
    for _ in $(seq 100); do [ -s "$1" ] && { head -n1 "$1"; return 0; }; sleep 0.1; done
    echo "demo: a simulator did not start:" >&2
    cat "$1" >&2
    return 1
}

# ---- Serial port: COM1 is the simulator's pty (115200 8N1, no flow control), which
# sends at that line's pace as a real port would ----
serial_link="$demo/ttyPMX0"
"$build/tools/pmxsim" --pty --baud 115200 --link "$serial_link" > "$demo/pmxsim-serial.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$serial_link" ] && break; sleep 0.1; done
[ -e "$serial_link" ] || { echo "demo: the serial simulator did not start:" >&2; cat "$demo/pmxsim-serial.log" >&2; exit 1; }
add_settings Devices "COM1=$serial_link"
add_settings SerialPort CommPort=0 BaudRate=115200 DataBits=8 StopBits=0 Parity=0 Flow=0

# ---- Modem: a Hayes modem on its own pty, offered as the one data modem (device 0).
# Every number connects except "9,0307-4412", which is busy. ----
"$build/tools/pmxsim" --modem --busy "9,0307-4412" > "$demo/pmxsim-modem.out" 2> "$demo/pmxsim-modem.log" &
pids+=($!)
modem_path=$(wait_for_line "$demo/pmxsim-modem.out")
add_settings Modem Device=0
add_settings Telephony Modems=1 "Name0=PMX simulated modem" "Path0=$modem_path" Init0=ATZ

# ---- LAN and ISDN: one Telnet simulator on a free loopback port; LAN connects to it
# directly, the reference ISDN adapter routes the demo number to it. ----
"$build/tools/pmxsim" --tcp 0 > "$demo/pmxsim-tcp.out" 2> "$demo/pmxsim-tcp.log" &
pids+=($!)
tcp_port=$(wait_for_line "$demo/pmxsim-tcp.out")
printf '0301234 127.0.0.1:%s\n' "$tcp_port" > "$demo/isdn-routes.txt"
export PMX_ISDN_ROUTES="$demo/isdn-routes.txt"
# Both keep their destination under the key "History %c"; QSettings writes its blank
# as %20 and its "%" as %25.
printf '[Server]\nHistory%%20%%25c=127.0.0.1:%s\n\n' "$tcp_port" >> "$settings"
printf '[ISDN]\nHistory%%20%%25c=0301234\n\n' >> "$settings"

echo "PMXDiag demo in $demo: connect on any link (Connection menu), then the password velmod."
cd "$demo"
"$build/pmxdiag"
