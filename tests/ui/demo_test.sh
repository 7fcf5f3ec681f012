#!/usr/bin/env bash
# demo.sh without a display, on the programs of this build, in a temporary
# folder: it leaves the pictures it announces, a demo folder that holds no
# build files, a help file whose topic 805 zulhelp prints, and a relinked
# program file.
set -euo pipefail
SOURCE=$1 BUILD=$2
command -v xvfb-run >/dev/null || { echo "skipped: xvfb-run not installed"; exit 77; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

env -u DISPLAY -u WAYLAND_DISPLAY DEMO_BUILD="$BUILD" DEMO_DIR="$WORK/demo" DEMO_PICTURES="$WORK/pictures" \
    "$SOURCE/demo.sh" >"$WORK/out.txt" 2>&1 || { cat "$WORK/out.txt"; fail "demo.sh failed"; }

announced=$(sed -n 's/^Picture of the [a-z-]*: //p' "$WORK/out.txt")
[ "$(echo "$announced" | wc -l)" -eq 2 ] || fail "two pictures announced: $announced"
for picture in $announced; do
    [ "$(head -c 4 "$picture" | tail -c 3)" = PNG ] || fail "no picture at $picture"
done

build_files=$(cd "$WORK/demo" && find . -name 'CMake*' -o -name '*.cmake' -o -name Makefile -o -name '*_autogen' -o -name '*.o')
[ -z "$build_files" ] || fail "build files in the demo folder: $build_files"
[ -x "$WORK/demo/divadedadi" ] && [ -d "$WORK/demo/INI" ] || fail "the demo folder lacks the program or INI"

topic=$("$BUILD/tools/zulhelp/zulhelp" "$WORK/demo/ZUL.hlp" 805)
for text in "Propojení programu s databázemi" "Tlačítko Propojit" "Výběr složky"; do
    grep -qF "$text" <<<"$topic" || fail "topic 805 lacks '$text': $topic"
done

"$BUILD/tools/zuldb/zuldb" tables "$WORK/demo/ZUL.accdr" | grep -q "^Zakaznici.*demo-data2/ZUL_data.accdb" ||
    fail "the unattended start did not relink the program file"
echo "demo: pictures, clean folder, help topic 805 and relink checked"
