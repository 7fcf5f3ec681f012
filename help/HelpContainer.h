#pragma once

// Internal to the help reader: the file's own file system (a directory of
// internal files kept as a B+ tree) and the walk over the format's B+ trees.
#include "HelpData.h"

#include <QByteArray>

#include <functional>
#include <map>

class HelpContainer {
public:
    // Reads the header and the directory; throws Damaged (also when the file is cut short).
    void open(const QByteArray& data);
    bool has(const QByteArray& name) const { return m_directory.count(name) != 0; }
    // The internal file's bytes; empty when there is none.
    QByteArray file(const QByteArray& name) const;

private:
    QByteArray m_data;
    std::map<QByteArray, qsizetype> m_directory; // internal file name -> offset of its header
};

// Walks the leaf pages of one of the format's B+ trees in key order and hands
// each entry's reader to readEntry, which consumes exactly one entry.
void walkHelpBtree(const QByteArray& tree, const std::function<void(HelpData::Reader&)>& readEntry);
