#!/bin/bash
# Makes the pictures of the user guide (docs/bilder/*.png) with the program itself, as a user
# sees it on a German desktop: a small fixture (one repository, a few working copies, some with
# changes, a registry in a private XDG_DATA_HOME), shown on a virtual screen (Xvfb) under a real
# window manager (openbox) with a German locale, and taken from the screen by app_shot.
#   docs/make_screenshots.sh BUILD_DIR [PICTURE...]
# With PICTUREs (file names such as aenderungen.png) only those are made anew.
# Needs svn, svnadmin, Xvfb, openbox, xdpyinfo and the de_DE.UTF-8 locale (Debian: subversion
# xvfb openbox x11-utils locales); builds the target app_shot when it is not built yet. Nothing
# of the user's own display, registry or settings is touched.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [PICTURE...]" >&2; exit 2; }
build=$(cd "$1" && pwd)
shift
wanted=("$@")
out=$(cd "$(dirname "$0")" && pwd)/bilder
mkdir -p "$out"

for tool in svn svnadmin Xvfb openbox xdpyinfo; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 1; }
done
locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8' ||
    { echo "$0: the locale de_DE.UTF-8 is not generated" >&2; exit 1; }

cmake --build "$build" --target app_shot >/dev/null
shot=$build/docs/app_shot
[ -x "$shot" ] || shot=$(find "$build" -name app_shot -type f -perm -u+x | head -n 1)
[ -n "$shot" ] || { echo "$0: app_shot not found under $build" >&2; exit 1; }

# A fixed, readable place, since its paths show in the pictures; only ever our own folder, and
# one run at a time.
base=${TMPDIR:-/tmp}/kiv-beispiel
exec 9>"$base.lock"
flock -n 9 || { echo "$0: another run is making the pictures" >&2; exit 1; }
if [ -e "$base" ]; then
    [ -f "$base/.kiv-beispiel" ] || { echo "$0: $base exists and is not ours" >&2; exit 1; }
    rm -rf "$base"
fi
mkdir -p "$base" && touch "$base/.kiv-beispiel"

xvfb_pid= wm_pid=
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null || true
    rm -rf "$base"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

home=$base/anna
work=$home/Projekte
mkdir -p "$home/Dokumente" "$work" "$base/run" && chmod 700 "$base/run"

# One repository with four projects, each with a little history.
svnadmin create "$base/repo"
url=file://$base/repo
seed=$base/seed
for p in werkzeug webseite handbuch auftrag-mueller auftrag-schulze; do
    mkdir -p "$seed/$p/src"
    printf '%s\n' "$p" > "$seed/$p/LIESMICH.txt"
    printf 'int main() { return 0; }\n' > "$seed/$p/src/main.c"
    svn import -q -m "Anfang von $p" "$seed/$p" "$url/$p"
done
svn checkout -q "$url/werkzeug" "$work/werkzeug"
svn checkout -q "$url/webseite" "$work/webseite"
svn checkout -q "$url/handbuch" "$work/handbuch"
mkdir -p "$work/Kunden"
svn checkout -q "$url/auftrag-mueller" "$work/Kunden/auftrag-mueller"
# Local changes: an edited file, a new file put under version control, an unversioned file.
echo 'int helfer(void);' >> "$work/werkzeug/src/main.c"
echo 'Neu' > "$work/werkzeug/NEU.txt" && svn add -q "$work/werkzeug/NEU.txt"
echo 'Entwurf' > "$work/webseite/entwurf.html"
# "Handbuch" falls behind: another checkout commits to it.
svn checkout -q "$url/handbuch" "$base/anderswo"
echo 'Kapitel 2' >> "$base/anderswo/LIESMICH.txt"
svn commit -q -m "Kapitel 2" "$base/anderswo"

# The registry as the program writes it: Windows-1252, CR LF.
data=$base/data/KelvaroSoft/Subversion
mkdir -p "$data"
{
    printf '<?xml version="1.0" encoding="windows-1252"?>\r\n'
    printf '<SubVersion Beschreibung="Alle Subversionsprojekte verwalten">\r\n'
    printf '<ProjektGruppe Name="Eigene">\r\n'
    printf '<Projekt Name="Werkzeug" Verzeichnis="%s"/>\r\n' "$work/werkzeug"
    printf '<Projekt Name="Webseite" Verzeichnis="%s"/>\r\n' "$work/webseite"
    printf '<Projekt Name="Handbuch" Verzeichnis="%s"/>\r\n' "$work/handbuch"
    printf '</ProjektGruppe>\r\n'
    printf '<ProjektGruppe Name="Kunden">\r\n'
    printf '<Projekt Name="Auftrag M\xfcller" Verzeichnis="%s"/>\r\n' "$work/Kunden/auftrag-mueller"
    printf '</ProjektGruppe>\r\n'
    printf '</SubVersion>\r\n'
} > "$data/SubVersionVerzeichnisse.xml"

# A display of our own: the first number that nobody uses.
display=
for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=:$n
        break
    fi
done
[ -n "$display" ] || { echo "$0: no free display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "$0: Xvfb did not start on $display" >&2; exit 1; }
    sleep 0.1
done
DISPLAY=$display xdpyinfo >/dev/null 2>&1 || { echo "$0: Xvfb does not answer" >&2; exit 1; }
# A desktop's colour behind the windows, should a menu reach beyond one.
command -v xsetroot >/dev/null && DISPLAY=$display xsetroot -solid '#4a6d8c' || true
# Its settings are the system's (a user's own openbox settings are not read).
env HOME="$home" XDG_CONFIG_HOME="$base/config" DISPLAY="$display" openbox >/dev/null 2>&1 &
wm_pid=$!
# The window manager is up when it has announced itself on the root window.
for _ in $(seq 100); do
    DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done

run_shot() {
    local file=$1
    shift
    if [ ${#wanted[@]} -gt 0 ] && ! printf '%s\n' "${wanted[@]}" | grep -qxF "$(basename "$file")"; then
        return 0
    fi
    rm -f "$file"
    # A new runtime folder each time: the single-instance lock of the last one is gone.
    rm -rf "$base/run" && mkdir -m 700 "$base/run"
    env -i PATH="$PATH" HOME="$home" DISPLAY="$display" XDG_DATA_HOME="$base/data" \
        XDG_CONFIG_HOME="$base/config" XDG_DOCUMENTS_DIR="$home/Dokumente" \
        XDG_RUNTIME_DIR="$base/run" QT_QPA_PLATFORM=xcb LANG=de_DE.UTF-8 LANGUAGE=de \
        timeout 120 "$shot" "$file" "$@" 2>"$base/shot.log" || {
        echo "$0: $(basename "$file") failed:" >&2
        cat "$base/shot.log" >&2
        exit 1
    }
    [ -s "$file" ] || { echo "$0: $(basename "$file") is empty" >&2; exit 1; }
}
# The main window after a test for changes over the whole registry.
run_shot "$out/hauptfenster.png" --run status --select Projekte
# A project selected, its folder on the page "Verzeichnis".
run_shot "$out/verzeichnis.png" Werkzeug 1
# The page "Aufgaben" while a run goes on (busy indicator over the output).
run_shot "$out/laufend.png" Projekte 0 busy
# After a test for changes with the server asked too: the tree's states, the summary, a tip.
run_shot "$out/nach_dem_test.png" --run status --server --select Webseite --tip Webseite
# The same on a dark desktop: the colours keep their contrast.
run_shot "$out/dunkel.png" --run status --server --dark
# The filter box narrowing the tree.
run_shot "$out/filter.png" --run status --filter web
# The context menu of a group.
run_shot "$out/kontextmenue.png" --select Kunden --menu
# The new-entry dialog as the search opens it: the folder's name proposed, the finds waiting,
# the button that ends the search.
run_shot "$out/suche_beenden.png" --search-dialog
# The new-entry dialog.
run_shot "$out/neuer_eintrag.png" --dialog
# The changes window of a project: the changed files, the difference of one, a message typed;
# the same on a dark desktop; its log page.
run_shot "$out/aenderungen.png" --changes Werkzeug --file src/main.c \
    --message "Hilfsfunktion für die Auswertung deklariert"
run_shot "$out/aenderungen_dunkel.png" --changes Werkzeug --file src/main.c --dark
run_shot "$out/aenderungen_log.png" --changes Handbuch --log
# A copy whose folder is gone, brought back from the URL the registry keeps.
schulze=$(printf '<Projekt Name="Auftrag Schulze" Verzeichnis="%s" URL="%s"/>\r' \
    "$work/Kunden/auftrag-schulze" "$url/auftrag-schulze")
awk -v line="$schulze" '{ print } /Name="Auftrag M/ { print line }' \
    "$data/SubVersionVerzeichnisse.xml" > "$data/neu.xml"
mv "$data/neu.xml" "$data/SubVersionVerzeichnisse.xml"
run_shot "$out/auschecken.png" --run checkout --select "Auftrag Schulze"
ls -l "$out"/*.png
