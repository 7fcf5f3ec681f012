#pragma once

#include <QString>
#include <QStringList>

// One run of another program, timed from start to exit, with its peak memory.
struct ChildResult {
    bool started = false;
    bool timedOut = false; // killed after the time limit
    int exitStatus = -1;   // exit code, or -1 after a signal
    double milliseconds = 0;
    double cpuMilliseconds = 0; // user + system time of the child
    // The program's own peak resident memory (VmHWM of its image, read while it runs). Not ru_maxrss,
    // which counts the benchmark's own memory that the child held between fork and exec.
    long peakKilobytes = 0;
};

// Runs program with arguments and extra environment entries ("NAME=value"),
// its output going to logPath; waits at most limitSeconds and kills it after that.
ChildResult runChild(const QString& program, const QStringList& arguments, const QStringList& environment,
                     double limitSeconds, const QString& logPath);
