#include "TestSupport.h"

#include "RunTimeError.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <unistd.h>

ProcessResult runOnATerminal(const QString& program, const QStringList& arguments, const ProcessOptions& options)
{
    // script runs one shell command: every argument single-quoted, a quote in it closed, escaped and reopened.
    QStringList command;
    for (const QString& argument : QStringList{program} + arguments)
        command << QLatin1Char('\'') + QString(argument).replace(QLatin1String("'"), QLatin1String("'\\''")) +
                       QLatin1Char('\'');
    ProcessResult result = runProcess(QStringLiteral("script"),
                                      {QStringLiteral("-qec"), command.join(QLatin1Char(' ')), QStringLiteral("/dev/null")},
                                      options);
    result.out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return result;
}

std::unique_ptr<QProcess> startProcess(const QString& program, const QStringList& arguments,
                                       const ProcessOptions& options)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& change : options.environment) {
        const qsizetype equals = change.indexOf(QLatin1Char('='));
        if (equals < 0)
            environment.remove(change);
        else
            environment.insert(change.left(equals), change.mid(equals + 1));
    }
    process->setProcessEnvironment(environment);
    if (!options.folder.isEmpty())
        process->setWorkingDirectory(options.folder);
    if (options.asNobody)
        process->start(QStringLiteral("setpriv"),
                       QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                   QStringLiteral("--clear-groups"), program} +
                           arguments);
    else
        process->start(program, arguments);
    if (process->waitForStarted(10000))
        process->write(options.input);
    return process;
}

ProcessResult finishProcess(QProcess& process, std::chrono::milliseconds timeout)
{
    ProcessResult result;
    if (process.state() == QProcess::NotRunning && process.error() == QProcess::FailedToStart)
        return result;
    process.closeWriteChannel();
    result.finished = process.waitForFinished(int(timeout.count()));
    if (!result.finished) {
        process.kill();
        process.waitForFinished(10000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

ProcessResult runProcess(const QString& program, const QStringList& arguments, const ProcessOptions& options)
{
    return finishProcess(*startProcess(program, arguments, options), options.timeout);
}

bool waitForOutput(QProcess& process, const QByteArray& marker, std::chrono::milliseconds timeout)
{
    QByteArray seen = process.readAllStandardOutput();
    while (!seen.contains(marker)) {
        if (!process.waitForReadyRead(int(timeout.count())))
            return false;
        seen += process.readAllStandardOutput();
    }
    return true;
}

bool canRunAsNobody()
{
    return ::geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<missing>");
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool mountTmpfs(const QString& folder, int kilobytes)
{
    return ::geteuid() == 0 && runProcess(QStringLiteral("mount"),
                                          {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                           QStringLiteral("size=%1k").arg(kilobytes), QStringLiteral("tmpfs"), folder})
                                       .exitCode == 0;
}

bool fillUp(const QString& folder)
{
    QFile filler(folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    return true;
}

void unmount(const QString& folder)
{
    runProcess(QStringLiteral("umount"), {QStringLiteral("-l"), folder});
}

QString errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const RunTimeError& e) {
        return QString::number(e.number()) + QLatin1Char('|') + e.description();
    }
    return QStringLiteral("no error");
}

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{';
    for (const QString& text : list)
        *out << " \"" << text.toStdString() << '"';
    *out << " }";
}

void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << '"' << bytes.toStdString() << '"';
}
