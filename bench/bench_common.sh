# What the benchmark scripts share, sourced by them: timing, and their working copies.
#   wall CMD...                the wall time of one run of CMD (output discarded), in seconds;
#   best CMD...                the best of $TRIALS runs; ratio A B: A / B;
#   spread T...                "best B (median M, worst W)" of the times T;
#   bench_projects DIR URL N   imports N projects p001.. (README, src/main.c, doc/index.txt)
#                              into the repository at URL, from files made under DIR/imp;
#   bench_checkout URL WC N    checks them out as WC/p001.., with one client;
#   bench_registry FILE WC N   writes a registry of them in groups of 50, as the program does;
#   bench_names N              the project names, one a line.
# Names carry as many digits as N needs, at least three.

wall() { # wall time of one run of "$@" (output discarded), in seconds
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    e=$(date +%s.%N)
    awk -v s="$s" -v e="$e" 'BEGIN { printf "%.3f", e - s }'
}
best() { # best of TRIALS runs
    local b=999999 t
    for _ in $(seq "$TRIALS"); do
        t=$(wall "$@")
        b=$(awk -v a="$t" -v b="$b" 'BEGIN { print (a < b) ? a : b }')
    done
    echo "$b"
}
spread() {
    printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END {
        printf "%.2fs (median %.2fs, worst %.2fs)", t[1], t[int((NR + 1) / 2)], t[NR] }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

bench_names() {
    local w=${#1}
    (( w < 3 )) && w=3
    seq -f "p%0${w}g" 1 "$1"
}

bench_projects() {
    local dir=$1 url=$2 n=$3 p
    mkdir -p "$dir/imp"
    for p in $(bench_names "$n"); do
        mkdir -p "$dir/imp/$p/src" "$dir/imp/$p/doc"
        echo "eins" > "$dir/imp/$p/README"
        echo "int main() {}" > "$dir/imp/$p/src/main.c"
        echo "doc" > "$dir/imp/$p/doc/index.txt"
    done
    svn import -q -m init "$dir/imp" "$url"
    rm -rf "$dir/imp"
}

bench_checkout() {
    local url=$1 wc=$2 n=$3
    mkdir -p "$wc"
    # Many URLs and one target folder: each becomes a working copy of its own.
    bench_names "$n" | sed "s|^|$url/|" | xargs -n 500 sh -c 'svn checkout -q "$@" "'"$wc"'"' sh
}

bench_registry() {
    local file=$1 wc=$2 n=$3 i=0 p
    {
        printf '<?xml version="1.0" encoding="windows-1252"?>\r\n<SubVersion Beschreibung="bench">\r\n'
        for p in $(bench_names "$n"); do
            if (( i % 50 == 0 )); then
                (( i > 0 )) && printf '</ProjektGruppe>\r\n'
                printf '<ProjektGruppe Name="g%d">\r\n' $((i / 50))
            fi
            printf '<Projekt Name="%s" Verzeichnis="%s/%s"/>\r\n' "$p" "$wc" "$p"
            i=$((i + 1))
        done
        printf '</ProjektGruppe>\r\n</SubVersion>\r\n'
    } > "$file"
}
