#pragma once

// One entry of a descriptor area: typed access to its value, with the
// conversions between the column's type and the program's.

#include "Classes.h"
#include "IBIntf.h"
#include "IBSQLVarRecord.h"
#include "SysUtils.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

class TIBXSQLDA;
class TCodePage;

// What the values and areas of a statement need of it: its dialect, its
// connection's code page and client library, and its blobs. The statement
// (TIBSQL) provides it; values and areas know nothing else of it.
class TIBValueContext {
public:
    virtual int Dialect() const = 0;
    virtual const TCodePage &CodePage() const = 0;
    virtual IGDSLibrary &Library() const = 0;
    // The client library's version; 0 while there is no connection.
    virtual int ClientVersion() const = 0;
    virtual QByteArray ReadBlob(const ISC_QUAD &Id) = 0;
    virtual ISC_QUAD WriteBlob(const QByteArray &Bytes) = 0;

protected:
    ~TIBValueContext() = default;
};

// One entry of a descriptor area: typed access to its value.
class TIBXSQLVAR {
public:
    TIBXSQLVAR(TIBXSQLDA *Parent, TIBValueContext *Context, int Index, int Version);

    bool AsBoolean() const;
    void SetAsBoolean(bool Value);
    QDate AsDate() const;
    void SetAsDate(const QDate &Value);
    QTime AsTime() const;
    void SetAsTime(const QTime &Value);
    QDateTime AsDateTime() const;
    void SetAsDateTime(const QDateTime &Value);
    double AsDouble() const;
    void SetAsDouble(double Value);
    float AsFloat() const;
    void SetAsFloat(float Value);
    // Ten-thousandths.
    int64_t AsCurrency() const;
    void SetAsCurrency(int64_t Value);
    int64_t AsInt64() const;
    void SetAsInt64(int64_t Value);
    int32_t AsInteger() const;
    void SetAsInteger(int32_t Value);
    int32_t AsLong() const { return AsInteger(); }
    void SetAsLong(int32_t Value) { SetAsInteger(Value); }
    int16_t AsShort() const;
    void SetAsShort(int16_t Value);
    ISC_QUAD AsQuad() const;
    void SetAsQuad(const ISC_QUAD &Value);
    QString AsString() const;
    void SetAsString(const QString &Value);
    QString AsTrimString() const;
    QVariant AsVariant() const;
    void SetAsVariant(const QVariant &Value);
    QVariant Value() const { return AsVariant(); }
    void SetValue(const QVariant &Value) { SetAsVariant(Value); }

    bool IsNull() const;
    void SetIsNull(bool Value);
    bool IsNullable() const { return (FXSQLVAR->SqlType() & 1) != 0; }
    void Clear() { SetIsNull(true); }

    TSQLVAR &SqlVar() const { return *FXSQLVAR; }
    char *Data() const { return FXSQLVAR->SqlData(); }
    int Index() const { return FIndex; }
    bool Modified() const { return FModified; }
    void SetModified(bool Value) { FModified = Value; }
    const QString &Name() const { return FName; }
    int Size() const { return FXSQLVAR->SqlLen(); }
    int SQLType() const { return FXSQLVAR->SqlDef(); }
    int CharSetSize() const;
    int MaxLen() const { return FMaxLen; }
    // The type the server described the value with (without the null
    // flag), where the layer asked for another one (Firebird 4's types).
    int DescribedType() const { return FDescribed; }

private:
    friend class TIBXSQLDA;
    int Dialect() const;
    const TCodePage &CodePage() const;
    [[noreturn]] static void ConversionError();
    // The entries of the area with this entry's name.
    std::vector<TIBXSQLVAR *> SameName() const;
    // Clears the null state, then rewrites every entry of this name.
    void Assign(int Type, int Length, int Scale, bool KeepScale, const void *Bytes);
    void Rewrite(TIBXSQLVAR *Entry, int Type, int Length, int Scale, bool KeepScale, const void *Bytes);
    int64_t ScaledValue() const;
    // The value of a date or time column as a date and a time of day.
    bool DecodeDateTime(QDate &Date, QTime &Time) const;
    QString ReadBlob() const;
    ISC_QUAD WriteBlob(const QByteArray &Bytes) const;
    // Text encoded for the entries, and the text itself for keys.
    void AssignText(const QString &Text, const QByteArray &Encoded);

    TIBXSQLDA *FParent;
    TIBValueContext *FSQL;
    int FIndex;
    bool FModified = false;
    QString FName;
    std::unique_ptr<TSQLVAR> FXSQLVAR;
    int FMaxLen = 0;
    int FDescribed = 0;
    // A TIME or TIMESTAMP WITH TIME ZONE at its offset; throws, naming the
    // column and its type, when it cannot be told exactly.
    QDateTime ZonedValue() const;
    bool Zoned() const;
};
