#!/bin/bash
# The watcher over N working copies (default 2,000) and one copy with a large tree of folders
# (default 50,000 more): setup time and the owner's largest event-loop gap, saved file to
# signal, and idle processor time over IDLE seconds (default 60).
# Usage: bench_watcher.sh BUILD_DIR [N] [IDLE] [BIG_FOLDERS]
set -eu
BUILD=$(realpath "$1")
N=${2:-2000}
IDLE=${3:-60}
BIG=${4:-50000}
HERE=$(dirname "$(realpath "$0")")
. "$HERE/../bench_common.sh"
export LC_ALL=C
W=$(mktemp -d /tmp/bench_watcher.XXXXXX)
trap 'rm -rf "$W"' EXIT
cd "$W"

echo "# $N working copies, and one with $BIG more folders"
svnadmin create repo
bench_projects "$W" "file://$W/repo" "$N"
bench_checkout "file://$W/repo" "$W/wc" "$N"
bench_names "$N" | sed "s|^|$W/wc/|" > copies
if (( BIG > 0 )); then
    svn checkout -q "file://$W/repo/$(bench_names "$N" | head -1)" big
    # Folders of 50 in folders of 50 ...: a build tree's shape.
    mkdir -p big/tree
    (cd big/tree && for a in $(seq 1 $(( (BIG + 2499) / 2500 ))); do
        for b in $(seq 1 50); do mkdir -p "a$a/b$b"; (cd "a$a/b$b" && mkdir c{1..49}); done
    done)
    echo "$W/big" >> copies
fi
"$BUILD/bench/watcher/bench_watcher" copies "$IDLE"
