#pragma once

// Figures of the links: a full read through a link against the same read of
// the data file (in the engine, and in Python with the extension), loading the
// extension on a program file with many links, and a durable one-row change
// through a link against the same change made on the data file.

#include <QString>

struct LinkFigures {
    int rows = 0;
    double engineDirectMs = 0;
    double engineLinkMs = 0;
    double pythonDirectMs = 0; // negative: Python could not be run
    double pythonLinkMs = 0;
    int loadLinks = 0;
    int loadFiles = 0;
    double loadMs = 0; // the median load of the extension on a new connection
    int changes = 0;
    double changeDirectMs = 0; // per change
    double changeLinkMs = 0;
};

// Makes its files under work; extension is the loadable extension's path.
LinkFigures measureLinks(const QString& work, const QString& extension);
