#!/bin/bash
# Makes the pictures of the user guide (docs/bilder/*.png) with the program itself: a small
# fixture (one repository, a few working copies, some with changes, a registry in a private
# XDG_DATA_HOME), drawn by the screenshot tool app_shot under the offscreen platform.
#   docs/make_screenshots.sh BUILD_DIR
# Needs svn and svnadmin; builds the target app_shot when it is not built yet.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
out=$(cd "$(dirname "$0")" && pwd)/bilder
mkdir -p "$out"

cmake --build "$build" --target app_shot >/dev/null
shot=$(find "$build" -name app_shot -type f -perm -u+x | head -n 1)
[ -n "$shot" ] || { echo "app_shot not found under $build" >&2; exit 1; }

# A fixed, readable place, since its paths show in the pictures; only ever our own folder.
base=${TMPDIR:-/tmp}/kiv-beispiel
if [ -e "$base" ]; then
    [ -f "$base/.kiv-beispiel" ] || { echo "$base exists and is not ours" >&2; exit 1; }
    rm -rf "$base"
fi
mkdir -p "$base" && touch "$base/.kiv-beispiel"
trap 'rm -rf "$base"' EXIT
home=$base/anna
work=$home/Projekte
mkdir -p "$home/Dokumente" "$work" "$base/run" && chmod 700 "$base/run"

# One repository with four projects, each with a little history.
svnadmin create "$base/repo"
url=file://$base/repo
seed=$base/seed
for p in werkzeug webseite handbuch auftrag-mueller; do
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

run_shot() {
    env HOME="$home" XDG_DATA_HOME="$base/data" XDG_CONFIG_HOME="$base/config" \
        XDG_DOCUMENTS_DIR="$home/Dokumente" XDG_RUNTIME_DIR="$base/run" \
        QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 LC_ALL=C.UTF-8 "$shot" "$@" 2>/dev/null
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
# The new-entry dialog as the search opens it, with the button that ends the search.
run_shot "$out/suche_beenden.png" --search-dialog
# The new-entry dialog.
run_shot "$out/neuer_eintrag.png" --dialog
ls -l "$out"/*.png
