#!/bin/sh
# Starts PMXDiag from the desktop: the program reads its files from the folder it
# starts in, so it is started in the user's own working folder, which gets copies
# of the sample command and phone book files on first start. The user's own files
# are never overwritten.
set -e
here=$(dirname "$(readlink -f "$0")")
samples="$here/../share/pmxdiag"
work="${XDG_DATA_HOME:-$HOME/.local/share}/pmxdiag"
mkdir -p "$work"
for f in CmdConf.txt PhoneNo.txt; do
    if [ ! -e "$work/$f" ] && [ ! -L "$work/$f" ] && [ -f "$samples/$f" ]; then
        cp "$samples/$f" "$work/$f"
    fi
done
cd "$work"
exec "$here/pmxdiag" "$@"
