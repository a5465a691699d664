#!/usr/bin/env bash
# Starts PMXDiag on the demo: a copy of samples/ as its start directory and a settings
# store of its own, so the user's own settings are never touched.
set -euo pipefail
build=${1:?build directory}
src=$(cd "$(dirname "$0")/.." && pwd)
demo=$(mktemp -d /tmp/pmxdemo.XXXXXX)
trap 'rm -rf "$demo"' EXIT
cp "$src"/samples/* "$demo"/
mkdir -p "$demo/config"
export XDG_CONFIG_HOME="$demo/config"

# ---- ISDN demo: the simulator answers the reference adapter's calls ----
# The adapter routes 0301234 to 127.0.0.1:2323 (isdn-routes.txt beside it); the
# stored ISDN number is that one. The key "History %c" is written as QSettings
# escapes it in an ini file.
"$build/tools/pmxsim" --tcp 2323 >/dev/null 2>"$demo/pmxsim-tcp.log" &
isdn_sim=$!
trap 'kill "$isdn_sim" 2>/dev/null || true; rm -rf "$demo"' EXIT
mkdir -p "$XDG_CONFIG_HOME/TRQ PC Applications"
printf '[ISDN]\nHistory%%20%%25c=0301234\n' >> "$XDG_CONFIG_HOME/TRQ PC Applications/PMXDiag.conf"
# ---- end ISDN demo ----
# ---- Modem demo: the simulator plays a Hayes modem on its own pty, offered as the one
# data modem (device 0). Every number connects except "9,0307-4412", which is busy.
"$build/tools/pmxsim" --modem --busy "9,0307-4412" > "$demo/modem.out" &
modem_pid=$!
trap 'kill "$modem_pid" 2>/dev/null; rm -rf "$demo"' EXIT
for _ in $(seq 50); do [ -s "$demo/modem.out" ] && break; sleep 0.1; done
mkdir -p "$XDG_CONFIG_HOME/TRQ PC Applications"
cat >> "$XDG_CONFIG_HOME/TRQ PC Applications/PMXDiag.conf" <<EOF
[Modem]
Device=0

[Telephony]
Modems=1
Name0=PMX simulated modem
Path0=$(head -n1 "$demo/modem.out")
Init0=ATZ
EOF
# ---- end of the modem demo ----

cd "$demo"
"$build/pmxdiag"
