#include "IBCustomDataSet.h"

#include "IBDateTime.h"
#include "IBFirebird4.h"
#include "SysUtils.h"

#include <cmath>
#include <cstring>
#include <QTimeZone>

namespace {

// How a column's value goes into the row cache.
enum TKind {
    kText,      // decoded text
    kInt32,     // SQL_LONG or SQL_SHORT with scale 0
    kInt64,     // SQL_INT64 with scale 0
    kCurrency,  // scaled integers, four decimals
    kDouble,    // floating point, and scales below -4
    kRaw,       // dates, times and blob ids, as the server sent them
    kBoolean,
    kZoned,     // milliseconds since 1970 in UTC, then the offset in seconds
};

template <typename T>
T Get(const char *Data)
{
    T v;
    std::memcpy(&v, Data, sizeof v);
    return v;
}

int Align8(int N)
{
    return (N + 7) & ~7;
}

} // namespace

// ===========================================================================
// Fields

TField::TField(TIBCustomDataSet *DataSet, const TFieldDef &Def) : QObject(DataSet), FDataSet(DataSet), FDef(Def)
{
    setObjectName(Def.Name);
}

const char *TField::Data() const
{
    const char *row = FDataSet->CurrentBuffer();
    return row ? row + FOffset : nullptr;
}

bool TField::IsNull() const
{
    const char *row = FDataSet->CurrentBuffer();
    return !row || row[FNullIndex] != 0;
}

void TField::ConversionError(const char *Type) const
{
    throw EDatabaseError(QStringLiteral("O campo '%1' não pode ser lido como %2").arg(FDef.Name, QLatin1String(Type)));
}

int32_t TField::AsInteger() const
{
    ConversionError("Integer");
}

int64_t TField::AsLargeInt() const
{
    return AsInteger();
}

double TField::AsFloat() const
{
    ConversionError("Float");
}

int64_t TField::AsCurrency() const
{
    return int64_t(std::llround(AsFloat() * 10000.0));
}

QDateTime TField::AsDateTime() const
{
    ConversionError("DateTime");
}

bool TField::AsBoolean() const
{
    ConversionError("Boolean");
}

QVariant TField::Value() const
{
    return IsNull() ? QVariant() : QVariant(AsString());
}

QString TIBStringField::AsString() const
{
    if (IsNull())
        return QString();
    const char *d = Data();
    const uint16_t n = Get<uint16_t>(d);
    if (n > FDef.Size)
        RaiseClientError(117, {FieldName()});
    QString s(reinterpret_cast<const QChar *>(d + 2), n);
    // A CHAR column is filled with blanks to its size.
    if (FDef.FixedChar && s.size() < FDef.Size)
        s = s.leftJustified(FDef.Size, QLatin1Char(' '));
    return s;
}

int32_t TIBStringField::AsInteger() const
{
    return IsNull() ? 0 : StrToInt(AsString());
}

QDateTime TIBStringField::AsDateTime() const
{
    if (IsNull())
        return QDateTime();
    QString why;
    const QDateTime v = IBFirebird4::ParseText(AsString(), &why);
    if (v.isValid())
        return v;
    if (why.isEmpty())
        return TField::AsDateTime();
    throw EConvertError(QStringLiteral("campo %1: %2").arg(FieldName(), why));
}

double TIBStringField::AsFloat() const
{
    double v = 0;
    if (!IsNull() && !TryStrToFloat(AsString(), v))
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(AsString()));
    return v;
}

QString TIntegerField::AsString() const
{
    return IsNull() ? QString() : QString::number(AsInteger());
}

int32_t TIntegerField::AsInteger() const
{
    return IsNull() ? 0 : Get<int32_t>(Data());
}

QVariant TIntegerField::Value() const
{
    return IsNull() ? QVariant() : QVariant(AsInteger());
}

QString TLargeintField::AsString() const
{
    return IsNull() ? QString() : QString::number(AsLargeInt());
}

int64_t TLargeintField::AsLargeInt() const
{
    return IsNull() ? 0 : Get<int64_t>(Data());
}

int32_t TLargeintField::AsInteger() const
{
    const int64_t v = AsLargeInt();
    if (v < INT32_MIN || v > INT32_MAX)
        throw EConvertError(QStringLiteral("%1 is not a valid integer value").arg(v));
    return int32_t(v);
}

QVariant TLargeintField::Value() const
{
    return IsNull() ? QVariant() : QVariant(qlonglong(AsLargeInt()));
}

QString TFloatField::AsString() const
{
    return IsNull() ? QString() : FloatToStr(AsFloat());
}

double TFloatField::AsFloat() const
{
    return IsNull() ? 0.0 : Get<double>(Data());
}

int32_t TFloatField::AsInteger() const
{
    return int32_t(std::llround(AsFloat()));
}

QVariant TFloatField::Value() const
{
    return IsNull() ? QVariant() : QVariant(AsFloat());
}

int64_t TIBBCDField::AsCurrency() const
{
    return IsNull() ? 0 : Get<int64_t>(Data());
}

QString TIBBCDField::AsString() const
{
    return IsNull() ? QString() : CurrToStr(AsCurrency());
}

int32_t TIBBCDField::AsInteger() const
{
    return int32_t(AsCurrency() / 10000);
}

double TIBBCDField::AsFloat() const
{
    return double(AsCurrency()) / 10000.0;
}

QVariant TIBBCDField::Value() const
{
    return IsNull() ? QVariant() : QVariant(AsFloat());
}

// Held as UTC: the database's dates and times belong to no time zone.
QDateTime TDateTimeField::AsDateTime() const
{
    if (IsNull())
        return QDateTime();
    IGDSLibrary &lib = FDataSet->Database()->GDSLibrary();
    const char *d = Data();
    switch (FDef.DataType) {
    case TFieldType::ftDate:
        return QDateTime(DecodeSqlDate(lib, Get<ISC_DATE>(d)), QTime(0, 0), QTimeZone::utc());
    case TFieldType::ftTime:
        return QDateTime(ZeroDate(), DecodeSqlTime(lib, Get<ISC_TIME>(d)), QTimeZone::utc());
    default: {
        QDate date;
        QTime time;
        DecodeTimestamp(lib, Get<ISC_TIMESTAMP>(d), date, time);
        return QDateTime(date, time, QTimeZone::utc());
    }
    }
}

QString TDateTimeField::AsString() const
{
    return IsNull() ? QString() : DateTimeToStr(AsDateTime());
}

QVariant TDateTimeField::Value() const
{
    return IsNull() ? QVariant() : QVariant(AsDateTime());
}

QDateTime TSQLTimeStampOffsetField::AsDateTime() const
{
    if (IsNull())
        return QDateTime();
    const char *d = Data();
    return QDateTime::fromMSecsSinceEpoch(Get<qint64>(d), QTimeZone::utc()).toTimeZone(QTimeZone(Get<int32_t>(d + 8)));
}

QString TSQLTimeStampOffsetField::AsString() const
{
    return IsNull() ? QString() : IBFirebird4::ToText(AsDateTime(), FDef.Precision == 1);
}

QVariant TSQLTimeStampOffsetField::Value() const
{
    return IsNull() ? QVariant() : QVariant(AsDateTime());
}

QString TDateField::AsString() const
{
    return IsNull() ? QString() : DateToStr(AsDateTime().date());
}

QString TTimeField::AsString() const
{
    return IsNull() ? QString() : TimeToStr(AsDateTime().time());
}

QByteArray TBlobField::AsBytes() const
{
    if (IsNull())
        return QByteArray();
    TIBDatabase *db = FDataSet->Database();
    TIBTransaction *tr = FDataSet->Transaction();
    if (!db || !tr)
        RaiseClientError(ibxeDatabaseNotAssigned);
    return IBReadBlob(*db, *tr, Get<ISC_QUAD>(Data()));
}

QString TBlobField::AsString() const
{
    if (IsNull())
        return QString();
    return TCodePage::Get(FDataSet->Database()->CharacterSetCodePage()).Decode(AsBytes());
}

bool TBooleanField::AsBoolean() const
{
    return !IsNull() && Data()[0] != 0;
}

QString TBooleanField::AsString() const
{
    return IsNull() ? QString() : AsBoolean() ? QStringLiteral("True") : QStringLiteral("False");
}

QVariant TBooleanField::Value() const
{
    return IsNull() ? QVariant() : QVariant(AsBoolean());
}

// ===========================================================================
// TIBCustomDataSet

TIBCustomDataSet::TIBCustomDataSet(QObject *AOwner) : TDataSet(AOwner), FBase(this)
{
    FQSelect = new TIBSQL(this);
    FQDelete = new TIBSQL(this);
    FQInsert = new TIBSQL(this);
    FQModify = new TIBSQL(this);
    FQRefresh = new TIBSQL(this);
    for (TIBSQL *q : {FQSelect, FQDelete, FQInsert, FQModify, FQRefresh})
        q->SetGoToFirstRecordOnExecute(false);
    // The link's events reach the data set's own handlers with the data set
    // as the sender; the two "before" events first close what the ending
    // attachment or transaction carries.
    const auto forward = [this](const TLinkEvent &Handler) {
        return [this, &Handler](TIBBase *) {
            if (Handler)
                Handler(this);
        };
    };
    FBase.SetOwnerDatabase = [this](TIBDatabase *Db) { SetDatabase(Db); };
    FBase.BeforeDatabaseDisconnect = [this, then = forward(FBeforeDatabaseDisconnect)](TIBBase *Sender) {
        if (FOpen)
            InternalClose();
        InternalUnPrepare();
        then(Sender);
    };
    FBase.AfterDatabaseDisconnect = forward(FAfterDatabaseDisconnect);
    FBase.OnDatabaseFree = forward(FDatabaseFree);
    FBase.BeforeTransactionEnd = [this, then = forward(FBeforeTransactionEnd)](TIBBase *Sender) {
        if (FOpen)
            InternalClose();
        FreeStatementHandles();
        FInternalPrepared = false;
        then(Sender);
    };
    FBase.AfterTransactionEnd = forward(FAfterTransactionEnd);
    FBase.OnTransactionFree = forward(FTransactionFree);
}

TIBCustomDataSet::~TIBCustomDataSet()
{
    try {
        if (FOpen)
            InternalClose();
    } catch (...) {
    }
    DestroyFields();
}

// A new attachment or transaction: what the old one carried is closed and
// unprepared, then the link and every statement follow.
template <class T>
void TIBCustomDataSet::Relink(T *Value, void (TIBBase::*Link)(T *), void (TIBSQL::*Statement)(T *))
{
    if (FOpen)
        InternalClose();
    InternalUnPrepare();
    (FBase.*Link)(Value);
    for (TIBSQL *q : {FQSelect, FQDelete, FQInsert, FQModify, FQRefresh})
        (q->*Statement)(Value);
}

void TIBCustomDataSet::SetDatabase(TIBDatabase *Value)
{
    if (Value != FBase.Database())
        Relink(Value, &TIBBase::SetDatabase, &TIBSQL::SetDatabase);
}

void TIBCustomDataSet::SetTransaction(TIBTransaction *Value)
{
    if (Value != FBase.Transaction())
        Relink(Value, &TIBBase::SetTransaction, &TIBSQL::SetTransaction);
}

void TIBCustomDataSet::FreeStatementHandles()
{
    for (TIBSQL *q : {FQSelect, FQDelete, FQInsert, FQModify, FQRefresh})
        q->FreeHandle();
}

bool TIBCustomDataSet::ActivateConnection()
{
    if (!FBase.Database())
        RaiseClientError(ibxeDatabaseNotAssigned);
    if (!FBase.Transaction())
        RaiseClientError(ibxeTransactionNotAssigned);
    if (!FBase.Database()->Connected()) {
        FBase.Database()->Open();
        return true;
    }
    return false;
}

bool TIBCustomDataSet::ActivateTransaction()
{
    if (!FBase.Transaction())
        RaiseClientError(ibxeTransactionNotAssigned);
    if (!FBase.Transaction()->Active()) {
        FBase.Transaction()->AutoStartTransaction();
        return true;
    }
    return false;
}

void TIBCustomDataSet::InternalPrepare()
{
    if (FInternalPrepared)
        return;
    if (FQSelect->SQL().Text().trimmed().isEmpty())
        RaiseClientError(ibxeEmptySQLStatement);
    ActivateConnection();
    const bool started = ActivateTransaction();
    FBase.CheckDatabase();
    FBase.CheckTransaction();
    if (!FQSelect->Prepared()) {
        FQSelect->SetParamCheck(FParamCheck);
        FQSelect->Prepare();
    }
    FInternalPrepared = true;

    // Field definitions from the result columns.
    FFieldDefs.clear();
    TIBXSQLDA &columns = FQSelect->Current();
    const int dialect = FQSelect->Dialect();
    for (int i = 0; i < columns.Count(); ++i) {
        const TIBXSQLVAR &c = columns.Vars(i);
        const TSQLVAR &x = c.SqlVar();
        TFieldDef def;
        def.Name = QString::fromLocal8Bit(x.GetAliasName());
        def.FieldNo = i + 1;
        def.Scale = x.SqlScale();
        const int scale = x.SqlScale();
        const int precision = x.GetSqlPrecision();
        const auto bcdPrecision = [&] { return precision == -scale ? precision + 1 : precision; };
        const auto hasFloat = [&] {
            for (const TFieldDef &d : FFieldDefs)
                if (d.Name == def.Name && d.DataType == TFieldType::ftFloat)
                    return true;
            return false;
        };
        switch (x.SqlDef()) {
        // Firebird 4's zoned times, in the extended layout the statement
        // asked for. Precision 1 marks a time without its date.
        case SQL_TIME_TZ_EX:
        case SQL_TIMESTAMP_TZ_EX:
            def.DataType = TFieldType::ftTimeStampOffset;
            def.Size = 16;
            def.Precision = x.SqlDef() == SQL_TIME_TZ_EX ? 1 : 0;
            def.Scale = 0;
            break;
        case SQL_VARYING:
        case SQL_TEXT:
            def.DataType = TFieldType::ftWideString;
            def.Size = x.SqlLen() / c.CharSetSize();
            def.FixedChar = x.SqlDef() == SQL_TEXT;
            break;
        case SQL_DOUBLE:
        case SQL_FLOAT:
            def.DataType = TFieldType::ftFloat;
            break;
        case SQL_LONG:
        case SQL_SHORT:
            if (scale == 0) {
                def.DataType = x.SqlDef() == SQL_LONG ? TFieldType::ftInteger : TFieldType::ftSmallint;
            } else if (scale >= -4 || x.SqlDef() == SQL_SHORT) {
                def.DataType = TFieldType::ftBCD;
                def.Size = -scale;
                def.Precision = bcdPrecision();
            } else if (dialect == 1 || hasFloat()) {
                def.DataType = TFieldType::ftFloat;
            } else {
                def.DataType = TFieldType::ftFMTBcd;
                def.Size = -scale;
                def.Precision = bcdPrecision();
            }
            break;
        case SQL_INT64:
            if (scale == 0) {
                def.DataType = TFieldType::ftLargeint;
            } else if (scale >= -4) {
                def.DataType = TFieldType::ftBCD;
                def.Size = -scale;
                def.Precision = precision;
            } else if (hasFloat()) {
                def.DataType = TFieldType::ftFloat;
            } else {
                def.DataType = TFieldType::ftFMTBcd;
                def.Size = -scale;
                def.Precision = bcdPrecision();
            }
            break;
        case SQL_TIMESTAMP:
            def.DataType = TFieldType::ftDateTime;
            break;
        case SQL_TYPE_DATE:
            def.DataType = TFieldType::ftDate;
            break;
        case SQL_TYPE_TIME:
            def.DataType = TFieldType::ftTime;
            break;
        case SQL_BLOB:
            def.DataType = x.GetSqlSubtype() == 1 ? TFieldType::ftWideMemo : TFieldType::ftBlob;
            def.Size = 8;
            break;
        case SQL_BOOLEAN_IB:
        case SQL_BOOLEAN_FB:
            def.DataType = TFieldType::ftBoolean;
            break;
        default:
            continue; // not visible through the data set
        }
        const QByteArray rel = x.GetRelName();
        def.Required = !(x.SqlType() & 1) && !rel.trimmed().isEmpty();
        if (!rel.isEmpty() && !x.GetSqlName().isEmpty())
            def.Origin = QString::fromLocal8Bit(rel + '.' + x.GetSqlName());
        FFieldDefs.append(def);
    }
    if (started)
        FBase.Transaction()->CheckAutoStop();
}

void TIBCustomDataSet::InternalUnPrepare()
{
    FInternalPrepared = false;
    FFieldDefs.clear();
}

void TIBCustomDataSet::CreateFields()
{
    DestroyFields();
    int nulls = 0;
    int offset = Align8(int(FFieldDefs.size()));
    for (const TFieldDef &def : FFieldDefs) {
        TField *f = nullptr;
        switch (def.DataType) {
        case TFieldType::ftWideString: f = new TIBStringField(this, def); break;
        case TFieldType::ftFloat: f = new TFloatField(this, def); break;
        case TFieldType::ftInteger: f = new TIntegerField(this, def); break;
        case TFieldType::ftSmallint: f = new TSmallintField(this, def); break;
        case TFieldType::ftLargeint: f = new TLargeintField(this, def); break;
        case TFieldType::ftBCD: f = new TIBBCDField(this, def); break;
        case TFieldType::ftFMTBcd: f = new TFMTBCDField(this, def); break;
        case TFieldType::ftDateTime: f = new TDateTimeField(this, def); break;
        case TFieldType::ftDate: f = new TDateField(this, def); break;
        case TFieldType::ftTime: f = new TTimeField(this, def); break;
        case TFieldType::ftWideMemo: f = new TWideMemoField(this, def); break;
        case TFieldType::ftBlob: f = new TBlobField(this, def); break;
        case TFieldType::ftBoolean: f = new TBooleanField(this, def); break;
        case TFieldType::ftTimeStampOffset: f = new TSQLTimeStampOffsetField(this, def); break;
        case TFieldType::ftUnknown: continue;
        }
        f->SetOffset(offset, nulls++);
        offset += Align8(f->DataSize());
        FFields.append(f);
    }
    FRecordSize = qMax(8, offset);

    FPlan.clear();
    for (TField *f : FFields) {
        int kind = kRaw;
        switch (f->DataType()) {
        case TFieldType::ftWideString: kind = kText; break;
        case TFieldType::ftInteger:
        case TFieldType::ftSmallint: kind = kInt32; break;
        case TFieldType::ftLargeint: kind = kInt64; break;
        case TFieldType::ftBCD: kind = kCurrency; break;
        case TFieldType::ftFloat:
        case TFieldType::ftFMTBcd: kind = kDouble; break;
        case TFieldType::ftBoolean: kind = kBoolean; break;
        case TFieldType::ftTimeStampOffset: kind = kZoned; break;
        default: kind = kRaw; break;
        }
        FPlan.push_back({f, f->FieldNo() - 1, kind});
    }
}

void TIBCustomDataSet::DestroyFields()
{
    qDeleteAll(FFields);
    FFields.clear();
    FPlan.clear();
}

const char *TIBCustomDataSet::CurrentBuffer() const
{
    if (!FOpen || FCurrentRecord < 0 || FCurrentRecord >= FRecordCount)
        return nullptr;
    const size_t chunk = size_t(FCurrentRecord / FBufferChunks);
    const size_t slot = size_t(FCurrentRecord % FBufferChunks);
    return FChunks[chunk].get() + slot * size_t(FRecordSize);
}

bool TIBCustomDataSet::FetchRecord()
{
    if (!FQSelect->Next())
        return false;
    const size_t chunk = size_t(FRecordCount / FBufferChunks);
    if (chunk >= FChunks.size())
        FChunks.push_back(std::make_unique<char[]>(size_t(FBufferChunks) * size_t(FRecordSize)));
    char *row = FChunks[chunk].get() + size_t(FRecordCount % FBufferChunks) * size_t(FRecordSize);
    std::memset(row, 0, size_t(FRecordSize));
    TIBXSQLDA &columns = FQSelect->Current();
    const TCodePage &page = FQSelect->CodePage();
    for (const TFetchPlan &p : FPlan) {
        const TIBXSQLVAR &c = columns.Vars(p.Column);
        char *slot = row + p.Field->Offset();
        if (c.IsNull()) {
            row[p.Field->NullIndex()] = 1;
            continue;
        }
        const TSQLVAR &x = c.SqlVar();
        const char *d = x.SqlData();
        switch (p.Kind) {
        case kText: {
            QString s;
            if (x.SqlDef() == SQL_VARYING) {
                const uint16_t n = Get<uint16_t>(d);
                s = page.Decode(d + 2, qMin<int>(n, x.SqlLen()));
            } else {
                s = c.AsString();
            }
            // At most the field's size is kept; a longer value keeps its
            // length, so that reading it (not fetching it) fails.
            const uint16_t n = uint16_t(qMin<qsizetype>(s.size(), 0xFFFF));
            std::memcpy(slot, &n, 2);
            std::memcpy(slot + 2, s.constData(), size_t(qMin<int>(n, p.Field->Size())) * 2);
            break;
        }
        case kInt32: {
            const int32_t v = x.SqlDef() == SQL_SHORT ? int32_t(Get<int16_t>(d)) : Get<int32_t>(d);
            std::memcpy(slot, &v, 4);
            break;
        }
        case kInt64:
            std::memcpy(slot, d, 8);
            break;
        case kCurrency: {
            const int64_t v = c.AsCurrency();
            std::memcpy(slot, &v, 8);
            break;
        }
        case kDouble: {
            const double v = c.AsDouble();
            std::memcpy(slot, &v, 8);
            break;
        }
        case kBoolean:
            slot[0] = c.AsBoolean() ? 1 : 0;
            break;
        case kZoned: {
            const QDateTime v = c.AsDateTime();
            const qint64 ms = v.toMSecsSinceEpoch();
            const int32_t offset = v.offsetFromUtc();
            std::memcpy(slot, &ms, 8);
            std::memcpy(slot + 8, &offset, 4);
            break;
        }
        default:
            std::memcpy(slot, d, size_t(qMin(8, x.SqlLen())));
            break;
        }
    }
    ++FRecordCount;
    return true;
}

void TIBCustomDataSet::SetActive(bool Value)
{
    if (Value == FOpen)
        return;
    if (Value) {
        try {
            InternalOpen();
        } catch (...) {
            // A failed open leaves the data set closed.
            try {
                if (FOpen)
                    InternalClose();
                else
                    FQSelect->Close();
            } catch (...) {
            }
            ResetRows();
            throw;
        }
    } else {
        InternalClose();
    }
}

void TIBCustomDataSet::PrepareToRun()
{
    ActivateConnection();
    ActivateTransaction();
    if (FQSelect->SQL().Text().trimmed().isEmpty())
        RaiseClientError(ibxeEmptyQuery);
    if (!FInternalPrepared)
        InternalPrepare();
}

void TIBCustomDataSet::InternalOpen()
{
    PrepareToRun();
    ResetRows();
    if (FQSelect->SQLType() == TIBSQLTypes::SQLSelect) {
        CreateFields();
        FQSelect->ExecQuery();
        FOpen = true;
        FStmtRowsAffected = FQSelect->RowsAffected();
        First();
    } else {
        // Not a SELECT: executed once; the data set has no rows.
        DestroyFields();
        FQSelect->ExecQuery();
        FStmtRowsAffected = FQSelect->RowsAffected();
        FOpen = true;
        FEof = true;
    }
}

void TIBCustomDataSet::InternalClose()
{
    if (FBase.Transaction())
        FBase.Transaction()->CheckAutoStop();
    try {
        FQSelect->Close();
    } catch (...) {
        ResetRows();
        throw;
    }
    ResetRows();
}

void TIBCustomDataSet::ResetRows()
{
    FOpen = false;
    FChunks.clear();
    FRecordCount = 0;
    FCurrentRecord = -1;
    FEof = false;
    DestroyFields();
}

void TIBCustomDataSet::First()
{
    if (!FOpen)
        return;
    if (FRecordCount == 0 && !FetchRecord()) {
        FCurrentRecord = -1;
        FEof = true;
        return;
    }
    FCurrentRecord = 0;
    FEof = false;
}

void TIBCustomDataSet::Next()
{
    if (!FOpen || FEof)
        return;
    if (FCurrentRecord + 1 < FRecordCount || FetchRecord()) {
        ++FCurrentRecord;
        return;
    }
    FEof = true;
}

TField *TIBCustomDataSet::FindField(const QString &Name) const
{
    for (TField *f : FFields)
        if (f->FieldName().compare(Name, Qt::CaseInsensitive) == 0)
            return f;
    return nullptr;
}

TField &TIBCustomDataSet::FieldByName(const QString &Name) const
{
    TField *f = FindField(Name);
    if (!f)
        throw EDatabaseError(QStringLiteral("%1: Campo %2 não encontrado").arg(objectName(), Name));
    return *f;
}
