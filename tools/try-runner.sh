#!/usr/bin/env bash
# Tries pmxdiag-run as a user would, against the switch simulator on this machine only
# (pseudo-terminals and loopback ports), in a settings store of its own.
#   tools/try-runner.sh BUILD links      one script over every link kind
#   tools/try-runner.sh BUILD many [N]   the same script against N switches (default 20)
#                                        at once through GNU parallel; one of them gets a
#                                        wrong password and one is a dead address
# Keeps its files (traces, job log, the time of each run) in the folder it prints.
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
mode=${2:-links}
count=${3:-20}
run="$build/pmxdiag-run"
sim="$build/tools/pmxsim"
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/pmxrun.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM
for tool in parallel /usr/bin/time; do
    command -v "$tool" > /dev/null || { echo "try-runner: $tool is missing (./pmx.sh installs it)" >&2; exit 1; }
done
cd "$work"
export XDG_CONFIG_HOME="$work/config"
settings="$XDG_CONFIG_HOME/TRQ PC Applications/PMXDiag.conf"
mkdir -p "$(dirname "$settings")"
: > "$settings"

# wait_for_line FILE: the first line a simulator prints (its pty path or its port).
wait_for_line() {
    for _ in $(seq 100); do [ -s "$1" ] && { head -n1 "$1"; return 0; }; sleep 0.1; done
    echo "try-runner: a simulator did not start:" >&2
    cat "$1" >&2
    return 1
}

# start_tcp NAME: a Telnet simulator on a free loopback port, its port in $port (not a
# subshell: the simulator must be remembered to be stopped at the end).
start_tcp() {
    "$sim" --tcp 0 > "sim-$1.out" 2> "sim-$1.log" &
    pids+=($!)
    port=$(wait_for_line "sim-$1.out")
}

# check_trace FILE: the start banner, the script's answers and the stop banner, in order.
check_trace() {
    awk '/Start to Save Trace Data at/ {s=NR} /SYSTEM STATUS/ && s {a=NR} /maintenance access/ && a {h=NR}
         /Stop Saving Trace Data at/ && h {e=NR} END {exit !(s && a && h && e)}' "$1"
}

printf '# the nightly check\ns s\nhelp\n' > script.txt
echo velmod > password
chmod 600 password

case "$mode" in
links)
    cp "$src/samples/PhoneNo.txt" .
    "$sim" --pty --link "$work/ttyPMX0" > sim-serial.log 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$work/ttyPMX0" ] && break; sleep 0.1; done
    "$sim" --modem --busy "9,0307-4412" > sim-modem.out 2> sim-modem.log &
    pids+=($!)
    modem=$(wait_for_line sim-modem.out)
    start_tcp lan
    printf '0301234 127.0.0.1:%s\n' "$port" > isdn-routes.txt
    export PMX_ISDN_ROUTES="$work/isdn-routes.txt"
    {
        printf '[Modem]\nDevice=0\n\n'
        printf '[Telephony]\nModems=1\nName0=PMX simulated modem\nPath0=%s\nInit0=ATZ\n\n' "$modem"
        printf '[ISDN]\nHistory%%20%%25c=0301234\n\n'
    } >> "$settings"
    status=0
    try() {
        local name=$1; shift
        local code=0
        /usr/bin/time -f "%e s, peak RSS %M KB" -o "time-$name" \
            "$run" "$@" --password-file password --script script.txt --trace "trace-$name.txt" -q \
            2> "stderr-$name" || code=$?
        local trace=ok
        check_trace "trace-$name.txt" || trace=INCOMPLETE
        printf '%-8s exit %d, trace %s, %s\n' "$name" "$code" "$trace" "$(cat "time-$name")"
        sed 's/^/           /' "stderr-$name"
        [ "$code" = 0 ] && [ "$trace" = ok ] || status=1
    }
    try lan --lan "127.0.0.1:$port"
    try serial --serial "$work/ttyPMX0" --line 115200,8,N,1,none
    try modem --modem "0221 555 0100"
    try entry --entry "North Exchange"
    try isdn --isdn
    echo "files in $work"
    exit $status
    ;;
many)
    # The list of switches: name, destination, password file; one per line.
    echo wrong > wrong-password
    : > switches.txt
    for i in $(seq 1 "$count"); do
        name=$(printf 'sw%02d' "$i")
        if [ "$i" = 2 ]; then
            # A port a simulator had: nobody listens there any more.
            start_tcp "$name"
            kill "${pids[-1]}" && wait "${pids[-1]}" 2>/dev/null || true
            echo "$name 127.0.0.1:$port password" >> switches.txt
        else
            start_tcp "$name"
            pw=password
            [ "$i" = 3 ] && pw=wrong-password
            echo "$name 127.0.0.1:$port $pw" >> switches.txt
        fi
    done
    mkdir -p traces
    start=$(date +%s%N)
    # The README's command, with the time of each run kept beside its trace.
    parallel --jobs "$count" --colsep ' ' --joblog jobs.log \
        /usr/bin/time --quiet -f %e,%M -o traces/{1}.time \
        "$run" --lan {2} --name {1} --password-file {3} --script script.txt \
        --trace traces/{1}.txt --quiet :::: switches.txt 2> stderr.txt || true
    end=$(date +%s%N)
    echo "wall time for $count switches: $(awk -v ns=$((end - start)) 'BEGIN {printf "%.2f", ns / 1e9}') s"
    echo "exit codes (job log):"
    awk 'NR > 1 {n[$7]++} END {for (c in n) printf "  exit %s: %d\n", c, n[c]}' jobs.log | sort
    awk -F, '{print $2}' traces/*.time | sort -n | awk '{a[NR]=$1} END {printf "peak RSS per run: min %d KB, median %d KB, max %d KB\n", a[1], a[int((NR+1)/2)], a[NR]}'
    bad=0
    while read -r name dest pw; do
        code=$(awk -v s="$name" '$0 ~ "--name " s " " {print $7}' jobs.log)
        if [ "$code" = 0 ]; then check_trace "traces/$name.txt" || { echo "  $name: trace incomplete"; bad=1; }; fi
    done < switches.txt
    echo "lines on standard error:"
    grep -v -e 'logged in' -e 'Script done' -e 'Confirm st' stderr.txt | sed 's/^/  /' || true
    [ "$bad" = 0 ] && echo "every trace of a finished run holds the whole script"
    echo "files in $work"
    ;;
*)
    echo "usage: $0 BUILD links | many [N]" >&2
    exit 1
    ;;
esac
