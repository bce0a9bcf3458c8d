#!/bin/bash
# The Debian package and the install rules, checked from the outside: what cpack builds and
# what cmake --install lays down, unpacked and looked at like a user's system would.
#   deb_package.sh build CPACK_CONFIG WORK      make the .deb into WORK and unpack it
#   deb_package.sh contents WORK VERSION        files, icons, control fields, AppStream tree
#   deb_package.sh version WORK VERSION         the unpacked kivsvn --version
#   deb_package.sh start WORK                   the unpacked kivSubversion comes up
#   deb_package.sh install BUILD VERSION        cmake --install into another prefix
# Exit 77 means skipped (a tool is missing, or no package was built).
set -u
mode=$1
ID=de.kelvarosoft.kivSubversion
SIZES="16 22 24 32 48 64 128 256"
CPACK=${CPACK:-cpack} CMAKE=${CMAKE:-cmake}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
finish() { [ $failures -eq 0 ] && echo "ok" || echo "$failures check(s) failed"; exit $((failures > 0)); }
skip() { echo "SKIP: $*"; exit 77; }

# The files a prefix must hold after installing, relative to it.
expected_files() {
    echo bin/kivSubversion
    echo bin/kivsvn
    echo share/applications/$ID.desktop
    for s in $SIZES; do echo share/icons/hicolor/${s}x$s/apps/$ID.png; done
    echo share/icons/hicolor/scalable/apps/$ID.svg
    echo share/metainfo/$ID.metainfo.xml
    echo share/man/man1/kivSubversion.1
    echo share/man/man1/kivsvn.1
}

# Width and height from a PNG's header chunk, as "WxH".
png_size() {
    local b
    b=($(od -An -tu1 -j16 -N8 "$1"))
    [ ${#b[@]} -eq 8 ] || return 1
    echo "$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))x$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))"
}

# Checks one installed prefix: every expected file, nothing else, and what the files say.
check_prefix() {
    local prefix=$1 version=$2 f actual
    for f in $(expected_files); do
        [ -f "$prefix/$f" ] || fail "missing $f"
    done
    for f in bin/kivSubversion bin/kivsvn; do
        [ -x "$prefix/$f" ] || fail "$f is not executable"
    done
    # Nothing the list does not know of: a new installed file is a decision, not an accident.
    actual=$(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
    extra=$(comm -13 <(expected_files | sort) <(echo "$actual"))
    [ -z "$extra" ] || fail "unexpected files: $(echo $extra)"
    for s in $SIZES; do
        f=$prefix/share/icons/hicolor/${s}x$s/apps/$ID.png
        [ -f "$f" ] && [ "$(png_size "$f")" != "${s}x$s" ] &&
            fail "$f is $(png_size "$f"), not ${s}x$s"
    done
    local desktop=$prefix/share/applications/$ID.desktop
    if [ -f "$desktop" ]; then
        local exec icon
        exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
        icon=$(sed -n 's/^Icon=//p' "$desktop")
        [ -x "$prefix/bin/$exec" ] || fail "Exec=$exec is not an installed program"
        [ "$icon" = "$ID" ] || fail "Icon=$icon, expected $ID (the installed icon's name)"
        grep -q '^Categories=.*Development;' "$desktop" || fail "desktop entry not in Development"
    fi
    local meta=$prefix/share/metainfo/$ID.metainfo.xml
    [ -f "$meta" ] && ! grep -q "<release version=\"$version\"" "$meta" &&
        fail "metainfo names no release $version"
    for f in kivSubversion kivsvn; do
        f=$prefix/share/man/man1/$f.1
        [ -f "$f" ] && ! grep -q "^\.TH .*$version" "$f" && fail "$f does not name version $version"
    done
}

unpacked() {
    local work=$1
    ls "$work"/kivsubversion_*.deb >/dev/null 2>&1 && [ -d "$work/root/usr" ] ||
        skip "no package was built (see the test packaging.deb_build)"
}

case $mode in
build)
    config=$2 work=$3
    command -v "$CPACK" >/dev/null || skip "cpack is not installed (Debian package cmake)"
    command -v dpkg-shlibdeps >/dev/null ||
        skip "dpkg-shlibdeps is not installed (Debian package dpkg-dev)"
    command -v file >/dev/null || skip "file is not installed (Debian package file), cpack needs it"
    rm -rf "$work" && mkdir -p "$work"
    if ! "$CPACK" --config "$config" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
        cat "$work/cpack.log"; fail "cpack failed"; finish
    fi
    debs=("$work"/kivsubversion_*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { ls "$work"; fail "not exactly one kivsubversion_*.deb"; finish; }
    echo "built ${debs[0]##*/}"
    dpkg-deb -x "${debs[0]}" "$work/root" || fail "dpkg-deb -x failed"
    finish
    ;;
contents)
    work=$2 version=$3
    unpacked "$work"
    deb=$(ls "$work"/kivsubversion_*.deb)
    case ${deb##*/} in kivsubversion_${version}_*.deb) ;; *) fail "package file ${deb##*/} does not carry version $version" ;; esac
    check_prefix "$work/root/usr" "$version"
    [ "$(dpkg-deb -f "$deb" Package)" = kivsubversion ] || fail "Package is not kivsubversion"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is not $version"
    [ "$(dpkg-deb -f "$deb" Section)" = vcs ] || fail "Section is not vcs"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    items=$(echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ *$//')
    echo "$items" | grep -qx 'subversion' || fail "Depends lacks subversion"
    # Computed by dpkg-shlibdeps from the binaries: the Qt libraries with the versions their
    # symbols need. A hand-written list would not carry these constraints.
    for lib in libqt6core6 libqt6widgets6 libc6; do
        echo "$items" | grep -qE "^$lib \(>= [0-9][^)]*\)$" || fail "Depends lacks a computed $lib (>= ...)"
    done
    if command -v appstreamcli >/dev/null; then
        # The installed tree as a whole: metainfo, its desktop entry and its icon together.
        appstreamcli validate-tree --no-net --explain "$work/root" || fail "appstreamcli validate-tree"
    else
        echo "note: appstreamcli missing, installed tree not validated (Debian package appstream)"
    fi
    finish
    ;;
version)
    # Needs kivsvn --version. Until kivsvn knows the option, this check is skipped: kivsvn's
    # usage is asked first whether it names --version.
    work=$2 version=$3
    unpacked "$work"
    kivsvn=$work/root/usr/bin/kivsvn
    "$kivsvn" --help 2>&1 | grep -q -- '--version' ||
        skip "this kivsvn has no --version yet (its --help does not name it)"
    out=$("$kivsvn" --version 2>&1); rc=$?
    echo "$out"
    [ $rc -eq 0 ] || fail "kivsvn --version exited with $rc"
    echo "$out" | grep -qF "$version" || fail "kivsvn --version does not say $version"
    finish
    ;;
start)
    work=$2
    unpacked "$work"
    home=$(mktemp -d) || exit 1
    trap 'rm -rf "$home"' EXIT
    mkdir -m 700 "$home/run"
    env HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
        XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen \
        "$work/root/usr/bin/kivSubversion" >"$home/out.log" 2>&1 &
    pid=$!
    # The window has loaded the registry once its folder exists (made at the first load);
    # then it must stay up a second more.
    for _ in $(seq 100); do
        [ -d "$home/data/KelvaroSoft/Subversion" ] || ! kill -0 $pid 2>/dev/null && break
        sleep 0.1
    done
    [ -d "$home/data/KelvaroSoft/Subversion" ] || fail "no registry folder made: the window never loaded the registry"
    sleep 1
    if kill -0 $pid 2>/dev/null; then
        kill -TERM $pid
        wait $pid
        # A signal closes the window the ordinary way, which writes the registry.
        [ -f "$home/data/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml" ] ||
            fail "no registry written after SIGTERM"
    else
        wait $pid; rc=$?
        cat "$home/out.log"
        fail "kivSubversion ended on its own right after starting (exit $rc)"
    fi
    finish
    ;;
install)
    build=$2 version=$3
    prefix=$(mktemp -d) || exit 1
    trap 'rm -rf "$prefix"' EXIT
    # Another prefix than the package's /usr: no rule may name a fixed folder.
    "$CMAKE" --install "$build" --prefix "$prefix/opt" >"$prefix.log" 2>&1 || { cat "$prefix.log"; fail "cmake --install failed"; }
    rm -f "$prefix.log"
    check_prefix "$prefix/opt" "$version"
    finish
    ;;
*)
    echo "unknown mode: $mode"; exit 2 ;;
esac
