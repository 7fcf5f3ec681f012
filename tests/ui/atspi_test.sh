#!/usr/bin/env bash
# The main window as a screen reader reads it: the real divadedadi under Xvfb
# with its own session bus and accessibility bus, its controls' names read
# through AT-SPI with gdbus. Skipped (77) where those pieces are missing.
set -euo pipefail
EXE=$1
LAUNCHER=/usr/libexec/at-spi-bus-launcher
for tool in xvfb-run dbus-run-session gdbus openbox; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool not installed, AT-SPI cannot run here"; exit 77; }
done
[ -x "$LAUNCHER" ] || { echo "skipped: at-spi2-core not installed, AT-SPI cannot run here"; exit 77; }

if [ "${1:-}" != --inside ]; then
    WORK=$(mktemp -d)
    trap 'rm -rf "$WORK"' EXIT
    mkdir "$WORK/INI"
    cp "$EXE" "$WORK/divadedadi"
    : >"$WORK/ZUL.accdr"
    exec env -u DISPLAY -u WAYLAND_DISPLAY HOME="$WORK" dbus-run-session -- \
        xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash "$0" --inside "$WORK"
fi
WORK=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

openbox >/dev/null 2>&1 &
"$LAUNCHER" --launch-immediately >/dev/null 2>&1 &
for _ in $(seq 50); do
    A11Y=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
        --method org.a11y.Bus.GetAddress 2>/dev/null | sed -n "s/^('\(.*\)',)$/\1/p") && [ -n "$A11Y" ] && break
    sleep 0.1
done
[ -n "${A11Y:-}" ] || { echo "skipped: the accessibility bus did not start"; exit 77; }

(cd "$WORK" && QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb ./divadedadi >/dev/null 2>&1) &
APP=$!
trap 'kill $APP 2>/dev/null || true' EXIT

atspi() { # destination path interface method args...
    local dest=$1 path=$2 iface=$3 method=$4
    shift 4
    gdbus call --address "$A11Y" --dest "$dest" --object-path "$path" --method "$iface.$method" "$@"
}
name() { atspi "$1" "$2" org.freedesktop.DBus.Properties Get org.a11y.atspi.Accessible Name | sed -n "s/^(<'\(.*\)'>,)$/\1/p"; }
# gdbus writes the type only before the first path of an array.
children() { atspi "$1" "$2" org.a11y.atspi.Accessible GetChildren | grep -oE "\('[^']*', (objectpath )?'[^']*'\)" |
    sed -E "s/\('([^']*)', (objectpath )?'([^']*)'\)/\1 \3/"; }

# The application registers itself with the registry once its window is up.
app=""
for _ in $(seq 100); do
    app=$(children org.a11y.atspi.Registry /org/a11y/atspi/accessible/root 2>/dev/null | head -1) && [ -n "$app" ] && break
    sleep 0.1
done
[ -n "$app" ] || fail "the program did not register with AT-SPI"

# Breadth first over the tree, three levels below the window: every name seen.
names=()
level=("$app")
for _ in 1 2 3 4; do
    next=()
    for node in "${level[@]}"; do
        names+=("$(name $node)")
        while read -r child; do [ -n "$child" ] && next+=("$child"); done < <(children $node)
    done
    level=("${next[@]}")
done
printf 'read through AT-SPI: %s\n' "${names[@]}"
for wanted in "Vindo-ZUL - propojení programu s databázemi" "Cesta k programu ZUL.ACCDR" \
    "Cesta k databázi ZUL_data.ACCDB" "Procházet – databáze ZUL_data.ACCDB" "Nápověda"; do
    printf '%s\n' "${names[@]}" | grep -qxF "$wanted" || fail "no control named '$wanted' through AT-SPI"
done
# A box named after the path it holds would be read as that path.
if printf '%s\n' "${names[@]}" | grep -q '^/'; then fail "a control is named after a path"; fi
echo "ok"
