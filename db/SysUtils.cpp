#include "SysUtils.h"

#include <QTimeZone>
#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cmath>
#include <functional>
#include <map>
#include <memory>

namespace {

// Names the converters know the code pages by.
const char *EncodingName(int CodePage)
{
    switch (CodePage) {
    case 65001: return "UTF-8";
    case 932: return "Shift_JIS";
    case 936: case 52936: return "GBK";
    case 949: return "EUC-KR";
    case 20936: return "GB2312";
    case 20127: return "US-ASCII";
    case 28591: return "ISO-8859-1";
    case 437: return "IBM437";
    case 850: return "IBM850";
    case 852: return "IBM852";
    case 857: return "IBM857";
    case 860: return "IBM860";
    case 861: return "IBM861";
    case 863: return "IBM863";
    case 865: return "IBM865";
    default:
        if (CodePage >= 1250 && CodePage <= 1258) {
            static thread_local QByteArray name;
            name = "windows-" + QByteArray::number(CodePage);
            return name.constData();
        }
        return nullptr;
    }
}

bool IsSingleByte(int CodePage)
{
    return (CodePage >= 1250 && CodePage <= 1258) || CodePage == 20127 || CodePage == 28591 ||
           (CodePage >= 437 && CodePage <= 865);
}

} // namespace

TCodePage::TCodePage(int CodePage) : FCodePage(CodePage)
{
    const char *name = EncodingName(CodePage);
    if (CodePage == 0 || CodePage == 65001 || !name) {
        FUtf8 = true;
        return;
    }
    FName = name;
    QStringDecoder probe(name);
    if (!probe.isValid()) {
        FUtf8 = true;
        return;
    }
    if (IsSingleByte(CodePage)) {
        FSingleByte = true;
        for (int b = 0; b < 256; ++b) {
            QStringDecoder d(name);
            const char byte = char(b);
            const QString s = d.decode(QByteArrayView(&byte, 1));
            FToUnicode[b] = s.isEmpty() ? char16_t(0xFFFD) : char16_t(s[0].unicode());
        }
    }
}

const TCodePage &TCodePage::Get(int CodePage)
{
    static QMutex mutex;
    static std::map<int, std::unique_ptr<TCodePage>> pages;
    QMutexLocker lock(&mutex);
    auto &p = pages[CodePage];
    if (!p)
        p.reset(new TCodePage(CodePage));
    return *p;
}

QString TCodePage::Decode(const char *Data, qsizetype Length) const
{
    if (FUtf8)
        return QString::fromUtf8(Data, Length);
    if (FSingleByte) {
        QString out(Length, Qt::Uninitialized);
        char16_t *d = reinterpret_cast<char16_t *>(out.data());
        const auto *s = reinterpret_cast<const unsigned char *>(Data);
        for (qsizetype i = 0; i < Length; ++i)
            d[i] = FToUnicode[s[i]];
        return out;
    }
    QStringDecoder decoder(FName.constData());
    return decoder.decode(QByteArrayView(Data, Length));
}

QByteArray TCodePage::Encode(QStringView Text) const
{
    if (FUtf8)
        return Text.toUtf8();
    if (FSingleByte) {
        // ASCII goes straight through; the rest by the table, "?" when the
        // code page has no such character.
        QByteArray out(Text.size(), Qt::Uninitialized);
        char *d = out.data();
        for (qsizetype i = 0; i < Text.size(); ++i) {
            const char16_t c = Text[i].unicode();
            if (c < 0x80 && FToUnicode[c] == c) {
                d[i] = char(c);
                continue;
            }
            char byte = '?';
            for (int b = 0; b < 256; ++b) {
                if (FToUnicode[b] == c) {
                    byte = char(b);
                    break;
                }
            }
            d[i] = byte;
        }
        return out;
    }
    QStringEncoder encoder(FName.constData());
    return encoder.encode(Text);
}

namespace {

// The locale that numbers and dates are written in: the program's (the
// system's unless one was set), or Brazilian Portuguese where that is the
// bare "C" locale (LANG and LC_ALL unset, C, C.UTF-8 or POSIX), so that a
// date never reads "9 Dec 2026" to the tool's users.
QLocale FormatLocale()
{
    const QLocale locale;
    if (locale.language() == QLocale::C)
        return QLocale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

} // namespace

const TFormatSettings &FormatSettings()
{
    static const TFormatSettings settings = [] {
        const QLocale locale = FormatLocale();
        TFormatSettings s;
        s.DecimalSeparator = locale.decimalPoint().isEmpty() ? QChar('.') : locale.decimalPoint().at(0);
        s.ShortDateFormat = locale.dateFormat(QLocale::ShortFormat);
        // Four-digit years, as a date that can be read back needs.
        if (!s.ShortDateFormat.contains(QLatin1String("yyyy")))
            s.ShortDateFormat.replace(QLatin1String("yy"), QLatin1String("yyyy"));
        QString time = locale.timeFormat(QLocale::LongFormat);
        time.remove(QLatin1Char('t'));
        s.LongTimeFormat = time.trimmed();
        s.TimeSeparator = QChar(':');
        for (QChar c : s.LongTimeFormat) {
            if (!c.isLetter()) {
                s.TimeSeparator = c;
                break;
            }
        }
        return s;
    }();
    return settings;
}

QString FloatToStr(double Value)
{
    if (std::isnan(Value))
        return QStringLiteral("NAN");
    if (std::isinf(Value))
        return Value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    QString s = QString::number(Value, 'g', 15);
    if (s.contains(QLatin1Char('e'))) {
        // 1.5e+20 is written 1,5E20.
        const qsizetype e = s.indexOf(QLatin1Char('e'));
        QString mantissa = s.left(e);
        int exponent = s.mid(e + 1).toInt();
        s = mantissa + QLatin1Char('E') + QString::number(exponent);
    }
    s.replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
    return s;
}

QString FloatToStrFixed(double Value, int Digits)
{
    QString s = QString::number(Value, 'f', Digits);
    s.replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
    return s;
}

QString CurrToStr(int64_t Value)
{
    const bool negative = Value < 0;
    const uint64_t magnitude = negative ? uint64_t(0) - uint64_t(Value) : uint64_t(Value);
    QString s = QString::number(magnitude / 10000);
    uint64_t fraction = magnitude % 10000;
    if (fraction) {
        QString f = QString::number(fraction).rightJustified(4, QLatin1Char('0'));
        while (f.endsWith(QLatin1Char('0')))
            f.chop(1);
        s += FormatSettings().DecimalSeparator + f;
    }
    return negative ? QLatin1Char('-') + s : s;
}

namespace {

// The text with the locale's decimal separator turned into a point; false
// when it holds the other separator too.
QString Normalised(const QString &Text)
{
    QString t = Text.trimmed();
    const QChar sep = FormatSettings().DecimalSeparator;
    if (sep != QLatin1Char('.')) {
        if (t.contains(QLatin1Char('.')))
            return QString();
        t.replace(sep, QLatin1Char('.'));
    }
    return t;
}

} // namespace

bool TryStrToFloat(const QString &Text, double &Value)
{
    const QString t = Normalised(Text);
    if (t.isEmpty())
        return false;
    bool ok = false;
    Value = QLocale::c().toDouble(t, &ok);
    return ok;
}

bool TryStrToCurr(const QString &Text, int64_t &Value)
{
    const QString t = Normalised(Text);
    if (t.isEmpty())
        return false;
    QStringView v(t);
    bool negative = false;
    if (v.startsWith(u'-') || v.startsWith(u'+')) {
        negative = v.front() == u'-';
        v = v.mid(1);
    }
    const qsizetype dot = v.indexOf(u'.');
    const QStringView whole = dot < 0 ? v : v.left(dot);
    QStringView frac = dot < 0 ? QStringView() : v.mid(dot + 1);
    if (whole.isEmpty() && frac.isEmpty())
        return false;
    for (QChar c : whole)
        if (!c.isDigit() || c.unicode() > 127)
            return false;
    for (QChar c : frac)
        if (!c.isDigit() || c.unicode() > 127)
            return false;
    bool ok = true;
    const qint64 w = whole.isEmpty() ? 0 : whole.toLongLong(&ok);
    if (!ok || w > INT64_MAX / 10000)
        return false;
    int64_t f = 0;
    for (int i = 0; i < 4; ++i)
        f = f * 10 + (i < frac.size() ? frac[i].digitValue() : 0);
    // Rounded half away from zero at the fifth decimal.
    if (frac.size() > 4 && frac[4].digitValue() >= 5)
        ++f;
    Value = w * 10000 + f;
    if (negative)
        Value = -Value;
    return true;
}

bool TryStrToInt64(const QString &Text, int64_t &Value)
{
    QStringView s(Text);
    while (!s.isEmpty() && s.front() == u' ')
        s = s.mid(1);
    bool ok = false;
    Value = s.toLongLong(&ok);
    return ok && !s.isEmpty() && s.back().isDigit();
}

QString DateToStr(const QDate &Date)
{
    return Date.toString(FormatSettings().ShortDateFormat);
}

QString TimeToStr(const QTime &Time)
{
    return Time.toString(FormatSettings().LongTimeFormat);
}

QString DateTimeToStr(const QDateTime &Value)
{
    return DateTimeToStr(Value.date(), Value.time());
}

QString DateTimeToStr(const QDate &d, const QTime &t)
{
    // A time of exactly midnight is left out, as is a zero date.
    if (d == ZeroDate())
        return TimeToStr(t);
    if (t == QTime(0, 0))
        return DateToStr(d);
    return DateToStr(d) + QLatin1Char(' ') + TimeToStr(t);
}

namespace {

// A date and a time of day read apart from each other: no time zone is
// involved, so a time that a local clock skipped still reads.
bool SplitDateTime(QStringView Text, const std::function<QDate(QStringView)> &ReadDate,
                   const std::function<QTime(QStringView)> &ReadTime, QDateTime &Value)
{
    for (qsizetype i = 0; i < Text.size(); ++i) {
        if (Text[i] != u' ' && Text[i] != u'T')
            continue;
        const QDate d = ReadDate(Text.left(i));
        const QTime t = ReadTime(Text.mid(i + 1).trimmed());
        if (d.isValid() && t.isValid()) {
            Value = QDateTime(d, t, QTimeZone::utc());
            return true;
        }
    }
    return false;
}

} // namespace

bool TryStrToDateTime(const QString &Text, QDateTime &Value)
{
    const TFormatSettings &f = FormatSettings();
    const QString t = Text.trimmed();
    const auto localDate = [&](QStringView s) { return QDate::fromString(s.toString(), f.ShortDateFormat); };
    const auto localTime = [&](QStringView s) { return QTime::fromString(s.toString(), f.LongTimeFormat); };
    if (SplitDateTime(t, localDate, localTime, Value))
        return true;
    if (const QDate d = localDate(t); d.isValid()) {
        Value = QDateTime(d, QTime(0, 0), QTimeZone::utc());
        return true;
    }
    if (const QTime tm = localTime(t); tm.isValid()) {
        Value = QDateTime(ZeroDate(), tm, QTimeZone::utc());
        return true;
    }
    // ISO 8601: the date and the time as written, an offset ignored.
    const auto isoDate = [](QStringView s) { return QDate::fromString(s.toString(), Qt::ISODate); };
    const auto isoTime = [](QStringView s) {
        QString time = s.toString();
        const qsizetype zone = time.indexOf(QRegularExpression(QStringLiteral("[Zz+-]")));
        if (zone >= 0)
            time.truncate(zone);
        return QTime::fromString(time, Qt::ISODateWithMs);
    };
    if (SplitDateTime(t, isoDate, isoTime, Value))
        return true;
    if (const QDate d = isoDate(t); d.isValid()) {
        Value = QDateTime(d, QTime(0, 0), QTimeZone::utc());
        return true;
    }
    return false;
}

QString TrimBlanks(const QString &S)
{
    qsizetype b = 0;
    qsizetype e = S.size();
    while (b < e && S[b].unicode() <= 32)
        ++b;
    while (e > b && S[e - 1].unicode() <= 32)
        --e;
    return S.mid(b, e - b);
}

QString LowerAscii(const QString &S)
{
    QString out = S;
    for (QChar &c : out)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return out;
}
