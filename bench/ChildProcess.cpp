#include "ChildProcess.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

// The high-water mark of the resident memory of pid's current image, in kB; 0 once it has ended.
long highWaterKilobytes(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", int(pid));
    std::FILE* status = std::fopen(path, "r");
    if (!status)
        return 0;
    char line[256];
    long kilobytes = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kilobytes) == 1)
            break;
    std::fclose(status);
    return kilobytes;
}

} // namespace

ChildResult runChild(const QString& program, const QStringList& arguments, const QStringList& environment,
                     double limitSeconds, const QString& logPath)
{
    ChildResult result;

    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<QByteArray> argStore{program.toLocal8Bit()};
    for (const QString& argument : arguments)
        argStore.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : argStore)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStore;
    for (char** entry = environ; *entry; ++entry)
        envStore.emplace_back(*entry);
    for (const QString& entry : environment)
        envStore.push_back(entry.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& entry : envStore)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const QByteArray logName = logPath.toLocal8Bit();
    const QByteArray image = QFileInfo(program).canonicalFilePath().toLocal8Bit();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        const int log = open(logName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    result.started = true;

    int status = 0;
    rusage usage{};
    const auto deadline = start + std::chrono::duration<double>(limitSeconds);
    for (bool executed = false;;) {
        // Until the child has run its program, its image is the benchmark's copy.
        const long highWater = highWaterKilobytes(pid);
        char exe[PATH_MAX] = {};
        executed = executed || (readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1) > 0 &&
                                image == QByteArray(exe));
        if (executed)
            result.peakKilobytes = std::max(result.peakKilobytes, highWater);
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            result.timedOut = true;
            break;
        }
        // Polling at 2 ms keeps the timing fair without holding a core.
        const timespec pause{0, 2'000'000};
        nanosleep(&pause, nullptr);
    }
    result.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (result.peakKilobytes == 0) // ended before it was seen running
        result.peakKilobytes = usage.ru_maxrss;
    const auto toMs = [](const timeval& t) { return double(t.tv_sec) * 1000 + double(t.tv_usec) / 1000; };
    result.cpuMilliseconds = toMs(usage.ru_utime) + toMs(usage.ru_stime);
    return result;
}
