#pragma once

#include "DesktopServices.h"
#include "MainWindowView.h"

#include <QList>
#include <QString>

class Database;

// What one relink run did, table by table, beside what it showed.
struct RelinkReport {
    enum class Outcome { Skipped, Repointed, Created, Failed };
    struct Table {
        QString name;
        Outcome outcome = Outcome::Skipped;
    };
    // One entry per reported failure: the step number and the description shown.
    // When the program file cannot be opened (step 16) its cause is shown once
    // and each table the walk would link gets an entry of step 16 with that
    // description and no box of its own.
    struct Failure {
        int step = 0;
        QString table; // the table being worked on, empty outside the walk
        QString description;
        int tableIndex = -1; // its entry in tables; -1 outside the walk
    };
    // Every table definition of the data file once, in walk order, with its
    // final outcome: a failure of any of its steps (progress and moving on
    // included) makes it Failed.
    QList<Table> tables;
    QList<Failure> failures;
    bool failed = false;       // gLinkFailed at the end of the run
    bool endedProcess = false; // the run ended the process (gAutoBrowse)
};

// The relink run (the link button's handler btnPropoj_Click): links every
// user table of the data file named by the data-file box into the program
// file named by Text1, shows progress in the window, reports failures step by
// step and the outcome in a box and in the settings file.
RelinkReport RunRelink(MainWindowView& window, DesktopServices& desktop);

// True when the database's TableDefs hold a definition of that name whose Name
// can be read; false on any failure, also for a null or closed database.
bool TableExists(Database* db, const QString& name) noexcept;
