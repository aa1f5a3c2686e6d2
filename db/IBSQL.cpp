#include "IBSQL.h"

#include "SysUtils.h"

#include <QUuid>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

bool IsBooleanType(int Type)
{
    return Type == SQL_BOOLEAN_IB || Type == SQL_BOOLEAN_FB;
}

int64_t Pow10(int N)
{
    int64_t p = 1;
    for (int i = 0; i < N && i < 18; ++i)
        p *= 10;
    return p;
}

// ISC_TIME counts ten-thousandths of a second.
int Milliseconds(ISC_TIME Time)
{
    return int((Time % 10000) / 10);
}

} // namespace

// ===========================================================================
// TSQLVAR

int TSQLVAR::DerivedPrecision(int Type)
{
    switch (Type) {
    case SQL_LONG:
        return 9;
    case SQL_SHORT:
        return 4;
    case SQL_INT64:
        return 18;
    default:
        return 0;
    }
}

void TSQLVAR_V1::SetSqlPrecision(int)
{
    RaiseClientError(ibxeNotSupported);
}

int TSQLVAR_V2::GetSqlPrecision() const
{
    return FXSQLVAR->sqlprecision != 0 ? FXSQLVAR->sqlprecision : DerivedPrecision(SqlDef());
}

// ===========================================================================
// TIBXSQLVAR

TIBXSQLVAR::TIBXSQLVAR(TIBXSQLDA *Parent, TIBSQL *Query, int Index, int Version)
    : FParent(Parent), FSQL(Query), FIndex(Index)
{
    if (Version == SQLDA_VERSION2)
        FXSQLVAR = std::make_unique<TSQLVAR_V2>();
    else
        FXSQLVAR = std::make_unique<TSQLVAR_V1>();
}

int TIBXSQLVAR::Dialect() const
{
    return FSQL->Dialect();
}

const TCodePage &TIBXSQLVAR::CodePage() const
{
    return FSQL->CodePage();
}

void TIBXSQLVAR::ConversionError()
{
    RaiseClientError(ibxeInvalidDataConversion);
}

int TIBXSQLVAR::CharSetSize() const
{
    switch (FXSQLVAR->GetSqlSubtype() & 0xFF) {
    case 5: case 6: case 8: case 44: case 56: case 57: case 64:
        return 2;
    case 59:
        return 4;
    case 3:
        return !FXSQLVAR->GetRelName().startsWith("RDB$") && FXSQLVAR->SqlLen() % 3 == 0 ? 3 : 1;
    default:
        return 1;
    }
}

bool TIBXSQLVAR::IsNull() const
{
    return IsNullable() && FXSQLVAR->SqlInd() && *FXSQLVAR->SqlInd() == -1;
}

std::vector<TIBXSQLVAR *> TIBXSQLVAR::SameName() const
{
    std::vector<TIBXSQLVAR *> entries;
    for (int i = 0; i < FParent->Count(); ++i) {
        TIBXSQLVAR &v = FParent->Vars(i);
        if (&v == this || v.FName == FName)
            entries.push_back(&v);
    }
    return entries;
}

void TIBXSQLVAR::SetIsNull(bool Value)
{
    for (TIBXSQLVAR *v : SameName()) {
        TSQLVAR &x = *v->FXSQLVAR;
        if (Value) {
            if (!(x.SqlType() & 1)) {
                x.SetSqlType(x.SqlType() | 1);
                x.SetIndSize(0, 2);
            } else if (!x.SqlInd()) {
                x.SetIndSize(0, 2);
            }
            *x.SqlInd() = -1;
        } else if ((x.SqlType() & 1) && x.SqlInd()) {
            *x.SqlInd() = 0;
        }
    }
}

int64_t TIBXSQLVAR::ScaledValue() const
{
    const char *d = FXSQLVAR->SqlData();
    switch (FXSQLVAR->SqlDef()) {
    case SQL_SHORT: {
        int16_t v;
        std::memcpy(&v, d, 2);
        return v;
    }
    case SQL_LONG: {
        int32_t v;
        std::memcpy(&v, d, 4);
        return v;
    }
    default: {
        int64_t v;
        std::memcpy(&v, d, 8);
        return v;
    }
    }
}

QByteArray IBReadBlob(TIBDatabase &Database, TIBTransaction &Transaction, const ISC_QUAD &Id)
{
    IGDSLibrary &lib = Database.GDSLibrary();
    ISC_STATUS *status = ThreadStatusVector();
    isc_blob_handle blob = 0;
    ISC_QUAD id = Id;
    Transaction.Call(
        lib.isc_open_blob2(status, Database.HandlePtr(), Transaction.HandlePtr(), &blob, &id, 0, nullptr), true);
    QByteArray content;
    char segment[32768];
    for (;;) {
        unsigned short got = 0;
        const ISC_STATUS r = lib.isc_get_segment(status, &blob, &got, sizeof segment, segment);
        if (r == 0 || r == isc_segment) {
            content.append(segment, got);
            continue;
        }
        if (r == isc_segstr_eof)
            break;
        ISC_STATUS_ARRAY saved;
        std::memcpy(saved, status, sizeof saved);
        ISC_STATUS_ARRAY ignored;
        lib.isc_close_blob(ignored, &blob);
        std::memcpy(status, saved, sizeof saved);
        Transaction.Call(r, true);
    }
    Transaction.Call(lib.isc_close_blob(status, &blob), true);
    return content;
}

QString TIBXSQLVAR::ReadBlob() const
{
    FSQL->Base().CheckDatabase();
    FSQL->Base().CheckTransaction();
    ISC_QUAD id;
    std::memcpy(&id, FXSQLVAR->SqlData(), sizeof id);
    return CodePage().Decode(IBReadBlob(*FSQL->Database(), *FSQL->Transaction(), id));
}

ISC_QUAD TIBXSQLVAR::WriteBlob(const QByteArray &Bytes) const
{
    IGDSLibrary &lib = FSQL->Library();
    ISC_STATUS *status = ThreadStatusVector();
    isc_blob_handle blob = 0;
    ISC_QUAD id{};
    FSQL->Call(lib.isc_create_blob2(status, FSQL->DBHandle(), FSQL->TRHandle(), &blob, &id, 0, nullptr), true);
    for (qsizetype pos = 0; pos < Bytes.size();) {
        const unsigned short n = static_cast<unsigned short>(qMin<qsizetype>(Bytes.size() - pos, 32767));
        const ISC_STATUS r = lib.isc_put_segment(status, &blob, n, Bytes.constData() + pos);
        if (r > 0) {
            ISC_STATUS_ARRAY ignored;
            lib.isc_cancel_blob(ignored, &blob);
            FSQL->Call(r, true);
        }
        pos += n;
    }
    FSQL->Call(lib.isc_close_blob(status, &blob), true);
    return id;
}

QString TIBXSQLVAR::AsString() const
{
    if (IsNull())
        return QString();
    const TSQLVAR &x = *FXSQLVAR;
    const char *d = x.SqlData();
    switch (x.SqlDef()) {
    case SQL_TEXT: {
        QString s = CodePage().Decode(d, x.SqlLen());
        const int chars = x.SqlLen() / CharSetSize();
        if (s.size() > chars)
            s.truncate(chars);
        return s;
    }
    case SQL_VARYING: {
        uint16_t n;
        std::memcpy(&n, d, 2);
        return CodePage().Decode(d + 2, qMin<int>(n, x.SqlLen()));
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        if (x.SqlScale() == 0)
            return QString::number(ScaledValue());
        if (x.SqlScale() >= -4)
            return CurrToStr(AsCurrency());
        return FloatToStr(AsDouble());
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return FloatToStr(AsDouble());
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: {
        // Straight from the date and the time, without a time zone.
        QDate date;
        QTime time;
        DecodeDateTime(date, time);
        if (x.SqlDef() == SQL_TYPE_TIME)
            return TimeToStr(time);
        if (x.SqlDef() == SQL_TYPE_DATE && Dialect() != 1)
            return Dialect() == 3 ? DateToStr(date) : QString();
        return DateTimeToStr(date, time);
    }
    case SQL_BLOB:
        return ReadBlob();
    case SQL_ARRAY:
        return QStringLiteral("(Array)");
    case SQL_BOOLEAN_IB:
    case SQL_BOOLEAN_FB:
        return AsBoolean() ? QStringLiteral("Verdadeiro") : QStringLiteral("Falso");
    default:
        ConversionError();
    }
}

QString TIBXSQLVAR::AsTrimString() const
{
    QString s = AsString();
    qsizetype e = s.size();
    while (e > 0 && s[e - 1] == u' ')
        --e;
    s.truncate(e);
    return s;
}

int64_t TIBXSQLVAR::AsInt64() const
{
    if (IsNull())
        return 0;
    const TSQLVAR &x = *FXSQLVAR;
    switch (x.SqlDef()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        int64_t v;
        if (!TryStrToInt64(AsString(), v))
            ConversionError();
        return v;
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
        const int64_t v = ScaledValue();
        const int s = x.SqlScale();
        if (s > 0)
            return v * Pow10(s);
        if (s < 0)
            return s < -18 ? 0 : v / Pow10(-s);
        return v;
    }
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
        const double d = std::trunc(AsDouble());
        if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18))
            ConversionError();
        return int64_t(d);
    }
    case SQL_BOOLEAN_IB:
    case SQL_BOOLEAN_FB:
        return AsBoolean() ? 1 : 0;
    default:
        ConversionError();
    }
}

int32_t TIBXSQLVAR::AsInteger() const
{
    if (IsNull())
        return 0;
    const TSQLVAR &x = *FXSQLVAR;
    switch (x.SqlDef()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        try {
            return StrToInt(AsString());
        } catch (const EConvertError &) {
            ConversionError();
        }
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
        if (x.SqlScale() == 0)
            return int32_t(uint32_t(uint64_t(ScaledValue())));
        const double d = std::trunc(double(ScaledValue()) * std::pow(10.0, x.SqlScale()));
        // The low 32 bits of the truncated value.
        if (!(std::fabs(d) < 9.2e18))
            ConversionError();
        return int32_t(uint32_t(uint64_t(int64_t(d))));
    }
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
        // Truncated toward zero, the low 32 bits kept, as for scaled values.
        const double d = std::trunc(AsDouble());
        if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18))
            ConversionError();
        return int32_t(uint32_t(uint64_t(int64_t(d))));
    }
    case SQL_BOOLEAN_IB:
    case SQL_BOOLEAN_FB:
        return AsBoolean() ? 1 : 0;
    default:
        ConversionError();
    }
}

int16_t TIBXSQLVAR::AsShort() const
{
    try {
        return int16_t(AsInteger());
    } catch (const EIBClientError &) {
        ConversionError();
    }
}

double TIBXSQLVAR::AsDouble() const
{
    if (IsNull())
        return 0;
    const TSQLVAR &x = *FXSQLVAR;
    const char *d = x.SqlData();
    double result;
    switch (x.SqlDef()) {
    case SQL_TEXT:
    case SQL_VARYING:
        if (!TryStrToFloat(AsString(), result))
            ConversionError();
        break;
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        result = double(ScaledValue()) * std::pow(10.0, x.SqlScale());
        break;
    case SQL_FLOAT: {
        float f;
        std::memcpy(&f, d, 4);
        result = f;
        break;
    }
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        std::memcpy(&result, d, 8);
        break;
    case SQL_BOOLEAN_IB:
    case SQL_BOOLEAN_FB:
        return AsBoolean() ? 1 : 0;
    default:
        ConversionError();
    }
    if (x.SqlScale() != 0 && std::isfinite(result) && result != 0) {
        // Rounded once, to the column's decimals but to no more than 15
        // significant digits, as its fixed-point text with that precision.
        const int decimals = x.SqlScale() < 0 ? -x.SqlScale() : 0;
        const int magnitude = int(std::floor(std::log10(std::fabs(result)))) + 1; // digits before the point
        if (decimals <= 15 - magnitude)
            result = QString::number(result, 'f', decimals).toDouble();
        else
            result = QString::number(result, 'e', 14).toDouble();
    }
    return result;
}

float TIBXSQLVAR::AsFloat() const
{
    return float(AsDouble());
}

int64_t TIBXSQLVAR::AsCurrency() const
{
    if (IsNull())
        return 0;
    const TSQLVAR &x = *FXSQLVAR;
    if (Dialect() < 3) {
        return int64_t(std::llround(AsDouble() * 10000.0));
    }
    switch (x.SqlDef()) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
        const int64_t v = ScaledValue();
        const int s = x.SqlScale() + 4;
        if (s >= 0) {
            const int64_t m = Pow10(s);
            if (v != 0 && (std::llabs(v) > std::numeric_limits<int64_t>::max() / m))
                ConversionError();
            return v * m;
        }
        // Through the decimal text: rounded at the fourth decimal.
        const int64_t m = Pow10(-s);
        const int64_t q = v / m;
        const int64_t r = v % m;
        return q + (std::llabs(r) * 2 >= m ? (v < 0 ? -1 : 1) : 0);
    }
    case SQL_TEXT:
    case SQL_VARYING: {
        int64_t c;
        if (!TryStrToCurr(AsString(), c))
            ConversionError();
        return c;
    }
    default: {
        const double d = AsDouble() * 10000.0;
        if (!(std::fabs(d) < 9.2e18))
            ConversionError();
        return int64_t(std::llround(d));
    }
    }
}

bool TIBXSQLVAR::DecodeDateTime(QDate &Date, QTime &Time) const
{
    const TSQLVAR &x = *FXSQLVAR;
    IGDSLibrary &lib = FSQL->Library();
    struct tm t {};
    switch (x.SqlDef()) {
    case SQL_TIMESTAMP: {
        ISC_TIMESTAMP ts;
        std::memcpy(&ts, x.SqlData(), sizeof ts);
        lib.isc_decode_timestamp(&ts, &t);
        Date = QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
        Time = QTime(t.tm_hour, t.tm_min, t.tm_sec, Milliseconds(ts.timestamp_time));
        return true;
    }
    case SQL_TYPE_DATE: {
        ISC_DATE date;
        std::memcpy(&date, x.SqlData(), sizeof date);
        lib.isc_decode_sql_date(&date, &t);
        Date = QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
        Time = QTime(0, 0);
        return true;
    }
    case SQL_TYPE_TIME: {
        ISC_TIME time;
        std::memcpy(&time, x.SqlData(), sizeof time);
        lib.isc_decode_sql_time(&time, &t);
        Date = ZeroDate();
        Time = QTime(t.tm_hour, t.tm_min, t.tm_sec, Milliseconds(time));
        return true;
    }
    default:
        return false;
    }
}

QDateTime TIBXSQLVAR::AsDateTime() const
{
    if (IsNull())
        return QDateTime();
    QDate date;
    QTime time;
    // The database's dates and times belong to no time zone: held as UTC,
    // every one of them exists, daylight-saving gaps included.
    if (DecodeDateTime(date, time))
        return QDateTime(date, time, Qt::UTC);
    switch (FXSQLVAR->SqlDef()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        QDateTime v;
        if (!TryStrToDateTime(AsString(), v))
            ConversionError();
        return v;
    }
    default:
        ConversionError();
    }
}

QDate TIBXSQLVAR::AsDate() const
{
    QDate date;
    QTime time;
    if (!IsNull() && DecodeDateTime(date, time))
        return date;
    return IsNull() ? QDate() : AsDateTime().date();
}

QTime TIBXSQLVAR::AsTime() const
{
    QDate date;
    QTime time;
    if (!IsNull() && DecodeDateTime(date, time))
        return time;
    return IsNull() ? QTime() : AsDateTime().time();
}

bool TIBXSQLVAR::AsBoolean() const
{
    if (IsNull())
        return false;
    if (!IsBooleanType(FXSQLVAR->SqlDef()))
        ConversionError();
    // Firebird's own boolean is one byte; the older one a 16-bit value.
    if (FXSQLVAR->SqlLen() == 1)
        return FXSQLVAR->SqlData()[0] != 0;
    int16_t v;
    std::memcpy(&v, FXSQLVAR->SqlData(), 2);
    return v != 0;
}

ISC_QUAD TIBXSQLVAR::AsQuad() const
{
    if (IsNull())
        return ISC_QUAD{};
    switch (FXSQLVAR->SqlDef()) {
    case SQL_BLOB:
    case SQL_ARRAY:
    case SQL_QUAD: {
        ISC_QUAD q;
        std::memcpy(&q, FXSQLVAR->SqlData(), sizeof q);
        return q;
    }
    default:
        ConversionError();
    }
}

QVariant TIBXSQLVAR::AsVariant() const
{
    if (IsNull())
        return QVariant();
    const TSQLVAR &x = *FXSQLVAR;
    switch (x.SqlDef()) {
    case SQL_TEXT:
    case SQL_VARYING:
    case SQL_BLOB:
        return AsString();
    case SQL_SHORT:
    case SQL_LONG:
        if (x.SqlScale() == 0)
            return AsInteger();
        return AsDouble();
    case SQL_INT64:
        if (x.SqlScale() == 0)
            return qlonglong(AsInt64());
        return AsDouble();
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return AsDouble();
    case SQL_TIMESTAMP:
        return AsDateTime();
    case SQL_TYPE_DATE:
        return AsDate();
    case SQL_TYPE_TIME:
        return AsTime();
    case SQL_BOOLEAN_IB:
    case SQL_BOOLEAN_FB:
        return AsBoolean();
    default:
        ConversionError();
    }
}

// --- Assignment ------------------------------------------------------------

void TIBXSQLVAR::Rewrite(TIBXSQLVAR *Entry, int Type, int Length, int Scale, bool KeepScale, const void *Bytes)
{
    TSQLVAR &x = *Entry->FXSQLVAR;
    x.SetSqlType(Type | (x.SqlType() & 1));
    x.SetSqlLen(Length);
    if (!KeepScale)
        x.SetSqlScale(Scale);
    x.SetDataSize(0, Length > 0 ? Length : 1);
    if (Bytes && Length > 0)
        std::memcpy(x.SqlData(), Bytes, size_t(Length));
    Entry->FModified = true;
}

void TIBXSQLVAR::Assign(int Type, int Length, int Scale, bool KeepScale, const void *Bytes)
{
    if (IsNullable())
        SetIsNull(false);
    for (TIBXSQLVAR *v : SameName())
        Rewrite(v, Type, Length, Scale, KeepScale, Bytes);
}

void TIBXSQLVAR::SetAsInteger(int32_t Value)
{
    Assign(SQL_LONG, 4, 0, false, &Value);
}

void TIBXSQLVAR::SetAsShort(int16_t Value)
{
    Assign(SQL_SHORT, 2, 0, false, &Value);
}

void TIBXSQLVAR::SetAsInt64(int64_t Value)
{
    Assign(SQL_INT64, 8, 0, false, &Value);
}

void TIBXSQLVAR::SetAsDouble(double Value)
{
    Assign(SQL_DOUBLE, 8, 0, false, &Value);
}

void TIBXSQLVAR::SetAsFloat(float Value)
{
    Assign(SQL_FLOAT, 4, 0, false, &Value);
}

void TIBXSQLVAR::SetAsCurrency(int64_t Value)
{
    if (Dialect() < 3) {
        SetAsDouble(double(Value) / 10000.0);
        return;
    }
    Assign(SQL_INT64, 8, -4, false, &Value);
}

void TIBXSQLVAR::SetAsDateTime(const QDateTime &Value)
{
    // The date and the time as given, in whatever zone they were: a local
    // time in a daylight-saving gap is still a date and a time.
    if (!Value.date().isValid()) {
        SetIsNull(true);
        return;
    }
    struct tm t {};
    const QDate d = Value.date();
    const QTime tm = Value.time();
    t.tm_year = d.year() - 1900;
    t.tm_mon = d.month() - 1;
    t.tm_mday = d.day();
    t.tm_hour = tm.hour();
    t.tm_min = tm.minute();
    t.tm_sec = tm.second();
    ISC_TIMESTAMP ts;
    FSQL->Library().isc_encode_timestamp(&t, &ts);
    ts.timestamp_time += ISC_TIME(tm.msec() * 10);
    Assign(SQL_TIMESTAMP, int(sizeof ts), 0, true, &ts);
}

void TIBXSQLVAR::SetAsDate(const QDate &Value)
{
    if (Dialect() < 3) {
        SetAsDateTime(QDateTime(Value, QTime(0, 0), Qt::UTC));
        return;
    }
    if (!Value.isValid()) {
        SetIsNull(true);
        return;
    }
    struct tm t {};
    t.tm_year = Value.year() - 1900;
    t.tm_mon = Value.month() - 1;
    t.tm_mday = Value.day();
    ISC_DATE date;
    FSQL->Library().isc_encode_sql_date(&t, &date);
    Assign(SQL_TYPE_DATE, int(sizeof date), 0, true, &date);
}

void TIBXSQLVAR::SetAsTime(const QTime &Value)
{
    if (Dialect() < 3) {
        SetAsDateTime(QDateTime(ZeroDate(), Value, Qt::UTC));
        return;
    }
    if (!Value.isValid()) {
        SetIsNull(true);
        return;
    }
    struct tm t {};
    t.tm_hour = Value.hour();
    t.tm_min = Value.minute();
    t.tm_sec = Value.second();
    ISC_TIME time;
    FSQL->Library().isc_encode_sql_time(&t, &time);
    time += ISC_TIME(Value.msec() * 10);
    Assign(SQL_TYPE_TIME, int(sizeof time), 0, true, &time);
}

void TIBXSQLVAR::SetAsBoolean(bool Value)
{
    if (!FXSQLVAR->SqlData())
        ConversionError();
    for (TIBXSQLVAR *v : SameName()) {
        TSQLVAR &x = *v->FXSQLVAR;
        if (!x.SqlData())
            continue;
        if (x.SqlLen() == 1) {
            x.SqlData()[0] = Value ? 1 : 0;
        } else if (x.SqlLen() >= 2) {
            const int16_t b = Value ? 1 : 0;
            std::memcpy(x.SqlData(), &b, 2);
        }
        // The null flag stays as it was.
        v->FModified = true;
    }
}

void TIBXSQLVAR::SetAsQuad(const ISC_QUAD &Value)
{
    switch (FXSQLVAR->SqlDef()) {
    case SQL_BLOB:
    case SQL_ARRAY:
    case SQL_QUAD:
        break;
    default:
        ConversionError();
    }
    if (IsNullable())
        SetIsNull(false);
    for (TIBXSQLVAR *v : SameName()) {
        TSQLVAR &x = *v->FXSQLVAR;
        const int type = x.SqlDef();
        if (type != SQL_BLOB && type != SQL_ARRAY && type != SQL_QUAD)
            continue;
        if (x.SqlLen() < int(sizeof Value))
            x.SetDataSize(0, int(sizeof Value));
        std::memcpy(x.SqlData(), &Value, sizeof Value);
        v->FModified = true;
    }
}

void TIBXSQLVAR::AssignText(const QString &Text, const QByteArray &Encoded)
{
    const int length = int(Encoded.size());
    if (length > 32767)
        RaiseClientError(ibxeStringTooLarge, {length, 32767});
    const QString &text16 = Text;
    for (TIBXSQLVAR *v : SameName()) {
        TSQLVAR &x = *v->FXSQLVAR;
        const QByteArray sqlName = x.GetSqlName();
        if (sqlName == "DB_KEY" || sqlName == "RDB$DB_KEY") {
            // A key takes the raw bytes of the text's 16-bit form.
            const QByteArray raw(reinterpret_cast<const char *>(text16.utf16()), text16.size() * 2);
            if (x.SqlData())
                std::memcpy(x.SqlData(), raw.constData(), size_t(qMin<qsizetype>(x.SqlLen(), raw.size())));
            v->FModified = true;
            continue;
        }
        if ((x.SqlDef() == SQL_TEXT || x.SqlDef() == SQL_VARYING) && v->FMaxLen > 0 && v->FMaxLen < length)
            RaiseClientError(ibxeStringTooLarge, {length, v->FMaxLen});
        x.SetSqlType(SQL_TEXT | (x.SqlType() & 1));
        x.SetSqlLen(length);
        // One spare byte beyond the text.
        x.SetDataSize(0, length + 1);
        if (length > 0)
            std::memcpy(x.SqlData(), Encoded.constData(), size_t(length));
        x.SqlData()[length] = '\0';
        v->FModified = true;
    }
}

void TIBXSQLVAR::SetAsString(const QString &Value)
{
    const int type = FXSQLVAR->SqlDef();
    switch (type) {
    case SQL_TEXT:
    case SQL_VARYING:
        if (IsNullable())
            SetIsNull(false);
        AssignText(Value, CodePage().Encode(Value));
        return;
    case SQL_BLOB: {
        if (IsNullable())
            SetIsNull(false);
        const ISC_QUAD id = WriteBlob(CodePage().Encode(Value));
        for (TIBXSQLVAR *v : SameName()) {
            TSQLVAR &x = *v->FXSQLVAR;
            if (x.SqlDef() != SQL_BLOB)
                continue;
            x.SetDataSize(0, int(sizeof id));
            x.SetSqlLen(int(sizeof id));
            std::memcpy(x.SqlData(), &id, sizeof id);
            v->FModified = true;
        }
        return;
    }
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: {
        QDateTime dt;
        if (!TryStrToDateTime(Value, dt))
            ConversionError();
        SetAsDateTime(dt);
        return;
    }
    default:
        if (Value.isEmpty()) {
            SetIsNull(true);
            return;
        }
        if (IsNullable())
            SetIsNull(false);
        AssignText(Value, Value.toLocal8Bit());
        return;
    }
}

void TIBXSQLVAR::SetAsVariant(const QVariant &Value)
{
    if (Value.isNull() || !Value.isValid()) {
        SetIsNull(true);
        return;
    }
    switch (Value.typeId()) {
    case QMetaType::Bool:
        SetAsBoolean(Value.toBool());
        break;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
        SetAsInteger(Value.toInt());
        break;
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
        SetAsInt64(Value.toLongLong());
        break;
    case QMetaType::Double:
        SetAsDouble(Value.toDouble());
        break;
    case QMetaType::Float:
        SetAsFloat(Value.toFloat());
        break;
    case QMetaType::QDateTime:
        SetAsDateTime(Value.toDateTime());
        break;
    case QMetaType::QDate:
        SetAsDate(Value.toDate());
        break;
    case QMetaType::QTime:
        SetAsTime(Value.toTime());
        break;
    case QMetaType::QString:
        SetAsString(Value.toString());
        break;
    default:
        RaiseClientError(ibxeNotSupported);
    }
}

// ===========================================================================
// TIBXSQLDA

TIBXSQLDA::TIBXSQLDA(TIBSQL *Query) : FSQL(Query) {}

TIBXSQLDA::~TIBXSQLDA()
{
    FXSQLVARs.clear();
    std::free(FXSQLDA);
}

QString TIBXSQLDA::Normalize(const QString &Name) const
{
    const QString n = Name.trimmed();
    if (FSQL->Dialect() == 1)
        return n.toUpper();
    if (n.startsWith(QLatin1Char('"'))) {
        QString inner = n.mid(1, n.size() - 2);
        inner.replace(QLatin1String("\"\""), QLatin1String("\""));
        return inner;
    }
    return n.toUpper();
}

void TIBXSQLDA::SetCount(int Value)
{
    FNames.clear();
    if (Value <= 0) {
        // The area, allocated or not, stays as it is.
        FUniqueRelationName.clear();
        FCount = 0;
        return;
    }
    if (Value > 32767)
        RaiseClientError(ibxeXSQLDAIndexOutOfRange);
    FCount = Value;
    if (FCount > FSize) {
        // Areas only grow: every record moves with the area.
        const int version =
            FSQL->Database() && FSQL->Database()->GDSLibrary().ClientVersion() >= 70000 ? SQLDA_VERSION2
                                                                                        : SQLDA_VERSION1;
        if (FXSQLDA && version != FVersion) {
            FXSQLVARs.clear();
            std::free(FXSQLDA);
            FXSQLDA = nullptr;
            FSize = 0;
        }
        FVersion = version;
        const size_t header = offsetof(XSQLDA, sqlvar);
        const size_t entry = FVersion == SQLDA_VERSION2 ? sizeof(XSQLVAR_V2) : sizeof(XSQLVAR);
        const size_t oldLength = FXSQLDA ? header + size_t(FSize) * entry : 0;
        const size_t newLength = FVersion == SQLDA_VERSION1 ? size_t(XSQLDA_LENGTH(FCount)) : header + size_t(FCount) * entry;
        auto *area = static_cast<XSQLDA *>(std::realloc(FXSQLDA, newLength));
        if (!area)
            throw std::bad_alloc();
        std::memset(reinterpret_cast<char *>(area) + oldLength, 0, newLength - oldLength);
        FXSQLDA = area;
        FXSQLDA->version = ISC_SHORT(FVersion);
        for (int i = FSize; i < FCount; ++i)
            FXSQLVARs.push_back(std::make_unique<TIBXSQLVAR>(this, FSQL, i, FVersion));
        char *first = reinterpret_cast<char *>(FXSQLDA) + header;
        for (int i = 0; i < FCount; ++i)
            FXSQLVARs[size_t(i)]->FXSQLVAR->SetXSqlVar(first + size_t(i) * entry);
        FSize = FCount;
    }
    FXSQLDA->sqln = ISC_SHORT(Value);
    FXSQLDA->sqld = ISC_SHORT(Value);
}

TIBXSQLVAR &TIBXSQLDA::Vars(int Idx) const
{
    if (Idx < 0 || Idx >= FCount)
        RaiseClientError(ibxeXSQLDAIndexOutOfRange);
    return *FXSQLVARs[size_t(Idx)];
}

int TIBXSQLDA::IndexOfName(const QString &Name) const
{
    const QString n = Normalize(Name);
    for (int i = 0; i < FCount && i < FNames.size(); ++i)
        if (FNames[i] == n)
            return i;
    return -1;
}

TIBXSQLVAR *TIBXSQLDA::FindByName(const QString &Name) const
{
    const int i = IndexOfName(Name);
    return i < 0 ? nullptr : FXSQLVARs[size_t(i)].get();
}

TIBXSQLVAR &TIBXSQLDA::ByName(const QString &Name) const
{
    TIBXSQLVAR *v = FindByName(Name);
    if (!v)
        RaiseClientError(ibxeFieldNotFound, {Name});
    return *v;
}

void TIBXSQLDA::AddName(const QString &FieldName, int Idx)
{
    const QString n = Normalize(FieldName);
    while (FNames.size() <= Idx)
        FNames.append(QString());
    FNames[Idx] = n;
    if (Idx < int(FXSQLVARs.size())) {
        FXSQLVARs[size_t(Idx)]->FName = n;
        FXSQLVARs[size_t(Idx)]->FIndex = Idx;
    }
}

bool TIBXSQLDA::Modified() const
{
    for (int i = 0; i < FCount; ++i)
        if (FXSQLVARs[size_t(i)]->FModified)
            return true;
    return false;
}

int TIBXSQLDA::RecordSize() const
{
    int size = 0;
    for (int i = 0; i < FCount; ++i)
        size += FXSQLVARs[size_t(i)]->FXSQLVAR->SqlLen();
    return size;
}

void TIBXSQLDA::Initialize()
{
    if (!FXSQLDA)
        return;
    const bool names = FNames.isEmpty();
    bool tracking = true;
    for (int i = 0; i < FCount; ++i) {
        TIBXSQLVAR &v = *FXSQLVARs[size_t(i)];
        TSQLVAR &x = *v.FXSQLVAR;
        const QByteArray rel = x.GetRelName();
        if (tracking && !rel.isEmpty()) {
            const QString relName = QString::fromLocal8Bit(rel);
            if (FUniqueRelationName.isEmpty()) {
                FUniqueRelationName = relName;
            } else if (relName != FUniqueRelationName) {
                FUniqueRelationName.clear();
                tracking = false;
            }
        }
        if (names) {
            QByteArray alias = x.GetAliasName();
            QByteArray base;
            int counter;
            if (alias.isEmpty()) {
                base = "F_";
                counter = 1;
                alias = base + "1";
            } else {
                base = alias;
                counter = 0;
            }
            const int limit = x.NameLimit();
            const auto taken = [&](const QByteArray &a) {
                const QString n = Normalize(QString::fromLocal8Bit(a));
                for (int j = 0; j < i && j < FNames.size(); ++j)
                    if (FNames[j] == n)
                        return true;
                return false;
            };
            while (taken(alias)) {
                ++counter;
                const QByteArray digits = QByteArray::number(counter);
                if (alias.size() + digits.size() > limit - 1)
                    base.truncate(qMax(0, limit - 1 - int(digits.size())));
                alias = base + digits;
            }
            x.SetAliasName(alias);
            AddName(QString::fromLocal8Bit(alias), i);
        }
        // A fresh description: nothing has been assigned to it yet.
        v.FModified = false;
        const int type = x.SqlDef();
        v.FMaxLen = type == SQL_TEXT || type == SQL_VARYING ? x.SqlLen() : 0;
        switch (type) {
        case SQL_VARYING:
            x.SetDataSize(0, x.SqlLen() + 2);
            break;
        case SQL_TEXT: case SQL_DOUBLE: case SQL_FLOAT: case SQL_LONG: case SQL_SHORT: case SQL_TIMESTAMP:
        case SQL_BLOB: case SQL_D_FLOAT: case SQL_ARRAY: case SQL_QUAD: case SQL_TYPE_TIME: case SQL_TYPE_DATE:
        case SQL_INT64: case SQL_BOOLEAN_IB: case SQL_BOOLEAN_FB:
            x.SetDataSize(0, x.SqlLen() > 0 ? x.SqlLen() : 1);
            break;
        default:
            RaiseClientError(ibxeUnknownSQLDataType, {type});
        }
        if (x.SqlType() & 1)
            x.SetIndSize(0, 2);
        else if (x.SqlInd())
            x.SetIndSize(0, 0);
    }
}

// ===========================================================================
// TIBSQL

TIBSQL::TIBSQL(QObject *AOwner)
    : QObject(AOwner), FBase(this), FSQLParams(std::make_unique<TIBXSQLDA>(this)),
      FSQLRecord(std::make_unique<TIBXSQLDA>(this))
{
    FCursor = QUuid::createUuid().toString().toUpper().toLatin1();
    FSQL.SetOnChanging([this] {
        if (FOnSQLChanging)
            FOnSQLChanging(this);
    });
    FSQL.SetOnChange([this] { SQLChanged(); });
    FBase.BeforeDatabaseDisconnect = [this](TIBBase *) {
        if (FHandle) {
            InternalClose(true);
            InternalFree(true);
        }
    };
    FBase.BeforeTransactionEnd = [this](TIBBase *) {
        if (FOpen)
            InternalClose(true);
    };
    FBase.SetOwnerDatabase = [this](TIBDatabase *Db) { SetDatabase(Db); };
    if (auto *db = qobject_cast<TIBDatabase *>(AOwner))
        SetDatabase(db);
    else if (auto *tr = qobject_cast<TIBTransaction *>(AOwner))
        SetTransaction(tr);
}

TIBSQL::~TIBSQL()
{
    try {
        if (FOpen)
            InternalClose(false);
    } catch (...) {
    }
    try {
        if (FHandle)
            InternalFree(false);
    } catch (...) {
    }
}

void TIBSQL::SetDatabase(TIBDatabase *Value)
{
    if (Value == FBase.Database())
        return;
    if (FPrepared || FHandle)
        FreeHandle();
    FBase.SetDatabase(Value);
}

void TIBSQL::SetTransaction(TIBTransaction *Value)
{
    if (Value == FBase.Transaction())
        return;
    if (FPrepared || FHandle)
        FreeHandle();
    FBase.SetTransaction(Value);
}

void TIBSQL::SetSQL(const QStringList &Value)
{
    if (Value.join(QLatin1Char('\n')) != FSQL.Lines().join(QLatin1Char('\n')))
        FSQL.Assign(Value);
}

void TIBSQL::SQLChanged()
{
    if (FHandle)
        FreeHandle();
    FPrepared = false;
}

int TIBSQL::Dialect() const
{
    return FBase.Database() ? FBase.Database()->SQLDialect() : 3;
}

const TCodePage &TIBSQL::CodePage() const
{
    return TCodePage::Get(FBase.Database() ? FBase.Database()->CharacterSetCodePage() : CP_ACP);
}

IGDSLibrary &TIBSQL::Library() const
{
    FBase.CheckDatabase();
    return FBase.Database()->GDSLibrary();
}

ISC_STATUS TIBSQL::Call(ISC_STATUS ErrCode, bool RaiseError)
{
    if (FBase.Transaction())
        return FBase.Transaction()->Call(ErrCode, RaiseError);
    if (RaiseError && ErrCode > 0)
        RaiseStatusError(Library());
    return 0;
}

void TIBSQL::CheckClosed() const
{
    if (FOpen)
        RaiseClientError(ibxeSQLOpen);
}

void TIBSQL::CheckOpen() const
{
    if (!FOpen)
        RaiseClientError(ibxeSQLClosed);
}

void TIBSQL::CheckValidStatement() const
{
    FBase.CheckTransaction();
    if (!FHandle)
        RaiseClientError(ibxeInvalidStatementHandle);
}

void TIBSQL::PreprocessSQL()
{
    // Scans the text for parameter markers, outside strings, quoted names
    // and comments, and sends "?" in their place.
    enum { Normal, Comment, String, Param } state = Normal;
    const QString text = FSQL.Text();
    QString processed;
    processed.reserve(text.size());
    QStringList names;
    QChar quote;
    QString name;
    int generated = 0;
    const auto nameChar = [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'_' ||
               u == u'$';
    };
    const auto parseError = [](int inner) {
        RaiseClientError(ibxeSQLParseError, {IBClientErrorMessage(inner)});
    };
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text[i];
        const bool last = i == n - 1;
        switch (state) {
        case Normal:
            if (c == u'\'' || c == u'"') {
                quote = c;
                state = String;
                processed += c;
                if (last)
                    parseError(ibxeEOFInString);
            } else if (c == u':' || c == u'?') {
                processed += u'?';
                name.clear();
                state = Param;
                if (last) {
                    if (!FGenerateParamNames)
                        parseError(ibxeParamNameExpected);
                    names << QStringLiteral("IBParam%1").arg(generated++);
                }
            } else if (c == u'/' && !last && text[i + 1] == u'*') {
                processed += c;
                processed += text[i + 1];
                ++i;
                state = Comment;
                if (i == n - 1)
                    parseError(ibxeEOFInComment);
            } else {
                processed += c;
            }
            break;
        case Comment:
            processed += c;
            if (c == u'*' && !last && text[i + 1] == u'/') {
                processed += text[i + 1];
                ++i;
                state = Normal;
            } else if (last) {
                parseError(ibxeEOFInComment);
            }
            break;
        case String:
            processed += c;
            if (c == quote) {
                if (!last && text[i + 1] == quote) {
                    processed += text[i + 1];
                    ++i;
                    if (i == n - 1)
                        parseError(ibxeEOFInString);
                } else {
                    state = Normal;
                }
            } else if (last) {
                parseError(ibxeEOFInString);
            }
            break;
        case Param:
            if (name.isEmpty() && c == u'"') {
                // A quoted name runs to the next double quote; the quotes
                // are not part of it.
                const qsizetype end = text.indexOf(u'"', i + 1);
                const qsizetype stop = end < 0 ? n : end;
                names << text.mid(i + 1, stop - i - 1);
                i = stop;
                state = Normal;
            } else if (nameChar(c)) {
                name += c;
                if (last)
                    names << name;
            } else {
                if (name.isEmpty()) {
                    if (!FGenerateParamNames)
                        parseError(ibxeParamNameExpected);
                    names << QStringLiteral("IBParam%1").arg(generated++);
                } else {
                    names << name;
                }
                // The character after a name is copied as it is.
                processed += c;
                state = Normal;
            }
            break;
        }
        ++i;
    }
    FSQLParams->SetCount(int(names.size()));
    for (int p = 0; p < names.size(); ++p)
        FSQLParams->AddName(names[p], p);
    TStringList lines;
    lines.SetText(processed);
    FProcessedSQL = lines.Lines();
}

QByteArray TIBSQL::EncodedSQL() const
{
    QString text;
    for (const QString &line : FProcessedSQL) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    QByteArray bytes = CodePage().Encode(text);
    bytes += '\0';
    return bytes;
}

void TIBSQL::Prepare()
{
    CheckClosed();
    FBase.CheckDatabase();
    FBase.CheckTransaction();
    if (FPrepared)
        return;
    // Only text that is not there at all is refused here; blanks are the
    // server's to judge.
    if (FSQL.Count() == 0)
        RaiseClientError(ibxeEmptyQuery);
    if (FParamCheck)
        PreprocessSQL();
    else
        FProcessedSQL = FSQL.Lines();
    if (FProcessedSQL.isEmpty())
        RaiseClientError(ibxeEmptyQuery);

    IGDSLibrary &lib = Library();
    ISC_STATUS *status = ThreadStatusVector();
    try {
        Call(lib.isc_dsql_alloc_statement2(status, DBHandle(), &FHandle), true);
        const QByteArray sql = EncodedSQL();
        Call(lib.isc_dsql_prepare(status, TRHandle(), &FHandle, 0, sql.constData(),
                                  static_cast<unsigned short>(Dialect()), nullptr),
             true);
        char item = isc_info_sql_stmt_type;
        char reply[8] = {};
        Call(lib.isc_dsql_sql_info(status, &FHandle, 1, &item, sizeof reply, reply), true);
        if (reply[0] != isc_info_sql_stmt_type)
            RaiseClientError(ibxeUnknownError);
        const int length = int(lib.isc_vax_integer(reply + 1, 2));
        // A reply too short for the length it claims is not read past.
        if (length < 0 || length > 4 || 3 + length > int(sizeof reply))
            RaiseClientError(ibxeUnknownError);
        FSQLType = int(lib.isc_vax_integer(reply + 3, short(length)));
        switch (SQLType()) {
        case TIBSQLTypes::SQLGetSegment:
        case TIBSQLTypes::SQLPutSegment:
        case TIBSQLTypes::SQLStartTransaction:
            FreeHandle();
            RaiseClientError(ibxeNotPermitted);
        default:
            break;
        }
        if (FSQLType > 0 && FSQLType <= 13) {
            if (FSQLParams->AsXSQLDA()) {
                Call(lib.isc_dsql_describe_bind(status, &FHandle, static_cast<unsigned short>(Dialect()), FSQLParams->AsXSQLDA()),
                     true);
                FSQLParams->Initialize();
            }
            if (SQLType() == TIBSQLTypes::SQLSelect || SQLType() == TIBSQLTypes::SQLExecProcedure ||
                SQLType() == TIBSQLTypes::SQLSelectForUpdate) {
                FSQLRecord->SetCount(1);
                Call(lib.isc_dsql_describe(status, &FHandle, static_cast<unsigned short>(Dialect()), FSQLRecord->AsXSQLDA()), true);
                const int described = FSQLRecord->AsXSQLDA()->sqld;
                if (described > FSQLRecord->AsXSQLDA()->sqln) {
                    FSQLRecord->SetCount(described);
                    Call(lib.isc_dsql_describe(status, &FHandle, static_cast<unsigned short>(Dialect()), FSQLRecord->AsXSQLDA()),
                         true);
                } else if (described == 0) {
                    FSQLRecord->SetCount(0);
                }
                FSQLRecord->Initialize();
            }
        }
        FPrepared = true;
    } catch (...) {
        if (FHandle) {
            ISC_STATUS_ARRAY ignored;
            lib.isc_dsql_free_statement(ignored, &FHandle, DSQL_drop);
            FHandle = 0;
        }
        FPrepared = false;
        throw;
    }
}

void TIBSQL::ExecQuery()
{
    CheckClosed();
    if (!FPrepared)
        Prepare();
    CheckValidStatement();
    IGDSLibrary &lib = Library();
    ISC_STATUS *status = ThreadStatusVector();
    // A parameter never assigned since the statement was prepared goes as
    // NULL, never as whatever its buffer holds.
    for (int i = 0; i < FSQLParams->Count(); ++i) {
        TIBXSQLVAR &p = FSQLParams->Vars(i);
        if (!p.Modified())
            p.SetIsNull(true);
    }
    XSQLDA *in = FSQLParams->Count() > 0 ? FSQLParams->AsXSQLDA() : nullptr;
    const unsigned short dialect = static_cast<unsigned short>(Dialect());
    switch (SQLType()) {
    case TIBSQLTypes::SQLSelect:
        Call(lib.isc_dsql_execute2(status, TRHandle(), &FHandle, dialect, in, nullptr), true);
        Call(lib.isc_dsql_set_cursor_name(status, &FHandle, FCursor.constData(), 0), true);
        FOpen = true;
        FBOF = true;
        FEOF = false;
        FRecordCount = 0;
        if (FGoToFirstRecordOnExecute)
            Next();
        break;
    case TIBSQLTypes::SQLExecProcedure: {
        ISC_STATUS r = lib.isc_dsql_execute2(status, TRHandle(), &FHandle, dialect, in, FSQLRecord->AsXSQLDA());
        if (r == 335544485) {
            const QByteArray sql = EncodedSQL();
            ISC_STATUS_ARRAY ignored;
            lib.isc_dsql_prepare(ignored, TRHandle(), &FHandle, 0, sql.constData(), dialect, nullptr);
            Call(lib.isc_dsql_execute2(status, TRHandle(), &FHandle, dialect, in, FSQLRecord->AsXSQLDA()), true);
        } else if (r != 0) {
            Call(r, true);
        }
        break;
    }
    default:
        Call(lib.isc_dsql_execute(status, TRHandle(), &FHandle, dialect, in), true);
        break;
    }
}

TIBXSQLDA *TIBSQL::Next()
{
    if (FEOF)
        return nullptr;
    CheckOpen();
    IGDSLibrary &lib = Library();
    ISC_STATUS *status = ThreadStatusVector();
    const ISC_STATUS r = lib.isc_dsql_fetch(status, &FHandle, static_cast<unsigned short>(Dialect()), FSQLRecord->AsXSQLDA());
    if (r == 100 || StatusVectorContains({335544572})) {
        FEOF = true;
        return nullptr;
    }
    if (r > 0) {
        // The status goes with the close below: keep it for the error.
        ISC_STATUS_ARRAY saved;
        std::memcpy(saved, status, sizeof saved);
        try {
            InternalClose(true);
        } catch (...) {
        }
        std::memcpy(status, saved, sizeof saved);
        Call(r, true);
    }
    ++FRecordCount;
    FBOF = false;
    return FSQLRecord.get();
}

void TIBSQL::InternalClose(bool Force)
{
    try {
        TIBDatabase *db = FBase.Database();
        if (FHandle && SQLType() == TIBSQLTypes::SQLSelect && FOpen && db && db->Connected()) {
            IGDSLibrary &lib = db->GDSLibrary();
            ISC_STATUS *status = ThreadStatusVector();
            const ISC_STATUS r = lib.isc_dsql_free_statement(status, &FHandle, DSQL_close);
            if (status[0] == 1 && r > 0 && !StatusVectorContains({335544485, 335544577}) && Force) {
                if (r == isc_lost_db_connection)
                    db->Call(r, true);
                else
                    RaiseStatusError(lib);
            }
        }
    } catch (...) {
        FEOF = false;
        FBOF = false;
        FOpen = false;
        FRecordCount = 0;
        throw;
    }
    FEOF = false;
    FBOF = false;
    FOpen = false;
    FRecordCount = 0;
}

void TIBSQL::InternalFree(bool Force)
{
    try {
        TIBDatabase *db = FBase.Database();
        if (FHandle && db && db->Connected()) {
            IGDSLibrary &lib = db->GDSLibrary();
            ISC_STATUS *status = ThreadStatusVector();
            const ISC_STATUS r = lib.isc_dsql_free_statement(status, &FHandle, DSQL_drop);
            if (status[0] == 1 && r > 0 && r != 335544485 && r != isc_lost_db_connection && Force)
                RaiseStatusError(lib);
        }
    } catch (...) {
        FPrepared = false;
        FHandle = 0;
        throw;
    }
    FPrepared = false;
    FHandle = 0;
}

void TIBSQL::Close()
{
    InternalClose(true);
}

void TIBSQL::FreeHandle()
{
    InternalFree(true);
}

TIBXSQLVAR &TIBSQL::Fields(int Idx)
{
    if (Idx < 0 || Idx >= FSQLRecord->Count())
        RaiseClientError(ibxeFieldNotFound, {QString::number(Idx)});
    return FSQLRecord->Vars(Idx);
}

int TIBSQL::FieldIndex(const QString &FieldName) const
{
    return FSQLRecord->IndexOfName(FieldName);
}

TIBXSQLVAR &TIBSQL::FieldByName(const QString &FieldName)
{
    const int i = FieldIndex(FieldName);
    if (i < 0)
        RaiseClientError(ibxeFieldNotFound, {FieldName});
    return FSQLRecord->Vars(i);
}

TIBXSQLDA &TIBSQL::Params()
{
    if (!FPrepared) {
        TIBTransaction *tr = FBase.Transaction();
        const bool started = tr && !tr->Active();
        if (started)
            tr->StartTransaction();
        try {
            Prepare();
        } catch (...) {
            if (started && tr->Active())
                tr->Commit();
            throw;
        }
        if (started && tr->Active())
            tr->Commit();
    }
    return *FSQLParams;
}

TIBXSQLVAR &TIBSQL::ParamByName(const QString &Idx)
{
    if (!FPrepared)
        Prepare();
    return FSQLParams->ByName(Idx);
}

int32_t TIBSQL::RowsAffected()
{
    if (!FPrepared)
        return -1;
    IGDSLibrary &lib = Library();
    char item = isc_info_sql_records;
    char reply[1048] = {};
    Call(lib.isc_dsql_sql_info(ThreadStatusVector(), &FHandle, 1, &item, sizeof reply, reply), true);
    if (reply[0] != isc_info_sql_records)
        return -1;
    int32_t counts[4] = {0, 0, 0, 0}; // update, delete, select, insert
    // The counts follow as items: tag, 2-byte length, value.
    int pos = 3;
    while (pos + 3 <= int(sizeof reply) && reply[pos] != isc_info_end) {
        const char tag = reply[pos];
        const int len = int(lib.isc_vax_integer(reply + pos + 1, 2));
        if (len < 0 || len > 8 || pos + 3 + len > int(sizeof reply))
            break;
        const int32_t value = int32_t(lib.isc_vax_integer(reply + pos + 3, short(len)));
        switch (tag) {
        case isc_info_req_update_count: counts[0] = value; break;
        case isc_info_req_delete_count: counts[1] = value; break;
        case isc_info_req_select_count: counts[2] = value; break;
        case isc_info_req_insert_count: counts[3] = value; break;
        default: break;
        }
        pos += 3 + len;
    }
    switch (SQLType()) {
    case TIBSQLTypes::SQLInsert:
        return counts[3];
    case TIBSQLTypes::SQLUpdate:
        return counts[0];
    case TIBSQLTypes::SQLDelete:
        return counts[1];
    default:
        return -1;
    }
}

QString TIBSQL::Plan()
{
    if (!FPrepared)
        return QString();
    switch (SQLType()) {
    case TIBSQLTypes::SQLSelect:
    case TIBSQLTypes::SQLUpdate:
    case TIBSQLTypes::SQLDelete:
    case TIBSQLTypes::SQLSelectForUpdate:
        break;
    default:
        return QString();
    }
    IGDSLibrary &lib = Library();
    char item = isc_info_sql_get_plan;
    QByteArray reply(16384, '\0');
    Call(lib.isc_dsql_sql_info(ThreadStatusVector(), &FHandle, 1, &item, short(reply.size()), reply.data()), true);
    if (reply[0] != isc_info_sql_get_plan)
        throw EIBPlanError(ibxeUnknownPlan, IBClientErrorMessage(ibxeUnknownPlan));
    const int len = qBound(0, int(lib.isc_vax_integer(reply.constData() + 1, 2)), int(reply.size()) - 3);
    return QString::fromLocal8Bit(reply.constData() + 3, len).trimmed();
}

QString TIBSQL::UniqueRelationName() const
{
    if (FPrepared && SQLType() == TIBSQLTypes::SQLSelect)
        return FSQLRecord->UniqueRelationName();
    return QString();
}
