#include "RunTimeError.h"

RunTimeError::RunTimeError(int number, const QString& description)
    : std::runtime_error(QString::number(number).append(QStringLiteral("  ")).append(description).toStdString()),
      m_number(number), m_description(description)
{
}
