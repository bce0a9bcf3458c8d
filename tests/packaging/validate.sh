#!/bin/sh
# Validates a desktop entry, an AppStream metainfo file or a manual page with the tool the
# desktops and Debian use for it; exits 77 (skipped) where that tool is not installed.
#   validate.sh desktop FILE | metainfo FILE | manual FILE
set -u
kind=$1 file=$2
skip() { echo "SKIP: $1 is not installed (Debian package $2)"; exit 77; }

case $kind in
desktop)
    command -v desktop-file-validate >/dev/null || skip desktop-file-validate desktop-file-utils
    # Errors give a non-zero exit; warnings count as failures too, hints do not.
    out=$(desktop-file-validate "$file" 2>&1); rc=$?
    printf '%s\n' "$out"
    [ $rc -eq 0 ] && ! printf '%s\n' "$out" | grep -q 'warning:'
    ;;
metainfo)
    command -v appstreamcli >/dev/null || skip appstreamcli appstream
    # Fails on errors and warnings; infos and pedantic notes pass.
    appstreamcli validate --no-net --explain "$file"
    ;;
manual)
    command -v groff >/dev/null || skip groff groff-base
    # -ww: every warning; a clean page prints nothing.
    out=$(groff -K utf8 -man -ww -z "$file" 2>&1); rc=$?
    printf '%s\n' "$out"
    [ $rc -eq 0 ] && [ -z "$out" ]
    ;;
*)
    echo "unknown kind: $kind"; exit 2 ;;
esac
