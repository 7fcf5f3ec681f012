#!/bin/sh
# Reads and changes the data of a ZUL program file through its links with the
# sqlite3 shell:
#     sh osoby.sh /usr/lib/divadedadi/sqlite/zulsqlite ZUL.accdr
# The shell's .load enables loading through the C interface for that one call.
set -eu
extension=$1
program_file=$2
sqlite3 -bail -cmd ".load '$extension'" "$program_file" <<'SQL'
SELECT group_concat(Jmeno, ', ') FROM (SELECT Jmeno FROM Osoby ORDER BY Jmeno);
UPDATE Osoby SET Jmeno = 'Hanka' WHERE Jmeno = 'hana';
SELECT group_concat(Jmeno, ', ') FROM (SELECT Jmeno FROM Osoby ORDER BY Jmeno);
SQL
