#!/bin/bash
# Runs against a server that is far away: svnserve on 127.0.0.1 behind bench_delay_proxy, which
# adds a round trip of RTT_MS to every request. Times status -u and update of N working copies
# (default 100) for:
#   the sequential loop (svn in each folder), xargs -P8 (one client per folder, eight at once),
#   one client given all folders, kivsvn with its default number of clients, kivsvn --jobs 8.
# Before each update round a commit changes a fifth of the projects, so every round has work.
# Usage: bench_server.sh BUILD_DIR [RTT_MS] [TRIALS] [N]   (RTT 40 ms, 3 trials, 100 copies)
set -eu
BUILD=$(realpath "$1")
RTT=${2:-40}
TRIALS=${3:-3}
N=${4:-100}
HERE=$(dirname "$(realpath "$0")")
. "$HERE/../bench_common.sh"
KIVSVN=$BUILD/app/kivsvn
PROXY=$BUILD/bench/server/bench_delay_proxy
export LC_ALL=C
W=$(mktemp -d /tmp/bench_server.XXXXXX)
PIDS=()
trap 'kill "${PIDS[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$W"' EXIT
cd "$W"

echo "# $N working copies of a repository served by svnserve, ${RTT} ms round trip"
svnadmin create repo
printf '[general]\nanon-access = write\n' > repo/conf/svnserve.conf
bench_projects "$W" "file://$W/repo" "$N"
for _ in 1 2 3 4 5; do
    PORT=$((20000 + RANDOM % 30000))
    svnserve -d --foreground --listen-host 127.0.0.1 --listen-port "$PORT" -r "$W" &
    SERVE=$!
    sleep 0.3
    kill -0 "$SERVE" 2>/dev/null && break
done
PIDS+=("$SERVE")
coproc PROXYPROC { exec "$PROXY" "$PORT" "$RTT"; }
PIDS+=("$PROXYPROC_PID")
read -r FAR <&"${PROXYPROC[0]}"
NEAR_URL=svn://127.0.0.1:$PORT/repo
FAR_URL=svn://127.0.0.1:$FAR/repo
# Checked out near (quick), then pointed at the far server.
bench_checkout "$NEAR_URL" "$W/wc" "$N"
bench_names "$N" | sed "s|^|$W/wc/|" > list
while read -r d; do svn relocate "$NEAR_URL" "$FAR_URL" "$d"; done < list
bench_registry reg.xml "$W/wc" "$N"
svn checkout -q "file://$W/repo" other
ROUND=0
commit_round() { # a fifth of the projects get a new line in their README, in one commit
    ROUND=$((ROUND + 1))
    local k=0 p
    for p in $(bench_names "$N"); do
        (( k++ % 5 == ROUND % 5 )) && echo "Runde $ROUND" >> "other/$p/README"
    done
    svn commit -q -m "Runde $ROUND" other
}

# One name and one command line per way; "$TASK" is filled in when each runs.
WAYS=("loop" "xargs -P8" "one client" "kivsvn" "kivsvn --jobs 8")
way() {
    case "$1" in
    "loop") bash -c "while read -r d; do (cd \"\$d\" && svn $TASK); done < list" ;;
    "xargs -P8") xargs -P8 -n1 svn $TASK < list ;;
    "one client") xargs svn $TASK < list ;;
    "kivsvn") "$KIVSVN" $TASK --registry reg.xml ;;
    "kivsvn --jobs 8") "$KIVSVN" $TASK --jobs 8 --registry reg.xml ;;
    esac
}
measure() { # measure WAY [BEFORE]: the spread of TRIALS runs, BEFORE run untimed before each
    local times=() t
    for _ in $(seq "$TRIALS"); do
        [ -n "${2:-}" ] && $2 >/dev/null
        t=$(wall way "$1")
        times+=("$t")
    done
    spread "${times[@]}"
}

for TASK in "status -u" "update"; do
    before=""
    [ "$TASK" = update ] && before=commit_round
    way "kivsvn" >/dev/null 2>&1 || true # warm
    for w in "${WAYS[@]}"; do
        echo "$TASK, $N copies, $w: $(measure "$w" "$before")"
    done
done
