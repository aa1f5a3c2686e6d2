#pragma once

// The data set over one statement: fields typed from the result columns, a
// row cache that grows in steps, and the reactions to the end of the
// transaction and the close of the connection.

#include "DB.h"
#include "IBDatabase.h"
#include "IBSQL.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TIBCustomDataSet;

enum class TFieldType {
    ftUnknown,
    ftWideString,
    ftFloat,
    ftInteger,
    ftBCD,
    ftFMTBcd,
    ftSmallint,
    ftLargeint,
    ftDateTime,
    ftDate,
    ftTime,
    ftWideMemo,
    ftBlob,
    ftBoolean,
    ftTimeStampOffset, // TIME and TIMESTAMP WITH TIME ZONE: a moment at its offset
};

struct TFieldDef {
    QString Name;
    TFieldType DataType = TFieldType::ftUnknown;
    int Size = 0;
    int Precision = 0;
    bool Required = false;
    bool FixedChar = false;
    int FieldNo = 0; // 1-based position of the column in the result
    int Scale = 0;
    QString Origin; // table.column
};

// One column of the current row.
class TField : public QObject {
    Q_OBJECT
public:
    TField(TIBCustomDataSet *DataSet, const TFieldDef &Def);

    const QString &FieldName() const { return FDef.Name; }
    TFieldType DataType() const { return FDef.DataType; }
    int Size() const { return FDef.Size; }
    bool Required() const { return FDef.Required; }
    bool FixedChar() const { return FDef.FixedChar; }
    int FieldNo() const { return FDef.FieldNo; }
    const QString &Origin() const { return FDef.Origin; }
    const TFieldDef &Def() const { return FDef; }

    bool IsNull() const;
    virtual QString AsString() const = 0;
    virtual int32_t AsInteger() const;
    virtual int64_t AsLargeInt() const;
    virtual double AsFloat() const;
    virtual int64_t AsCurrency() const;
    virtual QDateTime AsDateTime() const;
    virtual bool AsBoolean() const;
    virtual QVariant Value() const;

    // Where the field's value lies in a record, and how many bytes it takes.
    int Offset() const { return FOffset; }
    virtual int DataSize() const { return 8; }
    void SetOffset(int Offset, int NullIndex)
    {
        FOffset = Offset;
        FNullIndex = NullIndex;
    }
    int NullIndex() const { return FNullIndex; }

protected:
    // The value's bytes in the current row; null without one.
    const char *Data() const;
    [[noreturn]] void ConversionError(const char *Type) const;

    TIBCustomDataSet *FDataSet;
    TFieldDef FDef;
    int FOffset = 0;
    int FNullIndex = 0;
};

class TIBStringField : public TField {
    Q_OBJECT
public:
    using TField::TField;
    QString AsString() const override;
    int32_t AsInteger() const override;
    double AsFloat() const override;
    // Firebird 4's zoned times, which come as text to Firebird 3's client
    // library: at their offset, or an error naming the field.
    QDateTime AsDateTime() const override;
    int DataSize() const override { return 2 + 2 * FDef.Size; }
};

class TIntegerField : public TField {
    Q_OBJECT
public:
    using TField::TField;
    QString AsString() const override;
    int32_t AsInteger() const override;
    int64_t AsLargeInt() const override { return AsInteger(); }
    double AsFloat() const override { return AsInteger(); }
    QVariant Value() const override;
};

class TSmallintField : public TIntegerField {
    Q_OBJECT
public:
    using TIntegerField::TIntegerField;
};

class TLargeintField : public TField {
    Q_OBJECT
public:
    using TField::TField;
    QString AsString() const override;
    int32_t AsInteger() const override;
    int64_t AsLargeInt() const override;
    double AsFloat() const override { return double(AsLargeInt()); }
    QVariant Value() const override;
};

class TFloatField : public TField {
    Q_OBJECT
public:
    using TField::TField;
    QString AsString() const override;
    int32_t AsInteger() const override;
    double AsFloat() const override;
    QVariant Value() const override;
};

// Fixed point with four decimals, held as ten-thousandths.
class TIBBCDField : public TField {
    Q_OBJECT
public:
    using TField::TField;
    QString AsString() const override;
    int32_t AsInteger() const override;
    double AsFloat() const override;
    int64_t AsCurrency() const override;
    QVariant Value() const override;
};

class TFMTBCDField : public TFloatField {
    Q_OBJECT
public:
    using TFloatField::TFloatField;
};

class TDateTimeField : public TField {
    Q_OBJECT
public:
    using TField::TField;
    QString AsString() const override;
    QDateTime AsDateTime() const override;
    QVariant Value() const override;
};

class TDateField : public TDateTimeField {
    Q_OBJECT
public:
    using TDateTimeField::TDateTimeField;
    QString AsString() const override;
};

class TTimeField : public TDateTimeField {
    Q_OBJECT
public:
    using TDateTimeField::TDateTimeField;
    QString AsString() const override;
};

// A moment with the offset it was written at (Firebird 4's TIME and
// TIMESTAMP WITH TIME ZONE; a time on the day the server reckons it on).
class TSQLTimeStampOffsetField : public TField {
    Q_OBJECT
public:
    using TField::TField;
    QString AsString() const override;
    QDateTime AsDateTime() const override;
    QVariant Value() const override;
    int DataSize() const override { return 16; }
};

// Blob columns hold the blob's id in the row; the content is read when
// asked for, in the data set's transaction.
class TBlobField : public TField {
    Q_OBJECT
public:
    using TField::TField;
    QString AsString() const override;
    QByteArray AsBytes() const;
};

class TWideMemoField : public TBlobField {
    Q_OBJECT
public:
    using TBlobField::TBlobField;
};

class TBooleanField : public TField {
    Q_OBJECT
public:
    using TField::TField;
    QString AsString() const override;
    bool AsBoolean() const override;
    int32_t AsInteger() const override { return AsBoolean() ? 1 : 0; }
    QVariant Value() const override;
};

class TIBCustomDataSet : public TDataSet {
    Q_OBJECT
public:
    using TLinkEvent = std::function<void(QObject *Sender)>;

    explicit TIBCustomDataSet(QObject *AOwner = nullptr);
    ~TIBCustomDataSet() override;

    TIBDatabase *Database() const { return FBase.Database(); }
    void SetDatabase(TIBDatabase *Value);
    TIBTransaction *Transaction() const { return FBase.Transaction(); }
    void SetTransaction(TIBTransaction *Value);
    int BufferChunks() const { return FBufferChunks; }
    void SetBufferChunks(int Value) { FBufferChunks = Value < 1 ? 1000 : Value; }
    bool CachedUpdates() const { return FCachedUpdates; }
    void SetCachedUpdates(bool Value) { FCachedUpdates = Value; }
    bool UniDirectional() const { return FUniDirectional; }
    void SetUniDirectional(bool Value) { FUniDirectional = Value; }

    bool Active() const override { return FOpen; }
    void SetActive(bool Value);
    void Open() { SetActive(true); }
    void Close() override { SetActive(false); }

    bool IsEmpty() const { return !FOpen || FRecordCount == 0; }
    bool Eof() const { return FEof; }
    bool Bof() const { return FCurrentRecord <= 0; }
    void First();
    void Next();
    // Rows fetched into the cache so far.
    int RecordCount() const { return FRecordCount; }
    int CurrentRecord() const { return FCurrentRecord; }

    int FieldCount() const { return int(FFields.size()); }
    TField *Fields(int Index) const { return FFields[Index]; }
    TField *FindField(const QString &Name) const;
    // The field of that name, ignoring case; EDatabaseError when none has it.
    TField &FieldByName(const QString &Name) const;
    const QList<TFieldDef> &FieldDefs() const { return FFieldDefs; }

    TIBSQL *QSelect() const { return FQSelect; }
    TIBBase &Base() { return FBase; }
    bool InternalPrepared() const { return FInternalPrepared; }
    // Bytes the row cache holds.
    qint64 CacheSize() const { return qint64(FChunks.size()) * FBufferChunks * FRecordSize; }

    void SetBeforeDatabaseDisconnect(TLinkEvent Value) { FBeforeDatabaseDisconnect = std::move(Value); }
    void SetAfterDatabaseDisconnect(TLinkEvent Value) { FAfterDatabaseDisconnect = std::move(Value); }
    void SetDatabaseFree(TLinkEvent Value) { FDatabaseFree = std::move(Value); }
    void SetBeforeTransactionEnd(TLinkEvent Value) { FBeforeTransactionEnd = std::move(Value); }
    void SetAfterTransactionEnd(TLinkEvent Value) { FAfterTransactionEnd = std::move(Value); }
    void SetTransactionFree(TLinkEvent Value) { FTransactionFree = std::move(Value); }

    // The current row's bytes; null before the first or after the last.
    const char *CurrentBuffer() const;

protected:
    // Connection opened and transaction started as needed; true when this
    // call started the transaction.
    bool ActivateConnection();
    bool ActivateTransaction();
    void InternalPrepare();
    void InternalUnPrepare();
    // Connection and transaction active, and the statement, which must not
    // be empty, prepared: what opening and executing begin with.
    void PrepareToRun();
    virtual void InternalOpen();
    virtual void InternalClose();
    void CreateFields();
    void DestroyFields();
    // Closed, with no rows, no cache and no fields.
    void ResetRows();
    bool FetchRecord();
    void FreeStatementHandles();

    TIBBase FBase;
    TIBSQL *FQSelect;
    TIBSQL *FQDelete;
    TIBSQL *FQInsert;
    TIBSQL *FQModify;
    TIBSQL *FQRefresh;
    bool FInternalPrepared = false;
    bool FOpen = false;
    int FBufferChunks = 1000;
    int FRecordCount = 0;
    int FCurrentRecord = -1;
    bool FEof = false;
    bool FParamCheck = true;
    int32_t FStmtRowsAffected = -1;
    bool FUniDirectional = false;
    bool FCachedUpdates = false;
    QList<TFieldDef> FFieldDefs;
    QList<TField *> FFields;

private:
    template <class T>
    void Relink(T *Value, void (TIBBase::*Link)(T *), void (TIBSQL::*Statement)(T *));

    std::vector<std::unique_ptr<char[]>> FChunks;
    int FRecordSize = 0;
    // Per field: how its value is taken from the statement's column.
    struct TFetchPlan {
        TField *Field;
        int Column;
        int Kind;
    };
    std::vector<TFetchPlan> FPlan;

    TLinkEvent FBeforeDatabaseDisconnect;
    TLinkEvent FAfterDatabaseDisconnect;
    TLinkEvent FDatabaseFree;
    TLinkEvent FBeforeTransactionEnd;
    TLinkEvent FAfterTransactionEnd;
    TLinkEvent FTransactionFree;
};
