// The settings parser on arbitrary files: reading never crashes and keeps
// its limits; a write followed by a read gives the value back by the
// private-profile rules and leaves every other entry as it was.
//
// Input: the file's bytes, optionally followed by 0xFF 0xFE and a value in
// UTF-8 to write (first byte after the marker picks the key).

#include "FuzzSupport.h"
#include "IniFile.h"

#include <QDir>

#include <unicode/ucnv.h>

#include <array>
#include <memory>

namespace {

struct Probe {
    QString section;
    QString key;
};

const std::array<Probe, 4> kProbes{{
    {QStringLiteral("MAIN"), QStringLiteral("ZULdata")},
    {QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")},
    {QStringLiteral("DIVadedadi"), QStringLiteral("LastDB")},
    {QStringLiteral("Other"), QStringLiteral("x")},
}};

// The text as it comes back from code page 1250: characters it lacks become "?".
QString throughCodePage(const QString& text)
{
    if (text.isEmpty())
        return text;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, void (*)(UConverter*)> converter(ucnv_open("windows-1250", &status), ucnv_close);
    ucnv_setSubstChars(converter.get(), "?", 1, &status);
    QByteArray bytes(text.size() * 4 + 4, Qt::Uninitialized);
    const int32_t length =
        ucnv_fromUChars(converter.get(), bytes.data(), int32_t(bytes.size()),
                        reinterpret_cast<const UChar*>(text.constData()), int32_t(text.size()), &status);
    QString back(length + 1, Qt::Uninitialized);
    const int32_t backLength = ucnv_toUChars(converter.get(), reinterpret_cast<UChar*>(back.data()),
                                             int32_t(back.size()), bytes.constData(), length, &status);
    if (U_FAILURE(status))
        fuzz::fail("code page round trip", text);
    back.truncate(backLength);
    return back;
}

// What a read returns after the value was written.
QString expectedRead(QString value)
{
    for (QChar& c : value) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::Null)
            c = QLatin1Char('?');
    }
    value = throughCodePage(value);
    qsizetype begin = 0;
    qsizetype end = value.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(value.at(begin)))
        ++begin;
    while (end > begin && blank(value.at(end - 1)))
        --end;
    value = value.mid(begin, end - begin);
    if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value.left(IniFile::MaxValueLength);
}

void checkReadLimits(const QString& value, const Probe& probe)
{
    FUZZ_CHECK(value.size() <= IniFile::MaxValueLength, probe.section + QLatin1Char('/') + probe.key);
    FUZZ_CHECK(!value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')), value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    static const QByteArray marker("\xff\xfe", 2);
    const qsizetype split = input.indexOf(marker);
    const QByteArray fileBytes = split < 0 ? input : input.left(split);
    const QString path = fuzz::scratchPath(QStringLiteral("ZUL.ini"));
    fuzz::writeBytes(path, fileBytes);

    std::array<QString, kProbes.size()> before;
    for (size_t i = 0; i < kProbes.size(); ++i) {
        before[i] = IniFile::read(path, kProbes[i].section, kProbes[i].key);
        checkReadLimits(before[i], kProbes[i]);
    }
    if (split < 0)
        return 0;

    const QByteArray rest = input.mid(split + marker.size());
    const size_t chosen = rest.isEmpty() ? 0 : size_t(static_cast<unsigned char>(rest.at(0))) % kProbes.size();
    const QString value = QString::fromUtf8(rest.mid(1));
    const Probe& target = kProbes[chosen];

    FUZZ_CHECK(IniFile::write(path, target.section, target.key, value), value);
    const QString back = IniFile::read(path, target.section, target.key);
    FUZZ_CHECK(back == expectedRead(value), QStringLiteral("wrote [%1] read [%2]").arg(value, back));
    for (size_t i = 0; i < kProbes.size(); ++i) {
        if (i == chosen)
            continue;
        const QString after = IniFile::read(path, kProbes[i].section, kProbes[i].key);
        FUZZ_CHECK(after == before[i], kProbes[i].key + QStringLiteral(": [%1] became [%2]").arg(before[i], after));
    }
    // The temporary file of the atomic replace never stays behind.
    const QStringList left = QDir(fuzz::scratchFolder()).entryList(QDir::Files | QDir::Hidden);
    FUZZ_CHECK(left == QStringList{QStringLiteral("ZUL.ini")}, left.join(QLatin1Char(' ')));
    return 0;
}
