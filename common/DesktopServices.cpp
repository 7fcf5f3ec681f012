#include "DesktopServices.h"

void RecordingDesktop::record(const QString& line)
{
    events.append(line);
    if (onEvent)
        onEvent(line);
}

void RecordingDesktop::messageBox(Icon icon, const QString& title, const QString& text)
{
    const char* mark = icon == Icon::Exclamation ? "!" : icon == Icon::Information ? "i" : "-";
    record(QStringLiteral("box %1|%2|%3").arg(QLatin1String(mark), title, text));
}

void RecordingDesktop::beep()
{
    record(QStringLiteral("beep"));
}

void RecordingDesktop::setPointer(Pointer pointer)
{
    m_pointer = pointer;
    record(pointer == Pointer::Hourglass ? QStringLiteral("pointer hourglass") : QStringLiteral("pointer default"));
}

void RecordingDesktop::doEvents()
{
    record(QStringLiteral("doevents"));
}

QStringList RecordingDesktop::boxes() const
{
    QStringList result;
    for (const QString& e : events)
        if (e.startsWith(QLatin1String("box ")))
            result.append(e);
    return result;
}
