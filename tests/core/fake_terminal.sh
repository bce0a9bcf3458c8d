#!/bin/sh
# Stands in for a terminal emulator: records how it was called and where, then runs what
# follows "-e" and ends with its exit code.
if [ -n "$KIV_TERMINAL_LOG" ]; then
    { printf '%s\n' "$PWD"; for a in "$@"; do printf '[%s]\n' "$a"; done; } > "$KIV_TERMINAL_LOG"
fi
[ "$1" = "-e" ] && shift
[ $# -gt 0 ] || exit 0
"$@"
