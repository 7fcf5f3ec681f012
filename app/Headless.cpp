#include "Headless.h"

#include "Errors.h"
#include "Globals.h"
#include "IgnoringFailures.h"
#include "ListFile.h"
#include "Paths.h"
#include "RelinkRun.h"
#include "RunTimeError.h"
#include "Settings.h"
#include "Startup.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool environmentSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

void printLine(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// A TCP display ("host:n") on a host that does not answer would hold the
// connection attempt for minutes; a few seconds decide here.
bool tcpDisplayAnswers(const QByteArray& host, int displayNumber)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray port = QByteArray::number(6000 + displayNumber);
    if (::getaddrinfo(host.constData(), port.constData(), &hints, &found) != 0)
        return false;
    bool answered = false;
    for (addrinfo* address = found; address && !answered; address = address->ai_next) {
        const int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0) {
            answered = true;
        } else if (errno == EINPROGRESS) {
            pollfd wait{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            answered = ::poll(&wait, 1, 3000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
                       error == 0;
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return answered;
}

// A Wayland display counts when its socket accepts a connection.
bool waylandDisplayAccepts(const char* display)
{
    QByteArray path(display);
    if (!path.startsWith('/')) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime)
            return false;
        path = QByteArray(runtime) + '/' + path;
    }
    sockaddr_un address{};
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool accepted = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return accepted;
}

// Asks the X server itself through libxcb, loaded only for this question: the
// library is there wherever Qt's xcb platform could work at all.
bool xDisplayAccepts(const char* display)
{
    const QByteArray name(display);
    const qsizetype colon = name.lastIndexOf(':');
    if (colon < 0)
        return false;
    const QByteArray host = name.left(colon);
    bool numberOk = false;
    const int number = name.mid(colon + 1).split('.').value(0).toInt(&numberOk);
    if (!numberOk)
        return false;
    if (!host.isEmpty() && host != "unix" && !host.startsWith('/') && !tcpDisplayAnswers(host, number))
        return false;

    void* library = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return false;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(::dlsym(library, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(::dlsym(library, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(library, "xcb_disconnect"));
    bool accepted = false;
    if (connect && hasError && disconnect) {
        int screen = 0;
        void* connection = connect(display, &screen);
        accepted = connection && hasError(connection) == 0;
        if (connection)
            disconnect(connection);
    }
    ::dlclose(library);
    return accepted;
}

// No window can be shown: the caller learns it from the settings key too,
// when it asked for an outcome, so an earlier "OK" is not read as this run's.
int endWithoutWindow()
{
    if (gShowMessage)
        WriteOutcome(QStringLiteral("ERROR"));
    printLine(kNeedsDisplayText);
    return OutcomeUnrecorded() ? kOutcomeUnrecordedExitCode : 1;
}

} // namespace

QString HeadlessDesktop::boxLine(const QString& title, const QString& text)
{
    static const QRegularExpression lineBreaks(QStringLiteral("[\r\n]+"));
    return title + QStringLiteral(": ") + QString(text).replace(lineBreaks, QStringLiteral(" "));
}

void HeadlessDesktop::messageBox(Icon, const QString& title, const QString& text)
{
    printLine(boxLine(title, text));
}

bool needsHeadless(int argc, char* argv[])
{
    if (environmentSet("QT_QPA_PLATFORM"))
        return false;
    if (environmentSet("WAYLAND_DISPLAY") && waylandDisplayAccepts(std::getenv("WAYLAND_DISPLAY")))
        return false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return false;
    }
    if (!environmentSet("DISPLAY"))
        return true;
    return !xDisplayAccepts(std::getenv("DISPLAY"));
}

int runHeadless(int argc, char* argv[], const QString& argumentText)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("DIVadedadi"));
    HeadlessDesktop desktop;

    // Interactive starts need the window before anything else happens.
    if (!isCommandLineStart(argumentText)) {
        printLine(kNeedsDisplayText);
        return 1;
    }

    try {
        const StartPlan plan = PrepareStart(argumentText, [&] { CreateListFile(desktop); });
        if (plan.listFolderNotWritable)
            ShowError(desktop, Errors::listFolderNotWritable(ProgramDir()));
        HeadlessWindow window;
        window.setProgramPathText(gProgramPath);
        window.setText(gDataPath);
        if (plan.listFileReady)
            FillDataFileList(desktop, window, gDataPath);

        if (ChooseStartCourse(plan) != StartCourse::UnattendedRelink)
            return endWithoutWindow();

        desktop.doEvents();
        RunRelink(window, desktop);
        // The outcome for a calling program is the settings key, as in a windowed run.
        return OutcomeUnrecorded() ? kOutcomeUnrecordedExitCode : 0;
    } catch (const RunTimeError& error) {
        ignoringFailures([&] { ShowError(desktop, error); });
        return endWithoutWindow();
    }
}
