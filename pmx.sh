#!/usr/bin/env bash
# Set-up, build, run and test PMXDiag on a Debian machine.
#   ./pmx.sh run         install what is missing, build, start the demo
#   ./pmx.sh test        install what is missing, build, run every test
#   ./pmx.sh test-asan   the same tests in an ASan+UBSan build
#   ./pmx.sh test-tsan   the threaded tests in a TSan build
#   ./pmx.sh bench       build and run the benchmarks (Release)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"

packages=(build-essential cmake qt6-base-dev qt6-base-dev-tools libgtest-dev libgmock-dev fonts-dejavu-core
          libbenchmark-dev)
# Many switches at once (tools/try-runner.sh): GNU parallel, and GNU time for each run's memory.
packages+=(parallel time)
jobs=$(nproc 2>/dev/null || echo 2)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

build() {  # build <dir> [cmake args...]
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

run_tests() {  # run_tests <dir> [ctest args...]
    local dir=$1; shift
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
}

case "${1:-}" in
run)
    install_missing
    build build
    exec "$here/tools/demo.sh" "$here/build"
    ;;
test)
    install_missing
    build build
    run_tests build
    ;;
test-asan)
    install_missing
    build build-asan -DPMX_SANITIZE=address
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions="$here/tools/lsan.supp" \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_tests build-asan
    ;;
test-tsan)
    install_missing
    build build-tsan -DPMX_SANITIZE=thread
    # The thread sanitizer's fixed shadow memory can collide with a randomised address
    # space (it then fails to start a test at all): run without address randomisation
    # where the machine allows it.
    norandom=()
    setarch "$(uname -m)" -R true 2>/dev/null && norandom=(setarch "$(uname -m)" -R)
    TSAN_OPTIONS="ignore_noninstrumented_modules=1 halt_on_error=1 second_deadlock_stack=1" \
        "${norandom[@]}" ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L threads
    ;;
bench)
    packages+=(xterm xvfb xauth)  # the terminal benchmark's peer, on a virtual display
    install_missing
    cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DPMX_BUILD_TESTS=OFF >/dev/null
    cmake --build build-release -j"$jobs"
    for b in build-release/bench/bench_*; do
        [ -x "$b" ] || continue
        echo "== $b"
        if [ "$(basename "$b")" = bench_terminal_view ] && [ -z "${DISPLAY:-}" ]; then
            xvfb-run -a -s "-screen 0 1280x1024x24" "$b"
        else
            "$b"
        fi
    done
    ;;
*)
    sed -n '2,8p' "$0"
    exit 2
    ;;
esac
