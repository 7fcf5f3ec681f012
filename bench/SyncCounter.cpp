#include "SyncCounter.h"

#include <QFileInfo>

#include <dlfcn.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

std::map<std::string, int>& counts()
{
    static std::map<std::string, int> byPath;
    return byPath;
}

void count(int fd)
{
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t size = ::readlink(link.c_str(), path, sizeof path - 1);
    if (size > 0)
        ++counts()[std::string(path, size_t(size))];
}

template <typename Call> Call next(const char* name)
{
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    count(fd);
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    static const auto real = next<int (*)(int)>("fdatasync");
    count(fd);
    return real(fd);
}

namespace SyncCounter {

void reset()
{
    counts().clear();
}

int flushesOf(const QString& absolutePath)
{
    const std::string file = absolutePath.toStdString();
    const std::string folder = QFileInfo(absolutePath).absolutePath().toStdString();
    int total = 0;
    for (const auto& [path, flushes] : counts())
        if (path == file || path == file + "-journal" || path == folder)
            total += flushes;
    return total;
}

} // namespace SyncCounter
