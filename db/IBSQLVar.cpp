#include "IBSQLVar.h"

#include "IBDateTime.h"
#include "IBFirebird4.h"
#include "IBXSQLDA.h"

#include "SysUtils.h"

#include <QTimeZone>
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

} // namespace

// ===========================================================================
// TIBXSQLVAR

TIBXSQLVAR::TIBXSQLVAR(TIBXSQLDA *Parent, TIBValueContext *Context, int Index, int Version)
    : FParent(Parent), FSQL(Context), FIndex(Index)
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

QString TIBXSQLVAR::ReadBlob() const
{
    ISC_QUAD id;
    std::memcpy(&id, FXSQLVAR->SqlData(), sizeof id);
    return CodePage().Decode(FSQL->ReadBlob(id));
}

ISC_QUAD TIBXSQLVAR::WriteBlob(const QByteArray &Bytes) const
{
    return FSQL->WriteBlob(Bytes);
}

QString TIBXSQLVAR::AsString() const
{
    if (IsNull())
        return QString();
    if (Zoned())
        return IBFirebird4::ToText(ZonedValue(), IBFirebird4::IsTimeOnly(FDescribed));
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

bool TIBXSQLVAR::Zoned() const
{
    return IBFirebird4::IsZoned(FDescribed);
}

QDateTime TIBXSQLVAR::ZonedValue() const
{
    const TSQLVAR &x = *FXSQLVAR;
    const char *d = x.SqlData();
    switch (x.SqlDef()) {
    case SQL_TIME_TZ_EX:
    case SQL_TIMESTAMP_TZ_EX:
        return IBFirebird4::DecodeExtended(FSQL->Library(), x.SqlDef(), d);
    default:
        ConversionError();
    }
}

bool TIBXSQLVAR::DecodeDateTime(QDate &Date, QTime &Time) const
{
    if (Zoned()) {
        // The wall date and time at the value's own offset.
        const QDateTime z = ZonedValue();
        Date = z.date();
        Time = z.time();
        return true;
    }
    const TSQLVAR &x = *FXSQLVAR;
    IGDSLibrary &lib = FSQL->Library();
    switch (x.SqlDef()) {
    case SQL_TIMESTAMP: {
        ISC_TIMESTAMP ts;
        std::memcpy(&ts, x.SqlData(), sizeof ts);
        DecodeTimestamp(lib, ts, Date, Time);
        return true;
    }
    case SQL_TYPE_DATE: {
        ISC_DATE date;
        std::memcpy(&date, x.SqlData(), sizeof date);
        Date = DecodeSqlDate(lib, date);
        Time = QTime(0, 0);
        return true;
    }
    case SQL_TYPE_TIME: {
        ISC_TIME time;
        std::memcpy(&time, x.SqlData(), sizeof time);
        Date = ZeroDate();
        Time = DecodeSqlTime(lib, time);
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
    if (Zoned())
        return ZonedValue();
    QDate date;
    QTime time;
    // The database's dates and times belong to no time zone: held as UTC,
    // every one of them exists, daylight-saving gaps included.
    if (DecodeDateTime(date, time))
        return QDateTime(date, time, QTimeZone::utc());
    switch (FXSQLVAR->SqlDef()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        // Firebird 4's zoned times, as text for Firebird 3's client: the
        // zone is part of the value (the plain parse would drop it).
        const QString text = AsString();
        QString why;
        QDateTime v = IBFirebird4::ParseText(text, &why);
        if (v.isValid())
            return v;
        if (!why.isEmpty())
            throw EIBClientError(ibxeInvalidDataConversion, IBClientErrorMessage(ibxeInvalidDataConversion) +
                                                                QStringLiteral(": coluna %1: %2").arg(FName, why));
        if (!TryStrToDateTime(text, v))
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
    if (Zoned())
        return ZonedValue();
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
    // A zoned parameter takes the moment with its offset, as text the server
    // reads back exactly.
    if (Zoned()) {
        SetAsString(IBFirebird4::ServerText(Value, IBFirebird4::IsTimeOnly(FDescribed)));
        return;
    }
    const ISC_TIMESTAMP ts = EncodeTimestamp(FSQL->Library(), Value.date(), Value.time());
    Assign(SQL_TIMESTAMP, int(sizeof ts), 0, true, &ts);
}

void TIBXSQLVAR::SetAsDate(const QDate &Value)
{
    if (Dialect() < 3) {
        SetAsDateTime(QDateTime(Value, QTime(0, 0), QTimeZone::utc()));
        return;
    }
    if (!Value.isValid()) {
        SetIsNull(true);
        return;
    }
    const ISC_DATE date = EncodeSqlDate(FSQL->Library(), Value);
    Assign(SQL_TYPE_DATE, int(sizeof date), 0, true, &date);
}

void TIBXSQLVAR::SetAsTime(const QTime &Value)
{
    if (Dialect() < 3) {
        SetAsDateTime(QDateTime(ZeroDate(), Value, QTimeZone::utc()));
        return;
    }
    if (!Value.isValid()) {
        SetIsNull(true);
        return;
    }
    const ISC_TIME time = EncodeSqlTime(FSQL->Library(), Value);
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

