#include "ProgressLine.h"

#include <QLocale>

#include <unistd.h>

ProgressLine::ProgressLine(bool wanted, std::FILE* out) : m_out(out), m_on(wanted && ::isatty(::fileno(out)))
{
    m_clock.start();
}

QString ProgressLine::text(const CopyProgress& progress, qint64 elapsedMs)
{
    const QLocale czech(QLocale::Czech, QLocale::CzechRepublic);
    const double seconds = std::max<double>(0.001, double(elapsedMs) / 1000.0);
    const double rate = double(progress.rowsDone) / seconds;
    QString line = QStringLiteral("%1/%2 tabulek, %3/%4 řádků, %5 řádků/s")
                       .arg(progress.tablesDone)
                       .arg(progress.tableCount)
                       .arg(czech.toString(progress.rowsDone), czech.toString(progress.rowCount),
                            czech.toString(qint64(rate)));
    // The time left once there is a rate to go by; none past the estimated total.
    if (rate > 0 && progress.rowsDone < progress.rowCount) {
        const qint64 left = qint64(double(progress.rowCount - progress.rowsDone) / rate + 0.5);
        line += QStringLiteral(", zbývá %1:%2").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
    }
    return line;
}

void ProgressLine::show(const CopyProgress& progress)
{
    const qint64 now = m_clock.elapsed();
    if (!m_on || (progress.tablesDone == m_tablesShown && now - m_lastShownMs < 200))
        return;
    m_lastShownMs = now;
    m_tablesShown = progress.tablesDone;
    // Carriage return, the line, and the rest of the old one erased.
    std::fprintf(m_out, "\r%s\033[K", text(progress, now).toUtf8().constData());
    std::fflush(m_out);
    m_shown = true;
}

void ProgressLine::clear()
{
    if (!m_shown)
        return;
    std::fputs("\r\033[K", m_out);
    std::fflush(m_out);
    m_shown = false;
    m_tablesShown = -1;
}
