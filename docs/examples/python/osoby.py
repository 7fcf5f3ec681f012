#!/usr/bin/python3
"""Reads and changes the data of a ZUL program file through its links.

    python3 osoby.py /usr/lib/divadedadi/sqlite/zulsqlite ZUL.accdr

Prints the people of the linked table Osoby in the Czech order, renames one
and prints them again. The data file the link points at is changed, not the
program file.
"""
import sqlite3
import sys

extension, program_file = sys.argv[1], sys.argv[2]

db = sqlite3.connect(program_file)
# Python's switch enables sqlite3_load_extension() of the C interface for this
# connection (SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION); it is switched off again
# as soon as the extension is in.
db.enable_load_extension(True)
db.load_extension(extension)
db.enable_load_extension(False)

print(", ".join(name for (name,) in db.execute("SELECT Jmeno FROM Osoby ORDER BY Jmeno")))
with db:  # one transaction, committed to the data file at its end
    db.execute("UPDATE Osoby SET Jmeno = ? WHERE Jmeno = ?", ("Hanka", "hana"))
print(", ".join(name for (name,) in db.execute("SELECT Jmeno FROM Osoby ORDER BY Jmeno")))
db.close()
