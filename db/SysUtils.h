#pragma once

// Text conversions the layer shares: code pages, and numbers, money and
// dates written and read with the locale's settings.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>

// Converts between the program's strings and one code page (CP_ACP, 0, is
// the system's 8-bit code page, UTF-8 here). Single-byte code pages go
// through a table, built once.
class TCodePage {
public:
    static const TCodePage &Get(int CodePage);

    QString Decode(const char *Data, qsizetype Length) const;
    QString Decode(const QByteArray &Bytes) const { return Decode(Bytes.constData(), Bytes.size()); }
    QByteArray Encode(QStringView Text) const;
    int CodePage() const { return FCodePage; }

private:
    explicit TCodePage(int CodePage);

    int FCodePage;
    bool FSingleByte = false;
    bool FUtf8 = false;
    QByteArray FName;    // encoding name for the multi-byte ones
    char16_t FToUnicode[256] = {};
};

// Blanks and control characters (up to the space) trimmed from both ends.
QString TrimBlanks(const QString &S);
// A to Z lowered, nothing else.
QString LowerAscii(const QString &S);

// Locale settings in the form the formats below use.
struct TFormatSettings {
    QChar DecimalSeparator;
    QChar TimeSeparator;
    QString ShortDateFormat; // Qt format, e.g. dd/MM/yyyy
    QString LongTimeFormat;  // Qt format, e.g. HH:mm:ss
};
const TFormatSettings &FormatSettings();

// 15 significant digits, shortest form, the locale's decimal separator.
QString FloatToStr(double Value);
// A money value held as an integer of ten-thousandths: as many decimals as
// it needs (at most four).
QString CurrToStr(int64_t Value);
// Fixed notation with Digits decimals.
QString FloatToStrFixed(double Value, int Digits);
bool TryStrToFloat(const QString &Text, double &Value);
bool TryStrToCurr(const QString &Text, int64_t &Value);
bool TryStrToInt64(const QString &Text, int64_t &Value);

QString DateToStr(const QDate &Date);
QString TimeToStr(const QTime &Time);
QString DateTimeToStr(const QDateTime &Value);
QString DateTimeToStr(const QDate &Date, const QTime &Time);
// The locale's date and time, either alone, or ISO 8601. The result holds
// the date and time as written, as UTC: database values have no time zone.
bool TryStrToDateTime(const QString &Text, QDateTime &Value);

// The date that stands for "no date" in a time of day.
inline QDate ZeroDate()
{
    return QDate(1899, 12, 30);
}
