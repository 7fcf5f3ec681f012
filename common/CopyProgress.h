#pragma once

// How far a long copy of tables has come (zuldb import, zuldb upsize): told to
// a callback now and then while rows go, and after each table.

#include <QtGlobal>

#include <functional>

struct CopyProgress {
    int tablesDone = 0;
    int tableCount = 0;
    qint64 rowsDone = 0;
    qint64 rowCount = 0; // as the source counts them before the copy: an estimate for some formats
};

using CopyProgressCallback = std::function<void(const CopyProgress&)>;
