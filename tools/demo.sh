#!/usr/bin/env bash
# Starts PMXDiag on the demo: a copy of samples/ as its start directory, a settings
# store of its own (the user's own settings are never touched), and the switch
# simulator behind each link, so every Connect reaches a simulated switch at once.
set -euo pipefail
build=${1:?build directory}
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
    local kv
    for kv in "$@"; do
        printf '%s="%s"\n' "${kv%%=*}" "${kv#*=}" >> "$settings"
    done
    printf '\n' >> "$settings"
}

# ---- Serial port: COM1 is the simulator's pty (115200 8N1, no flow control) ----
serial_link="$demo/ttyPMX0"
"$build/tools/pmxsim" --pty --link "$serial_link" > "$demo/pmxsim-serial.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$serial_link" ] && break; sleep 0.1; done
[ -e "$serial_link" ] || { echo "demo: the serial simulator did not start:" >&2; cat "$demo/pmxsim-serial.log" >&2; exit 1; }
add_settings Devices "COM1=$serial_link"
add_settings SerialPort CommPort=0 BaudRate=115200 DataBits=8 StopBits=0 Parity=0 Flow=0

# ---- Modem ----
# ---- LAN ----
# ---- ISDN ----

echo "PMXDiag demo in $demo: Connection > Serial Port Connect, then the password velmod."
cd "$demo"
"$build/pmxdiag"
