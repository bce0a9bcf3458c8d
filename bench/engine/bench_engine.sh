#!/bin/bash
# Times the Subversion task engine against the obvious alternatives on the same copies:
#   status of 100 and 400 small working copies: kivsvn status, a sequential shell loop of
#   "svn status" per folder, and myrepos' "mr -j2 status" (Debian package myrepos; skipped
#   when mr is not installed);
#   status -u of 100 and 400 copies: kivsvn against the loop and one svn status -u given all;
#   info of 100 and 400 copies: kivsvn info against the loop, xargs -P2 and one svn info given
#   all folders;
#   update of 100 copies of which 20 are out of date: kivsvn update against the loop, xargs -P2
#   and one svn update given all folders;
#   the search walk over 50,000 folders holding 100 copies against GNU find;
#   the window's largest event-loop gap during a run over 400 projects, and over 10,000
#   (the 400 copies 25 times; and 2,000 entries of them with 8,000 missing folders).
# Usage: bench_engine.sh BUILD_DIR [TRIALS]   (best of TRIALS, default 3; warm cache)
set -eu
BUILD=$(realpath "$1")
HERE=$(dirname "$(realpath "$0")")
. "$HERE/../bench_common.sh"
TRIALS=${2:-3}
KIVSVN=$BUILD/app/kivsvn
STALL=$BUILD/bench/engine/bench_engine_stall
export LC_ALL=C
W=$(mktemp -d /tmp/bench_engine.XXXXXX)
trap 'rm -rf "$W"' EXIT
cd "$W"

echo "# building 400 working copies"
svnadmin create repo
URL=file://$W/repo
bench_projects "$W" "$URL" 400
bench_checkout "$URL" "$W/wc" 400
# Some with local changes, so the output is not empty.
for i in $(seq -w 7 10 400); do echo "geändert" >> wc/p$i/README; done
for i in $(seq -w 5 25 400); do echo "neu" > wc/p$i/neu.txt; done

bench_registry reg100.xml "$W/wc" 100
bench_registry reg400.xml "$W/wc" 400
for N in 100 400; do
    seq -w 1 $N | head -$N | sed "s|^|$W/wc/p|" > list$N
    { for d in $(cat list$N); do printf '[%s]\ncheckout = svn co %s\n\n' "$d" "$URL"; done; } > mr$N
done
# The folders as listed by seq -w over 400 have three digits; the first 100 are p001..p100.
loop() { while read -r d; do (cd "$d" && svn status); done < "$1"; }
export -f loop

echo "# status"
for N in 100 400; do
    $KIVSVN status --registry reg$N.xml >/dev/null; loop list$N >/dev/null # warm
    K=$(best "$KIVSVN" status --registry reg$N.xml)
    L=$(best bash -c "loop list$N")
    if command -v mr >/dev/null; then
        # mr reads only configuration files listed in ~/.mrtrust: a home of its own here.
        echo "$W/mr$N" >> "$W/.mrtrust"
        M=$(best env HOME="$W" mr -j2 -c "$W/mr$N" -d / status)
    else
        M=n/a
    fi
    echo "status $N copies: kivsvn ${K}s, loop ${L}s, mr -j2 ${M}s; loop/kivsvn $(ratio "$L" "$K")x, mr/kivsvn $( [ "$M" = n/a ] && echo n/a || ratio "$M" "$K")x"
    # The same lines as the loop, project by project.
    $KIVSVN status --registry reg$N.xml | grep -v '^\*\*\*' | grep -v '^-->' > k.out
    loop list$N > l.out
    cmp -s k.out l.out || echo "  (kivsvn's lines differ from the loop's!)"
done

echo "# status -u (the server asked too)"
for N in 100 400; do
    K=$(best "$KIVSVN" status -u --registry reg$N.xml)
    L=$(best bash -c "while read -r d; do (cd \"\$d\" && svn status -u); done < list$N")
    O=$(best bash -c "xargs svn status -u < list$N")
    echo "status -u $N copies: kivsvn ${K}s, loop ${L}s, one client ${O}s; loop/kivsvn $(ratio "$L" "$K")x"
done

echo "# info"
for N in 100 400; do
    K=$(best "$KIVSVN" info --registry reg$N.xml)
    L=$(best bash -c "while read -r d; do (cd \"\$d\" && svn info); done < list$N")
    X=$(best bash -c "xargs -P2 -I{} sh -c 'cd {} && svn info' < list$N")
    O=$(best bash -c "xargs svn info < list$N")
    echo "info $N copies: kivsvn ${K}s, loop ${L}s, xargs -P2 ${X}s, one client ${O}s; loop/kivsvn $(ratio "$L" "$K")x"
    # Each block as the folder's own run prints it.
    $KIVSVN info --registry reg$N.xml | grep -v '^\*\*\*' | grep -v '^-->' > k.out
    while read -r d; do (cd "$d" && svn info); done < list$N > l.out
    cmp -s k.out l.out || echo "  (kivsvn's lines differ from the loop's!)"
done

echo "# update of 100 copies, 20 out of date"
R0=$(svn info --show-item revision wc/p001)
for i in $(seq -w 3 5 100); do
    svn checkout -q "$URL/p$i" other$i && echo "neu" >> other$i/README && svn commit -q -m u other$i
done
reset100() { while read -r d; do svn update -q -r "$R0" "$d"; done < list100; }
bestupdate() {
    local b=999999 t
    for _ in $(seq "$TRIALS"); do
        reset100
        t=$(wall "$@")
        b=$(awk -v a="$t" -v b="$b" 'BEGIN { print (a < b) ? a : b }')
    done
    echo "$b"
}
KU=$(bestupdate "$KIVSVN" update --registry reg100.xml)
LU=$(bestupdate bash -c 'while read -r d; do (cd "$d" && svn update); done < list100')
XU=$(bestupdate bash -c "xargs -P2 -I{} sh -c 'cd {} && svn update' < list100")
OU=$(bestupdate bash -c "xargs svn update < list100")
echo "update 100 copies (20 out of date): kivsvn ${KU}s, loop ${LU}s, xargs -P2 ${XU}s, one client ${OU}s; loop/kivsvn $(ratio "$LU" "$KU")x"
reset100
"$KIVSVN" update --registry reg100.xml | grep -v '^\*\*\*' | grep -v '^-->' | sort > k.out
reset100
while read -r d; do (cd "$d" && svn update); done < list100 | grep -v "^Updating '.':$" | sort > l.out
cmp -s k.out l.out || echo "  (kivsvn's update lines differ from the loop's!)"

echo "# search over 50,000 folders holding 100 copies"
mkdir -p tree
for a in $(seq 1 100); do
    for b in $(seq 1 50); do
        mkdir -p tree/a$a/b$b/c{1..9}
    done
done
for i in $(seq 1 100); do cp -a wc/p$(printf %03d $i) tree/a$i/b$(( (i % 50) + 1 ))/c5/copy$i; done
mkdir -p tree/.versteckt/x && cp -a wc/p001 tree/.versteckt/x/copy
FOLDERS=$(find tree -name '.*' -prune -o -type d -print | wc -l)
"$KIVSVN" search "$W/tree" | sort > s.out
find "$W/tree" -xdev \( -name .svn -printf '%h/\n' -o -name '.?*' \) -prune | sort > f.out
cmp -s s.out f.out && SAME=same || SAME=DIFFERENT
SK=$(best "$KIVSVN" search "$W/tree")
SF=$(best find "$W/tree" -xdev \( -name .svn -printf '%h/\n' -o -name '.?*' \) -prune)
echo "search $FOLDERS folders, $(wc -l < s.out) copies ($SAME as find): kivsvn search ${SK}s, find ${SF}s; kivsvn/find $(ratio "$SK" "$SF")x"

echo "# window: largest event-loop gap during a run over 400 projects"
mkdir -p data/KelvaroSoft/Subversion
cp reg400.xml data/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml
for mode in "status" "status --short" "update"; do
    printf '%s: ' "$mode"
    XDG_DATA_HOME=$W/data XDG_CONFIG_HOME=$W/config XDG_CACHE_HOME=$W/cache \
        XDG_RUNTIME_DIR=$W QT_QPA_PLATFORM=offscreen "$STALL" $mode 2>/dev/null
done

echo "# window: largest event-loop gap during a status run over 10,000 projects"
big() { # big FILE MISSING: 10,000 projects in groups of 100, MISSING of them without a folder
    {
        printf '<?xml version="1.0" encoding="windows-1252"?>\r\n<SubVersion Beschreibung="bench">\r\n'
        for g in $(seq 0 99); do
            printf '<ProjektGruppe Name="g%03d">\r\n' "$g"
            for k in $(seq 0 99); do
                n=$((g * 100 + k))
                if (( n < $2 )); then d="$W/fehlt/p$n"; else d="$W/wc/p$(printf %03d $((n % 400 + 1)))"; fi
                printf '<Projekt Name="p%05d" Verzeichnis="%s"/>\r\n' "$n" "$d"
            done
            printf '</ProjektGruppe>\r\n'
        done
        printf '</SubVersion>\r\n'
    } > "$1"
}
big big0.xml 0
big big8000.xml 8000
for reg in big0 big8000; do
    cp $reg.xml data/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml
    for mode in "status" "status --short"; do
        printf '%s, %s: ' "$reg" "$mode"
        XDG_DATA_HOME=$W/data XDG_CONFIG_HOME=$W/config XDG_CACHE_HOME=$W/cache \
            XDG_RUNTIME_DIR=$W QT_QPA_PLATFORM=offscreen "$STALL" $mode 2>/dev/null
    done
done

echo "# the same on a busy machine: two processes keep both cores busy meanwhile"
yes > /dev/null & H1=$!
yes > /dev/null & H2=$!
for reg in big0 big8000; do
    cp $reg.xml data/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml
    printf '%s, status (busy): ' "$reg"
    XDG_DATA_HOME=$W/data XDG_CONFIG_HOME=$W/config XDG_CACHE_HOME=$W/cache \
        XDG_RUNTIME_DIR=$W QT_QPA_PLATFORM=offscreen "$STALL" status 2>/dev/null
done
kill $H1 $H2
