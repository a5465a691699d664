#!/bin/sh
# Starts PMXDiag from the desktop: the program reads its files from the folder it
# starts in, so it is started in the user's own working folder, which gets copies
# of the sample command and phone book files on first start. The user's own files
# are never overwritten.
set -e
here=$(dirname "$(readlink -f "$0")")
samples="$here/../share/pmxdiag"
work="${XDG_DATA_HOME:-$HOME/.local/share}/pmxdiag"
if ! mkdir -p "$work"; then
    echo "pmxdiag-launch: cannot make the working folder $work" >&2
    exit 1
fi
for f in CmdConf.txt PhoneNo.txt; do
    if [ ! -e "$work/$f" ] && [ ! -L "$work/$f" ] && [ -f "$samples/$f" ]; then
        cp "$samples/$f" "$work/$f"
    fi
done
if [ ! -f "$work/CmdConf.txt" ]; then
    echo "pmxdiag-launch: no CmdConf.txt in $work: copy one there (the sample is $(readlink -f "$samples")/CmdConf.txt)" >&2
fi

# A relative file name on the command line names a file in the folder we were
# started in, not in the working folder.
started=$(pwd)
count=$#
value=0
ended=0
while [ "$count" -gt 0 ]; do
    a=$1
    shift
    count=$((count - 1))
    if [ "$value" = 1 ]; then
        value=0
    elif [ "$ended" = 0 ] && [ "$a" = "--" ]; then
        ended=1
    elif [ "$ended" = 0 ]; then
        case $a in
        -platform|--platform|-style|--style|-stylesheet|--stylesheet|-display|--display|\
        -qwindowgeometry|--qwindowgeometry|-qwindowtitle|--qwindowtitle) value=1 ;;
        -*) ;;
        /*) ;;
        *) a="$started/$a" ;;
        esac
    else
        case $a in
        /*) ;;
        *) a="$started/$a" ;;
        esac
    fi
    set -- "$@" "$a"
done

cd "$work"
exec "$here/pmxdiag" "$@"
