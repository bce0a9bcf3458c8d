#!/bin/bash
# The live copies over N working copies (default 2,000), in the window and in kivsvn watch:
#   "Testen auf Änderungen" right after the start (every copy runs) against the same test
#   repeated after 3 copies changed (target: at most 5 %);
#   a saved file to its state in the tree and to kivsvn watch's line (target: under 2 s);
#   the processor time of the idle window and of the idle kivsvn watch over IDLE seconds
#   (default 60; target: under 1 % of a core).
# Usage: bench_live.sh BUILD_DIR [N] [TRIALS] [IDLE]
set -eu
BUILD=$(realpath "$1")
N=${2:-2000}
TRIALS=${3:-3}
IDLE=${4:-60}
HERE=$(dirname "$(realpath "$0")")
. "$HERE/../bench_common.sh"
export LC_ALL=C.UTF-8
W=$(mktemp -d /tmp/bench_live.XXXXXX)
trap 'rm -rf "$W"' EXIT
cd "$W"

echo "# $N working copies"
svnadmin create repo
bench_projects "$W" "file://$W/repo" "$N"
bench_checkout "file://$W/repo" "$W/wc" "$N"
bench_names "$N" | sed "s|^|$W/wc/|" > copies
bench_registry reg.xml "$W/wc" "$N"
mkdir -p data/KelvaroSoft/Subversion run
chmod 700 run
cp reg.xml data/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml
export XDG_DATA_HOME=$W/data XDG_CONFIG_HOME=$W/config XDG_CACHE_HOME=$W/cache XDG_RUNTIME_DIR=$W/run
export QT_QPA_PLATFORM=offscreen
"$BUILD/bench/live/bench_live" window copies "$TRIALS" "$IDLE"
"$BUILD/bench/live/bench_live" watch "$BUILD/app/kivsvn" reg.xml copies 10 "$IDLE"
