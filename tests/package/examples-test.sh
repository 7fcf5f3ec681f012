#!/usr/bin/env bash
# Runs each example of docs/examples as its reader would, on a fresh program
# file linked to a data file made by zuldb, and checks what it prints and what
# it left in the data file (read with the stock sqlite3 shell, no extension).
# Usage: examples-test.sh EXTENSION ZULDB QT_EXAMPLE EXAMPLES_FOLDER
set -euo pipefail
extension=${1%.so}
zuldb=$2
qt_example=$3
examples=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

expected=$'Cyril, Hana, Chrudoš, Ivan, Řehoř\nCyril, Hanka, Chrudoš, Ivan, Řehoř'

# $1: a folder of its own for one example's files.
make_files() {
    local folder=$1 id=0
    mkdir -p "$folder"
    "$zuldb" create "$folder/ZUL_data.accdb"
    "$zuldb" exec "$folder/ZUL_data.accdb" "CREATE TABLE Osoby (Id LONG NOT NULL PRIMARY KEY, Jmeno TEXT(20) NOT NULL)"
    for name in Řehoř Ivan Chrudoš Hana Cyril; do
        id=$((id + 1))
        "$zuldb" exec "$folder/ZUL_data.accdb" "INSERT INTO Osoby VALUES ($id, '$name')"
    done
    "$zuldb" create "$folder/ZUL.accdr"
    "$zuldb" link "$folder/ZUL.accdr" Osoby "$folder/ZUL_data.accdb"
}

# $1: the example's name; the rest: its command, to which the extension and the program file are added.
run_example() {
    local name=$1 folder=$work/$1 output
    shift
    make_files "$folder"
    if ! output=$("$@" "$extension" "$folder/ZUL.accdr" 2>&1); then
        fail "$name ended with an error: $output"
        return
    fi
    [ "$output" = "$expected" ] || fail "$name printed: $output"
    [ "$(sqlite3 "$folder/ZUL_data.accdb" "SELECT Jmeno FROM Osoby WHERE Id=4")" = Hanka ] ||
        fail "$name: the change did not reach the data file"
    [ "$(sqlite3 "$folder/ZUL.accdr" "SELECT count(*) FROM sqlite_master WHERE name='Osoby'")" = 0 ] ||
        fail "$name: the program file got a table of its own"
}

run_example python /usr/bin/python3 "$examples/python/osoby.py"
run_example shell sh "$examples/shell/osoby.sh"
run_example qt env QT_QPA_PLATFORM=offscreen "$qt_example"
[ $failed = 0 ] && echo "examples ok"
exit $failed
