#include "IBDateTime.h"

#include <ctime>

namespace {

// ISC_TIME counts ten-thousandths of a second.
constexpr int TimeUnitsPerMillisecond = 10;

int Milliseconds(ISC_TIME Time)
{
    return int((Time % (1000 * TimeUnitsPerMillisecond)) / TimeUnitsPerMillisecond);
}

QDate DateOf(const struct tm &T)
{
    return QDate(T.tm_year + 1900, T.tm_mon + 1, T.tm_mday);
}

struct tm TmOf(const QDate &Date, const QTime &Time)
{
    struct tm t {};
    if (Date.isValid()) {
        t.tm_year = Date.year() - 1900;
        t.tm_mon = Date.month() - 1;
        t.tm_mday = Date.day();
    }
    if (Time.isValid()) {
        t.tm_hour = Time.hour();
        t.tm_min = Time.minute();
        t.tm_sec = Time.second();
    }
    return t;
}

} // namespace

void DecodeTimestamp(IGDSLibrary &Library, const ISC_TIMESTAMP &Value, QDate &Date, QTime &Time)
{
    struct tm t {};
    ISC_TIMESTAMP ts = Value;
    Library.isc_decode_timestamp(&ts, &t);
    Date = DateOf(t);
    Time = QTime(t.tm_hour, t.tm_min, t.tm_sec, Milliseconds(ts.timestamp_time));
}

QDate DecodeSqlDate(IGDSLibrary &Library, const ISC_DATE &Value)
{
    struct tm t {};
    ISC_DATE date = Value;
    Library.isc_decode_sql_date(&date, &t);
    return DateOf(t);
}

QTime DecodeSqlTime(IGDSLibrary &Library, const ISC_TIME &Value)
{
    struct tm t {};
    ISC_TIME time = Value;
    Library.isc_decode_sql_time(&time, &t);
    return QTime(t.tm_hour, t.tm_min, t.tm_sec, Milliseconds(time));
}

ISC_TIMESTAMP EncodeTimestamp(IGDSLibrary &Library, const QDate &Date, const QTime &Time)
{
    struct tm t = TmOf(Date, Time);
    ISC_TIMESTAMP ts;
    Library.isc_encode_timestamp(&t, &ts);
    ts.timestamp_time += ISC_TIME(Time.msec() * TimeUnitsPerMillisecond);
    return ts;
}

ISC_DATE EncodeSqlDate(IGDSLibrary &Library, const QDate &Date)
{
    struct tm t = TmOf(Date, QTime());
    ISC_DATE date;
    Library.isc_encode_sql_date(&t, &date);
    return date;
}

ISC_TIME EncodeSqlTime(IGDSLibrary &Library, const QTime &Time)
{
    struct tm t = TmOf(QDate(), Time);
    ISC_TIME time;
    Library.isc_encode_sql_time(&t, &time);
    time += ISC_TIME(Time.msec() * TimeUnitsPerMillisecond);
    return time;
}
