#!/usr/bin/env bash
# The Debian package as a user meets it: unpacked into a scratch root with
# dpkg -x, the real binary started through a symbolic link in an application
# folder (a name with a blank and Czech letters) relinks the program file
# there and keeps its list and settings there; started through PATH as well.
# Runs as nobody when started as root. Exit 77 (skipped) when no current
# package lies in the build folder, unless DIVADEDADI_REQUIRE_PACKAGE=1.
set -euo pipefail
build=${1:?usage: package-test.sh BUILD_FOLDER}
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() {
    [ "${DIVADEDADI_REQUIRE_PACKAGE:-0}" = 1 ] && fail "$1"
    echo "skipped: $1"
    exit 77
}
deb=$(ls -t "$build"/divadedadi_*.deb 2>/dev/null | head -1 || true)
[ -n "$deb" ] || skip "no package built (cpack -G DEB in $build)"
[ "$deb" -nt "$build/app/divadedadi" ] || skip "$deb is older than the build"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
root=$work/root
dpkg -x "$deb" "$root"
lib=$root/usr/lib/divadedadi
zuldb=$root/usr/bin/zuldb
[ -f "$lib/divadedadi" ] && [ ! -L "$lib/divadedadi" ] || fail "no real binary in /usr/lib/divadedadi"
[ ! -e "$root/usr/bin/divadedadi" ] || fail "/usr/bin/divadedadi would make /usr/bin the program folder"
for f in usr/share/man/man1/divadedadi.1.gz usr/share/man/man1/zuldb.1.gz usr/share/man/man1/zulhelp.1.gz \
    usr/share/man/man7/zulsqlite.7.gz usr/share/doc/divadedadi/changelog.gz; do
    gzip -t "$root/$f" || fail "/$f is not gzip"
done

app="$work/Účetní zul"
data=$work/data
mkdir -p "$app/INI" "$data"
ln -s "$lib/divadedadi" "$app/divadedadi"
"$zuldb" create "$app/ZUL.accdr"
for file in ZUL_data second; do
    "$zuldb" create "$data/$file.accdb"
    "$zuldb" exec "$data/$file.accdb" "CREATE TABLE Osoby (Jmeno TEXT(50))"
    "$zuldb" exec "$data/$file.accdb" "CREATE TABLE Obce (Nazev TEXT(50))"
done
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R nobody:nogroup "$app"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
# Without a display the command-line start relinks without windows.
start() { (cd "$1" && shift && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work" "${as_user[@]}" "$@"); }
setting() { iconv -f CP1250 -t UTF-8 "$app/INI/ZUL.ini" | tr -d '\r' | grep "^$1=" || true; }
linked_to() {
    [ "$("$zuldb" tables "$app/ZUL.accdr" | grep -c ";DATABASE=$1	")" = 2 ] || fail "links do not lead to $1"
    "$zuldb" check "$app/ZUL.accdr" >/dev/null || fail "zuldb check of the program file"
}

# The application's side: after the relink the program file's links are read and changed from
# Python with the package's extension, and a new connection sees the next relink.
osoby() {
    /usr/bin/python3 - "$lib/sqlite/zulsqlite" "$app/ZUL.accdr" "$@" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[2])
db.enable_load_extension(True)
db.load_extension(sys.argv[1])
db.enable_load_extension(False)
with db:
    for name in sys.argv[3:]:
        db.execute("INSERT INTO Osoby (Jmeno) VALUES (?)", (name,))
print(",".join(name for (name,) in db.execute("SELECT Jmeno FROM Osoby ORDER BY Jmeno")))
PY
}

start "$work" "$app/divadedadi" "ZULprog=$app/ZUL.accdr" "ZULdata=$data/ZUL_data.accdb" zobrazZpravu=TRUE
[ "$(setting DIVadedadiExe)" = "DIVadedadiExe=OK" ] || fail "outcome after the linked start: $(setting DIVadedadiExe)"
[ "$(setting ZULdata)" = "ZULdata=$data/ZUL_data.accdb" ] || fail "data path: $(setting ZULdata)"
[ -f "$app/ZUL_db.accdb" ] || fail "no list file in the link's folder"
linked_to "$data/ZUL_data.accdb"
[ "$(osoby Řehoř Chrudoš Cyril)" = "Cyril,Chrudoš,Řehoř" ] || fail "the links read and changed from Python"
[ "$(sqlite3 "$data/ZUL_data.accdb" "SELECT count(*) FROM Osoby")" = 3 ] || fail "Python's rows not in the data file"

start "$data" env PATH="$app:$PATH" divadedadi "ZULprog=$app/ZUL.accdr" "ZULdata=$data/second.accdb" zobrazZpravu=TRUE
[ "$(setting ZULdata)" = "ZULdata=$data/second.accdb" ] || fail "data path after the start through PATH"
linked_to "$data/second.accdb"
[ "$(osoby Hana)" = "Hana" ] || fail "a new connection after the relink does not read the new data file"

[ "$(ls "$lib")" = "$(printf 'divadedadi\nsqlite')" ] || fail "files written beside the real binary: $(ls "$lib")"
[ "$(sqlite3 -cmd ".load $lib/sqlite/zulsqlite" "$app/ZUL_db.accdb" "PRAGMA integrity_check")" = ok ] ||
    fail "the list file with the package's collation extension"
echo "package ok: $(basename "$deb")"
