#!/usr/bin/env bash
# Builds divadedadi, zuldb and zulhelp and prepares a clean demo program folder,
# ./demo: a copy of the program, its help file ZUL.hlp, a program file, two data
# files and the INI folder. With a display it opens the main window there.
# Without one it runs under Xvfb: pictures of the main window and of its help
# window are taken, then the unattended command-line start relinks the program
# file by itself. Running the script again rebuilds the demo set.
#
#   ./demo.sh                 build, prepare, open the window (or take the pictures)
#   ./demo.sh --screenshot    also save the pictures as docs/main-window.png and docs/help-window.png
#   ./demo.sh --prepare-only  build and prepare the folder, nothing else
#
# DEMO_DIR (default ./demo) and DEMO_PICTURES (default build/) move the demo
# folder and the pictures; DEMO_BUILD names a build folder whose programs are
# used as they are (no installing, no building).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)

MODE=${1:-}
case "$MODE" in
"" | --screenshot | --prepare-only) ;;
*) echo "Usage: $0 [--screenshot | --prepare-only]" >&2; exit 2 ;;
esac

BUILD=${DEMO_BUILD:-}
if [ -z "$BUILD" ]; then
    BUILD="$ROOT/build"
    ./scripts/install-deps.sh
    cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD" -j"${JOBS:-2}" --target divadedadi zuldb zulhelp zulhelpdemo
fi
ZULDB="$BUILD/tools/zuldb/zuldb"
ZULHELP="$BUILD/tools/zulhelp/zulhelp"

APP=${DEMO_DIR:-"$ROOT/demo"}          # the program directory: the copied executable's folder
EXE="$APP/divadedadi"
PROGRAM="$APP/ZUL.accdr"
DATA="$APP/ZUL_data.accdb"
DATA2="$APP/demo-data2/ZUL_data.accdb"
OLD="$APP/demo-old/ZUL_data.accdb"
ARCHIVE="$APP/demo-old/archiv.accdb"

# A fresh demo set on every run: only what a program folder holds. A folder
# that holds something else than an earlier demo is not touched.
if [ -d "$APP" ] && [ -n "$(ls -A "$APP")" ] && [ ! -f "$APP/ZUL.accdr" ]; then
    echo "demo.sh: $APP holds other files; choose another DEMO_DIR" >&2
    exit 1
fi
rm -rf "$APP"
mkdir -p "$APP/demo-data2" "$APP/demo-old" "$APP/INI"
cp "$BUILD/app/divadedadi" "$EXE"
"$BUILD/tools/zulhelpdemo/zulhelpdemo" "$APP/ZUL.hlp"

z() { "$ZULDB" "$@" >/dev/null; }

# The old location the program file was linked to, and an archive of its own.
z create "$OLD"
z exec "$OLD" "create table Zakaznici (ID integer primary key, Jmeno text(50))"
z exec "$OLD" "create table Faktury (ID integer primary key, Castka currency)"
z create "$ARCHIVE"
z exec "$ARCHIVE" "create table Archiv (ID integer primary key, Poznamka text(100))"

# The data file: twenty tables with rows; Predpisy is hidden, Archiv is itself a link.
fill_data_file() {
    local file=$1 city=$2
    z create "$file"
    z exec "$file" "create table Zakaznici (ID integer primary key, Jmeno text(50), Obec text(40))"
    z exec "$file" "insert into Zakaznici values (1, 'Jiří Dvořák', '$city')"
    z exec "$file" "insert into Zakaznici values (2, 'Šárka Nováková', 'Plzeň')"
    z exec "$file" "insert into Zakaznici values (3, 'Čeněk Řezníček', 'Ústí nad Labem')"
    z exec "$file" "create table Faktury (ID integer primary key, Zakaznik integer, Castka currency, Datum datetime)"
    z exec "$file" "insert into Faktury values (1, 1, 1250.5, '2024-03-01')"
    z exec "$file" "insert into Faktury values (2, 2, 899, '2024-03-05')"
    z exec "$file" "create table Obce (Nazev text(40), PSC text(6))"
    z exec "$file" "insert into Obce values ('$city', '11000')"
    z exec "$file" "insert into Obce values ('Žďár nad Sázavou', '59101')"
    local t
    for t in Zbozi Sklady Dodavatele Objednavky Polozky Platby Upominky Smlouvy Zamestnanci \
             Strediska Ucty Banky Meny Kurzy Sazby DPH; do
        z exec "$file" "create table $t (ID integer primary key, Nazev text(50))"
        z exec "$file" "insert into $t values (1, 'Ukázka – $t')"
    done
    z exec "$file" "create table Predpisy (ID integer primary key, Text text(100))"
    z hide "$file" Predpisy
    z link "$file" Archiv "$ARCHIVE"
}
fill_data_file "$DATA" "Praha"
fill_data_file "$DATA2" "Brno"

# The program file: links to the old location, a local table and a link the
# data file has no namesake for (both stay as they are).
z create "$PROGRAM"
z link "$PROGRAM" Zakaznici "$OLD"
z link "$PROGRAM" Faktury "$OLD"
z exec "$PROGRAM" "create table Nastaveni (Klic text(30), Hodnota text(100))"
z exec "$PROGRAM" "insert into Nastaveni values ('Verze', '1.0')"
z link "$PROGRAM" Archiv "$ARCHIVE"

echo "Demo folder: $APP"
echo "  program       $EXE (help: $APP/ZUL.hlp)"
echo "  program file  $PROGRAM (links to $OLD)"
echo "  data files    $DATA, $DATA2"
[ "$MODE" = "--prepare-only" ] && exit 0

check_hint() {
    cat <<HINT

How to check the result:
  $ZULDB tables "$PROGRAM"          # every data table linked, ";DATABASE=" + the chosen data file
  $ZULDB query "$PROGRAM" "select * from Zakaznici"
  $ZULDB query "$APP/ZUL_db.accdb" "select Cesta from Databaze"
  cat "$APP/INI/ZUL.ini"
  $ZULHELP "$APP/ZUL.hlp" 805       # the help topic F1 shows
Unattended start as a calling program does it:
  "$EXE" ZULprog="$PROGRAM" ZULdata="$DATA2" zobrazZpravu=TRUE
HINT
}

# Takes the pictures of the main window and, after F1, of its help window on
# a private Xvfb screen (no window manager, so no frames). A missing tool or
# a picture not taken ends the script with an error.
take_pictures() {
    local folder=$1 tool
    for tool in xvfb-run import xwininfo xdotool; do
        command -v "$tool" >/dev/null || { echo "demo.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
    done
    mkdir -p "$folder"
    local attempt
    # Up to three attempts, each on an X server of its own: on a busy build
    # machine a fresh server now and then refuses its first client.
    for attempt in 1 2 3; do
        rm -f "$folder/main-window.png" "$folder/help-window.png"
        xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24 -dpi 96" bash -c '
        set -u
        window_id() {   # waits up to 10 s for a shown window of that exact title
            local i id
            for i in $(seq 50); do
                id=$(xwininfo -root -children 2>/dev/null | awk -v t="\"$1\":" "index(\$0, t) {print \$1; exit}")
                [ -n "$id" ] && xwininfo -id "$id" | grep -q "IsViewable" && { echo "$id"; return 0; }
                sleep 0.2
            done
            return 1
        }
        "$1" & pid=$!
        trap "kill $pid 2>/dev/null" EXIT
        main=$(window_id "Vindo-ZUL - propojení programu s databázemi") || exit 1
        sleep 1
        import -window "$main" "$2/main-window.png"
        xdotool windowfocus --sync "$main" key F1
        help=$(window_id "Vindo-ZUL") || exit 1
        sleep 1
        import -window "$help" "$2/help-window.png"' _ "$EXE" "$folder" && break
    done
    local picture
    for picture in main-window help-window; do
        [ -s "$folder/$picture.png" ] || { echo "demo.sh: the picture $folder/$picture.png was not taken" >&2; exit 1; }
        echo "Picture of the $picture: $folder/$picture.png"
    done
}

PICTURES=${DEMO_PICTURES:-"$ROOT/build"}
[ "$MODE" = "--screenshot" ] && PICTURES="$ROOT/docs"

if [ -n "${DISPLAY:-}" ]; then
    [ "$MODE" = "--screenshot" ] && take_pictures "$PICTURES"
    check_hint
    echo
    echo "Opening the main window (interactive start: both default paths are filled in)..."
    exec "$EXE"
fi

# No display: show what the windows look like, then let the unattended start do the work.
take_pictures "$PICTURES"
echo "Unattended relink to $DATA2 under Xvfb..."
timeout 120 xvfb-run -a -n $((100 + RANDOM % 800)) "$EXE" ZULprog="$PROGRAM" ZULdata="$DATA2"
echo "Done. Program file now:"
"$ZULDB" tables "$PROGRAM"
check_hint
