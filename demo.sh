#!/usr/bin/env bash
# Builds divadedadi and zuldb, prepares a demo program folder beside the binary
# (build/app: program file, data file, a second data file, the INI folder) and
# opens the main window there. Without a display the window runs under Xvfb: a
# picture of it is taken, then the unattended command-line start relinks the
# program file by itself. Running the script again rebuilds the demo set.
#
#   ./demo.sh                 build, prepare, open the window
#   ./demo.sh --screenshot    also save the window's picture as docs/main-window.png
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)

SCREENSHOT_TO=""
[ "${1:-}" = "--screenshot" ] && SCREENSHOT_TO="$ROOT/docs/main-window.png"

./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${JOBS:-2}" --target divadedadi zuldb

APP="$ROOT/build/app"                  # the program directory: the executable's folder
EXE="$APP/divadedadi"
ZULDB="$ROOT/build/tools/zuldb/zuldb"
PROGRAM="$APP/ZUL.accdr"
DATA="$APP/ZUL_data.accdb"
DATA2="$APP/demo-data2/ZUL_data.accdb"
OLD="$APP/demo-old/ZUL_data.accdb"
ARCHIVE="$APP/demo-old/archiv.accdb"

# A fresh demo set on every run.
rm -rf "$APP/demo-data2" "$APP/demo-old" "$APP/INI"
rm -f "$PROGRAM" "$DATA" "$APP/ZUL_db.accdb"
mkdir -p "$APP/demo-data2" "$APP/demo-old" "$APP/INI"

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
echo "  program file  $PROGRAM (links to $OLD)"
echo "  data files    $DATA, $DATA2"

check_hint() {
    cat <<EOF

How to check the result:
  $ZULDB tables "$PROGRAM"          # every data table linked, ";DATABASE=" + the chosen data file
  $ZULDB query "$PROGRAM" "select * from Zakaznici"
  $ZULDB query "$APP/ZUL_db.accdb" "select Cesta from Databaze"
  cat "$APP/INI/ZUL.ini"
Unattended start as a calling program does it:
  "$EXE" ZULprog="$PROGRAM" ZULdata="$DATA2" zobrazZpravu=TRUE
EOF
}

# Takes a picture of the window: started in the background, caught by its
# position (centred on the 1024 x 768 screen at 180, 293; no window manager, no frame).
take_screenshot() {
    local target=$1
    xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c '
        "$1" & pid=$!
        sleep 3
        import -window root -crop 663x180+180+293 +repage "$2"
        kill $pid' _ "$EXE" "$target"
    echo "Picture of the main window: $target"
}

if [ -n "${DISPLAY:-}" ]; then
    [ -n "$SCREENSHOT_TO" ] && take_screenshot "$SCREENSHOT_TO"
    check_hint
    echo
    echo "Opening the main window (interactive start: both default paths are filled in)..."
    exec "$EXE"
fi

# No display: show what the window looks like, then let the unattended start do the work.
take_screenshot "${SCREENSHOT_TO:-$ROOT/build/main-window.png}"
echo "Unattended relink to $DATA2 under Xvfb..."
timeout 120 xvfb-run -a "$EXE" ZULprog="$PROGRAM" ZULdata="$DATA2"
echo "Done. Program file now:"
"$ZULDB" tables "$PROGRAM"
check_hint
