#!/usr/bin/python3
"""The loadable extension in Debian's Python: a program file made by zuldb,
opened with sqlite3, its links read and changed, the data files checked with
the stock sqlite3 shell (which knows nothing of the extension).

Usage: extension_test.py EXTENSION ZULDB
"""
import os
import sqlite3
import subprocess
import sys
import tempfile

EXTENSION, ZULDB = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def zuldb(*args):
    result = subprocess.run([ZULDB, *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"zuldb {args}: {result.stderr}")
    return result.stdout


def shell(path, sql):
    """The stock sqlite3 shell, without the extension."""
    return subprocess.run(["sqlite3", path, sql], capture_output=True, text=True, check=True).stdout.split("\n")[:-1]


def connect(path):
    connection = sqlite3.connect(path, isolation_level=None)
    connection.enable_load_extension(True)
    connection.load_extension(EXTENSION)
    connection.enable_load_extension(False)
    return connection


def error_of(connection, sql, params=()):
    try:
        connection.execute(sql, params).fetchall()
    except sqlite3.Error as error:
        return str(error)
    return "no error"


def quoted(name):
    return '"' + name.replace('"', '""') + '"'


def data_file(folder, name, table="Osoby", rows=()):
    path = os.path.join(folder, name)
    zuldb("create", path)
    zuldb("exec", path, f"create table {quoted(table)} (Id long not null primary key, Jmeno text(10) not null)")
    for key, value in rows:
        zuldb("exec", path, f"insert into {quoted(table)} (Id, Jmeno) values ({key}, '{value}')")
    return path


def program_file(folder, links):
    path = os.path.join(folder, "ZUL.accdr")
    zuldb("create", path)
    for name, data, source in links:
        zuldb("link", path, name, data, source)
    return path


def test_reads_writes_and_czech_order(folder):
    names = ["Řehoř", "Ivan", "Chrudoš", "Hana", "Cyril"]
    data = data_file(folder, "data.accdb", rows=list(enumerate(names, 1)))
    prog = program_file(folder, [("Osoby", data, "Osoby")])
    db = connect(prog)
    order = [row[0] for row in db.execute("SELECT Jmeno FROM Osoby ORDER BY Jmeno")]
    check(order == ["Cyril", "Hana", "Chrudoš", "Ivan", "Řehoř"], f"Czech order through the link: {order}")
    check(db.execute("SELECT Id FROM Osoby WHERE Jmeno='hana'").fetchall() == [(4,)], "case-insensitive =")
    db.execute("INSERT INTO Osoby (Id, Jmeno) VALUES (6, 'Žofie')")
    db.execute("UPDATE Osoby SET Jmeno='Ivana' WHERE Id=4")
    db.execute("DELETE FROM Osoby WHERE Id=1")
    db.execute("BEGIN")
    db.execute("INSERT INTO Osoby (Id, Jmeno) VALUES (7, 'Věra')")
    db.execute("ROLLBACK")
    db.close()
    landed = shell(data, "SELECT Id || ':' || Jmeno FROM Osoby ORDER BY Id")
    check(landed == ["2:Ivan", "3:Chrudoš", "4:Ivana", "5:Cyril", "6:Žofie"], f"writes in the data file: {landed}")
    db = connect(prog)
    duplicate = error_of(db, "INSERT INTO Osoby (Id, Jmeno) VALUES (2, 'Jiná')")
    check("UNIQUE" in duplicate and data in duplicate, f"key violation names the data file: {duplicate}")
    # Ten 16-bit units: nine letters and an emoji (two units) are too long.
    too_long = error_of(db, "INSERT INTO Osoby (Id, Jmeno) VALUES (8, ?)", ("Kateřinka\U0001F600",))
    check("size:10:Jmeno" in too_long, f"too long a text is refused: {too_long}")
    required = error_of(db, "INSERT INTO Osoby (Id) VALUES (9)")
    check("NOT NULL" in required, f"a required field: {required}")
    check(shell(data, "SELECT count(*) FROM Osoby") == ["5"], "refused changes left the data file as it was")
    # Inside a transaction a statement that fails half-way and a savepoint rolled back take their rows back.
    db.execute("BEGIN")
    db.execute("INSERT INTO Osoby (Id, Jmeno) VALUES (10, 'Petr')")
    half_way = error_of(db, "INSERT INTO Osoby (Id, Jmeno) VALUES (11, 'Ota'), (2, 'Dvojník')")
    check("UNIQUE" in half_way, f"the second row of a statement is refused: {half_way}")
    db.execute("SAVEPOINT s")
    db.execute("INSERT INTO Osoby (Id, Jmeno) VALUES (12, 'Rut')")
    db.execute("ROLLBACK TO s")
    db.execute("RELEASE s")
    db.execute("COMMIT")
    kept = shell(data, "SELECT Id FROM Osoby WHERE Id >= 10")
    check(kept == ["10"], f"only the whole statements of the transaction are kept: {kept}")


def test_relink_seen_by_a_new_connection(folder):
    first = data_file(folder, "first.accdb", rows=[(1, "První")])
    second = data_file(folder, "second.accdb", rows=[(1, "Druhý")])
    prog = program_file(folder, [("Osoby", first, "Osoby")])
    before = connect(prog)
    check(before.execute("SELECT Jmeno FROM Osoby").fetchall() == [("První",)], "before the relink")
    zuldb("exec", prog, "drop table Osoby")
    zuldb("link", prog, "Osoby", second, "Osoby")
    after = connect(prog)
    check(after.execute("SELECT Jmeno FROM Osoby").fetchall() == [("Druhý",)], "a new connection sees the relink")


def test_bad_links_fail_alone(folder):
    good = data_file(folder, "good.accdb", rows=[(1, "Ano")])
    gone = data_file(folder, "gone.accdb")
    not_a_database = os.path.join(folder, "text.accdb")
    prog = program_file(folder, [("Dobra", good, "Osoby"), ("Chybi", gone, "Osoby"), ("Zdroj", good, "Osoby")])
    os.remove(gone)
    with open(not_a_database, "w") as file:
        file.write("not a database at all" * 100)
    # A link into a file that is no database, and one whose source table is missing, made around the engine.
    raw = sqlite3.connect(prog)
    raw.execute("UPDATE MSysObjects SET Connect=? WHERE Name='Zdroj'", (";DATABASE=" + not_a_database,))
    raw.execute(
        "INSERT INTO MSysObjects (NameKey, Name, Attributes, Connect, SourceTableName) VALUES ('bez', 'Bez', ?, ?, 'Nic')",
        (0x40000000, ";DATABASE=" + good))
    raw.execute(
        "INSERT INTO MSysObjects (NameKey, Name, Attributes, Connect, SourceTableName) VALUES ('sam', 'Sam', ?, ?, 'MSysInfo')",
        (0x40000000, ";DATABASE=" + prog))
    raw.commit()
    raw.close()
    db = connect(prog)
    itself = error_of(db, "SELECT * FROM Sam")
    check("samotný soubor programu" in itself and prog in itself, f"a link into the program file itself: {itself}")
    missing = error_of(db, "SELECT * FROM Chybi")
    check(gone in missing and "nebyl nalezen" in missing, f"a missing data file is named: {missing}")
    garbage = error_of(db, "SELECT * FROM Zdroj")
    check(not_a_database in garbage and "není databáze" in garbage, f"a file that is no database: {garbage}")
    no_table = error_of(db, "SELECT * FROM Bez")
    check("'Nic'" in no_table and good in no_table, f"a missing source table: {no_table}")
    check(db.execute("SELECT Jmeno FROM Dobra").fetchall() == [("Ano",)], "the good link works beside them")


def test_many_data_files(folder):
    links = []
    for i in range(12):
        links.append((f"T{i}", data_file(folder, f"d{i}.accdb", rows=[(i, f"R{i}")]), "Osoby"))
    prog = program_file(folder, links)
    db = connect(prog)
    union = " UNION ALL ".join(f"SELECT Jmeno FROM T{i}" for i in range(12))
    rows = [row[0] for row in db.execute(union)]
    check(rows == [f"R{i}" for i in range(12)], f"one statement over twelve data files: {rows}")
    db.execute("BEGIN")
    for i in range(12):
        db.execute(f"INSERT INTO T{i} (Id, Jmeno) VALUES (100, 'Nový')")
    db.execute("COMMIT")
    counts = [shell(path, "SELECT count(*) FROM Osoby")[0] for _, path, _ in links]
    check(counts == ["2"] * 12, f"a change of twelve data files in one transaction: {counts}")


def test_harmless_on_other_files(folder):
    path = os.path.join(folder, "plain.sqlite")
    plain = sqlite3.connect(path)
    plain.execute("CREATE TABLE t (a)")
    plain.close()
    db = connect(path)
    temp = db.execute("SELECT count(*) FROM temp.sqlite_master").fetchone()[0]
    check(temp == 0, f"nothing added to a plain file: {temp}")
    check(db.execute("SELECT length('a\U0001F600')").fetchone()[0] == 3, "length() counts 16-bit units")


def test_hostile_names(folder):
    # Link names, source table names and paths are data: each of these is a name, never SQL.
    hostile = ["]", '"', "'", ";", "x'); DROP TABLE MSysObjects; --", 'a"b', "Osoby] ; SELECT 1"]
    for i, name in enumerate(hostile):
        sub = os.path.join(folder, f"h{i}'\"; x")
        os.makedirs(sub)
        data = data_file(sub, "d'a\"t;a.accdb", table=name, rows=[(i, "H")])
        prog = program_file(sub, [(name, data, name)])
        db = connect(prog)
        check(db.execute(f"SELECT Id FROM {quoted(name)}").fetchall() == [(i,)], f"read through the link {name!r}")
        db.execute(f"INSERT INTO {quoted(name)} (Id, Jmeno) VALUES (?, 'X')", (i + 100,))
        check(shell(prog, "SELECT count(*) FROM MSysObjects") == ["1"], f"catalogue intact after {name!r}")
        check(len(shell(data, f"SELECT * FROM {quoted(name)}")) == 2, f"write through the link {name!r}")


for test in [test_reads_writes_and_czech_order, test_relink_seen_by_a_new_connection, test_bad_links_fail_alone,
             test_many_data_files, test_harmless_on_other_files, test_hostile_names]:
    with tempfile.TemporaryDirectory() as folder:
        try:
            test(folder)
        except Exception as error:  # a test that raises has failed, the others still run
            check(False, f"{test.__name__} raised {error!r}")
print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
