#include "IBFirebird4.h"

#include "IBDateTime.h"
#include "SysUtils.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <cstring>
#include <optional>

namespace IBFirebird4 {

namespace {

QString Offset(int Seconds)
{
    const int m = qAbs(Seconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(Seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(m / 60, 2, 10, QLatin1Char('0'))
        .arg(m % 60, 2, 10, QLatin1Char('0'));
}

// The one offset at which Zone shows Wall, or none when the clocks' change
// skips that wall time or shows it twice.
std::optional<int> OnlyOffset(const QTimeZone &Zone, const QDateTime &Wall)
{
    // Offsets a day either side cover every change of clocks there is.
    const QDateTime utc(Wall.date(), Wall.time(), QTimeZone::utc());
    std::optional<int> found;
    int seen = 0;
    QList<int> tried;
    for (qint64 days : {-1, 0, 1}) {
        const int o = Zone.offsetFromUtc(utc.addDays(days));
        if (tried.contains(o))
            continue;
        tried << o;
        if (Zone.offsetFromUtc(utc.addSecs(-o)) == o) {
            found = o;
            ++seen;
        }
    }
    if (seen != 1)
        return std::nullopt;
    return found;
}

} // namespace

QDate TimeZoneBaseDate()
{
    return QDate(2020, 1, 1);
}

int Coerced(int Type)
{
    switch (Type) {
    case SQL_INT128:
    case SQL_DEC16:
    case SQL_DEC34:
        return SQL_VARYING;
    case SQL_TIME_TZ:
        return SQL_TIME_TZ_EX;
    case SQL_TIMESTAMP_TZ:
        return SQL_TIMESTAMP_TZ_EX;
    default:
        return Type;
    }
}

QByteArray TextBinding(int FirebirdVersion)
{
    if (FirebirdVersion < 1 || FirebirdVersion >= 4)
        return {};
    // NUMERIC(38) stands for every precision past 18, DECFLOAT for both,
    // TIME ZONE for both zoned types (naming TIME WITH TIME ZONE itself, a
    // dialect 1 database refuses the connection).
    static constexpr char Bind[] = "int128 to varchar(64);numeric(38) to varchar(64);decimal(38) to varchar(64);"
                                   "decfloat to varchar(64);time zone to varchar(64)";
    static_assert(sizeof Bind - 1 <= 255, "a connection parameter holds at most 255 bytes");
    QByteArray item;
    item += char(isc_dpb_set_bind);
    item += char(sizeof Bind - 1);
    item += QByteArray(Bind, sizeof Bind - 1);
    return item;
}

bool IsZoned(int Type)
{
    return Type == SQL_TIME_TZ || Type == SQL_TIME_TZ_EX || Type == SQL_TIMESTAMP_TZ || Type == SQL_TIMESTAMP_TZ_EX;
}

bool IsTimeOnly(int Type)
{
    return Type == SQL_TIME_TZ || Type == SQL_TIME_TZ_EX;
}

QString TypeName(int Type)
{
    switch (Type) {
    case SQL_INT128: return QStringLiteral("INT128");
    case SQL_DEC16: return QStringLiteral("DECFLOAT(16)");
    case SQL_DEC34: return QStringLiteral("DECFLOAT(34)");
    case SQL_TIME_TZ:
    case SQL_TIME_TZ_EX: return QStringLiteral("TIME WITH TIME ZONE");
    case SQL_TIMESTAMP_TZ:
    case SQL_TIMESTAMP_TZ_EX: return QStringLiteral("TIMESTAMP WITH TIME ZONE");
    default: return QStringLiteral("tipo %1").arg(Type);
    }
}

QDateTime DecodeExtended(IGDSLibrary &Library, int Type, const char *Data)
{
    QDate date;
    QTime time;
    int offset;
    if (Type == SQL_TIME_TZ_EX) {
        ISC_TIME_TZ_EX v;
        std::memcpy(&v, Data, sizeof v);
        date = TimeZoneBaseDate();
        time = DecodeSqlTime(Library, v.utc_time);
        offset = v.ext_offset;
    } else {
        ISC_TIMESTAMP_TZ_EX v;
        std::memcpy(&v, Data, sizeof v);
        DecodeTimestamp(Library, v.utc_timestamp, date, time);
        offset = v.ext_offset;
    }
    return QDateTime(date, time, QTimeZone::utc()).toTimeZone(QTimeZone(offset * 60));
}

QDateTime ParseText(const QString &Text, QString *Why)
{
    static const QRegularExpression forma(QStringLiteral(
        R"(^(?:(\d{4,})-(\d{1,2})-(\d{1,2}) )?(\d{1,2}):(\d{2}):(\d{2})(?:\.(\d{1,4}))? +(\S+)$)"));
    static const QRegularExpression desvio(QStringLiteral(R"(^([+-])(\d{1,2}):(\d{2})$)"));
    const auto falha = [Why](const QString &Motivo) {
        if (Why)
            *Why = Motivo;
        return QDateTime();
    };
    const QRegularExpressionMatch m = forma.match(Text.trimmed());
    if (!m.hasMatch())
        return falha(QString()); // not a zoned time's text
    const bool TimeOnly = m.captured(1).isEmpty();
    const QDate date = TimeOnly ? TimeZoneBaseDate()
                                : QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QString fracao = m.captured(7).leftJustified(4, QLatin1Char('0'));
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), fracao.left(3).toInt());
    if (!date.isValid() || !time.isValid())
        return falha(QStringLiteral("o servidor mandou \"%1\"").arg(Text));
    const QString zona = m.captured(8);
    const QDateTime wall(date, time, QTimeZone::utc());
    int offset;
    if (const QRegularExpressionMatch d = desvio.match(zona); d.hasMatch()) {
        offset = (d.captured(2).toInt() * 60 + d.captured(3).toInt()) * 60 * (d.captured(1) == u"-" ? -1 : 1);
    } else {
        const QTimeZone tz(zona.toUtf8());
        if (!tz.isValid())
            return falha(QStringLiteral("o fuso horário %1 não é conhecido neste computador").arg(zona));
        const std::optional<int> o = OnlyOffset(tz, wall);
        if (!o)
            return falha(QStringLiteral("a hora %1 em %2 cai numa mudança de horário").arg(TimeToStr(time), zona));
        offset = *o;
    }
    return wall.addSecs(-offset).toTimeZone(QTimeZone(offset));
}

QString ServerText(const QDateTime &Value, bool TimeOnly)
{
    const QString wall = Value.toString(TimeOnly ? QStringLiteral("hh:mm:ss.zzz") : QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    return wall + QLatin1Char(' ') + Offset(Value.offsetFromUtc());
}

QString ToText(const QDateTime &Value, bool TimeOnly)
{
    const QString wall = TimeOnly ? TimeToStr(Value.time()) : DateTimeToStr(Value.date(), Value.time());
    return wall + QLatin1Char(' ') + Offset(Value.offsetFromUtc());
}

} // namespace IBFirebird4
