#pragma once

// What tests of every area share: starting a program and capturing what it
// printed, the exact error a call raises, and readable Qt values in GoogleTest
// failure messages. Needs no test framework's main; Qt Test cases use it too.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>

// How to start a program. Environment changes apply to this process's own
// environment: "NAME=value" sets a variable, a bare "NAME" removes it.
// Every member has an initializer, so that designated initializers may leave any out.
struct ProcessOptions {
    QString folder = {}; // working folder; empty keeps the test's
    QStringList environment = {};
    QByteArray input = {}; // written to standard input (closed when the run is waited for)
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
    bool asNobody = false; // through setpriv, as nobody:nogroup without other groups
};

// What a run left. A run that could not start or outlived its timeout (it is
// killed then) has finished false; exitCode is -1 unless it ended normally.
struct ProcessResult {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

// Starts, waits up to the timeout, collects.
ProcessResult runProcess(const QString& program, const QStringList& arguments = {}, const ProcessOptions& options = {});
// The same with a terminal of its own as standard output and error (script's pseudo-terminal): all of
// its output in out, with the terminal's line ends turned back into "\n".
ProcessResult runOnATerminal(const QString& program, const QStringList& arguments = {},
                             const ProcessOptions& options = {});
// Starts without waiting, for tests that talk to the child or kill it; the
// input is written, standard input left open. Not running when the start failed.
std::unique_ptr<QProcess> startProcess(const QString& program, const QStringList& arguments = {},
                                       const ProcessOptions& options = {});
// Closes the standard input of a started process, waits up to timeout (killing it after) and collects.
ProcessResult finishProcess(QProcess& process, std::chrono::milliseconds timeout = std::chrono::seconds(60));
// Reads the child's standard output until it contains marker; false when it ends or waits too long first.
bool waitForOutput(QProcess& process, const QByteArray& marker, std::chrono::milliseconds timeout);
// True where a program can be started as nobody: running as root with setpriv.
bool canRunAsNobody();

// The bytes of a file, "<missing>" when it cannot be read.
QByteArray fileBytes(const QString& path);
// Writes the bytes as the whole file; false when that fails.
bool writeBytes(const QString& path, const QByteArray& bytes);

// A tmpfs of the size in kilobytes mounted on folder (needs root); false where that is not possible.
bool mountTmpfs(const QString& folder, int kilobytes);
// Fills the file system of folder with a file "filler" in it; false when that file cannot be made.
bool fillUp(const QString& folder);
// Unmounts folder lazily: files still open keep it alive until closed.
void unmount(const QString& folder);

// The variable changes of a run on the offscreen platform, and of a caller without any window system.
inline const QStringList kOffscreen = {QStringLiteral("QT_QPA_PLATFORM=offscreen")};
inline const QStringList kNoDisplay = {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("DISPLAY"),
                                       QStringLiteral("WAYLAND_DISPLAY")};

// "number|description" of the run-time error the call raises, or "no error".
QString errorOf(const std::function<void()>& call);
// The same form of an expected error.
inline QString errorText(int number, const QString& text)
{
    return QString::number(number) + QLatin1Char('|') + text;
}

// Readable values in failure messages.
void PrintTo(const QString& text, std::ostream* out);
void PrintTo(const QStringList& list, std::ostream* out);
void PrintTo(const QByteArray& bytes, std::ostream* out);
