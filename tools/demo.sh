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
cd "$demo"
"$build/pmxdiag"
