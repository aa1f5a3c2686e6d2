#pragma once

// The raw record of one descriptor entry, in either of the client's layouts,
// with the buffers it points to.

#include "IB.h"

#include <QByteArray>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

// The boolean type code of the descriptor, and the one Firebird 3 reports.
constexpr int SQL_BOOLEAN_IB = 590;
constexpr int SQL_BOOLEAN_FB = 32764;

// The second descriptor layout (clients of version 7.0 and later): the
// first with a precision and names of up to 68 characters.
struct XSQLVAR_V2 {
    ISC_SHORT sqltype;
    ISC_SHORT sqlscale;
    ISC_SHORT sqlprecision;
    ISC_SHORT sqlsubtype;
    ISC_SHORT sqllen;
    ISC_SCHAR *sqldata;
    ISC_SHORT *sqlind;
    ISC_SHORT sqlname_length;
    ISC_SCHAR sqlname[68];
    ISC_SHORT relname_length;
    ISC_SCHAR relname[68];
    ISC_SHORT ownname_length;
    ISC_SCHAR ownname[68];
    ISC_SHORT aliasname_length;
    ISC_SCHAR aliasname[68];
};
constexpr int SQLDA_VERSION2 = 2;

// Raw access to one entry of a descriptor area, in either layout.
class TSQLVAR {
public:
    virtual ~TSQLVAR() = default;

    virtual QByteArray GetAliasName() const = 0;
    virtual QByteArray GetOwnName() const = 0;
    virtual QByteArray GetRelName() const = 0;
    virtual char *GetSqlData() const = 0;
    virtual ISC_SHORT *GetSqlInd() const = 0;
    virtual int GetSqlLen() const = 0;
    virtual QByteArray GetSqlName() const = 0;
    virtual int GetSqlPrecision() const = 0;
    virtual int GetSqlScale() const = 0;
    virtual int GetSqlSubtype() const = 0;
    virtual int GetSqlType() const = 0;
    virtual void *GetSQLVAR() const = 0;
    virtual void SetAliasName(const QByteArray &Value) = 0;
    virtual void SetOwnName(const QByteArray &Value) = 0;
    virtual void SetRelName(const QByteArray &Value) = 0;
    virtual void SetSqlName(const QByteArray &Value) = 0;
    virtual void SetSqlData(char *Value) = 0;
    virtual void SetSqlInd(ISC_SHORT *Value) = 0;
    virtual void SetSqlLen(int Value) = 0;
    virtual void SetSqlPrecision(int Value) = 0;
    virtual void SetSqlScale(int Value) = 0;
    virtual void SetSqlSubtype(int Value) = 0;
    virtual void SetSqlType(int Value) = 0;
    virtual void SetXSqlVar(void *Value) = 0;
    // Reallocate the data buffer and the null indicator; 0 releases them.
    virtual void SetDataSize(int OldSize, int NewSize) = 0;
    virtual void SetIndSize(int OldSize, int NewSize) = 0;
    // Longest name the layout holds.
    virtual int NameLimit() const = 0;

    int SqlType() const { return GetSqlType(); }
    int SqlDef() const { return GetSqlType() & ~1; }
    int SqlScale() const { return GetSqlScale(); }
    int SqlLen() const { return GetSqlLen(); }
    char *SqlData() const { return GetSqlData(); }
    ISC_SHORT *SqlInd() const { return GetSqlInd(); }

protected:
    static int DerivedPrecision(int Type);
    // Buffers are owned here, whatever the record says.
    char *FData = nullptr;
    ISC_SHORT *FInd = nullptr;
    int FDataSize = 0;
    int FIndSize = 0;
};

// One layout of an XSQLVAR record; the buffers are the object's own.
template <typename TRecord, int NameSize>
class TSQLVARLayout : public TSQLVAR {
public:
    ~TSQLVARLayout() override
    {
        std::free(FData);
        std::free(FInd);
    }

    QByteArray GetAliasName() const override { return Get(FXSQLVAR->aliasname, FXSQLVAR->aliasname_length); }
    QByteArray GetOwnName() const override { return Get(FXSQLVAR->ownname, FXSQLVAR->ownname_length); }
    QByteArray GetRelName() const override { return Get(FXSQLVAR->relname, FXSQLVAR->relname_length); }
    QByteArray GetSqlName() const override { return Get(FXSQLVAR->sqlname, FXSQLVAR->sqlname_length); }
    char *GetSqlData() const override { return FXSQLVAR->sqldata; }
    ISC_SHORT *GetSqlInd() const override { return FXSQLVAR->sqlind; }
    int GetSqlLen() const override { return FXSQLVAR->sqllen; }
    int GetSqlScale() const override { return FXSQLVAR->sqlscale; }
    int GetSqlSubtype() const override { return FXSQLVAR->sqlsubtype; }
    int GetSqlType() const override { return FXSQLVAR->sqltype; }
    void *GetSQLVAR() const override { return FXSQLVAR; }
    void SetAliasName(const QByteArray &Value) override { Put(FXSQLVAR->aliasname, FXSQLVAR->aliasname_length, Value); }
    void SetOwnName(const QByteArray &Value) override { Put(FXSQLVAR->ownname, FXSQLVAR->ownname_length, Value); }
    void SetRelName(const QByteArray &Value) override { Put(FXSQLVAR->relname, FXSQLVAR->relname_length, Value); }
    void SetSqlName(const QByteArray &Value) override { Put(FXSQLVAR->sqlname, FXSQLVAR->sqlname_length, Value); }
    void SetSqlData(char *Value) override { FXSQLVAR->sqldata = Value; }
    void SetSqlInd(ISC_SHORT *Value) override { FXSQLVAR->sqlind = Value; }
    void SetSqlLen(int Value) override { FXSQLVAR->sqllen = ISC_SHORT(Value); }
    void SetSqlScale(int Value) override { FXSQLVAR->sqlscale = ISC_SHORT(Value); }
    void SetSqlSubtype(int Value) override { FXSQLVAR->sqlsubtype = ISC_SHORT(Value); }
    void SetSqlType(int Value) override { FXSQLVAR->sqltype = ISC_SHORT(Value); }
    void SetXSqlVar(void *Value) override
    {
        FXSQLVAR = static_cast<TRecord *>(Value);
        FXSQLVAR->sqldata = FData;
        FXSQLVAR->sqlind = FInd;
    }
    void SetDataSize(int, int NewSize) override
    {
        Resize(FData, FDataSize, NewSize);
        FXSQLVAR->sqldata = FData;
    }
    void SetIndSize(int, int NewSize) override
    {
        char *p = reinterpret_cast<char *>(FInd);
        Resize(p, FIndSize, NewSize);
        FInd = reinterpret_cast<ISC_SHORT *>(p);
        FXSQLVAR->sqlind = FInd;
    }
    int NameLimit() const override { return NameSize; }

protected:
    static QByteArray Get(const ISC_SCHAR *Text, ISC_SHORT Length)
    {
        return QByteArray(Text, Length < 0 ? 0 : Length > NameSize ? NameSize : Length);
    }
    template <size_t N>
    static void Put(ISC_SCHAR (&Field)[N], ISC_SHORT &Length, const QByteArray &Value)
    {
        const size_t n = std::min(size_t(Value.size()), N - 1);
        std::memcpy(Field, Value.constData(), n);
        Field[n] = '\0';
        Length = ISC_SHORT(n);
    }
    // What a buffer gains is cleared: no value, length or null flag is ever
    // left to chance.
    static void Resize(char *&Buffer, int &Size, int NewSize)
    {
        if (NewSize <= 0) {
            std::free(Buffer);
            Buffer = nullptr;
            Size = 0;
            return;
        }
        char *p = static_cast<char *>(std::realloc(Buffer, size_t(NewSize)));
        if (!p)
            throw std::bad_alloc();
        if (NewSize > Size)
            std::memset(p + Size, 0, size_t(NewSize - Size));
        Buffer = p;
        Size = NewSize;
    }

    TRecord *FXSQLVAR = nullptr;
};

// The published layout (clients before 7.0): the precision is derived.
class TSQLVAR_V1 : public TSQLVARLayout<XSQLVAR, 32> {
public:
    int GetSqlPrecision() const override { return DerivedPrecision(SqlDef()); }
    void SetSqlPrecision(int Value) override;
};

// The extended layout: the precision is stored.
class TSQLVAR_V2 : public TSQLVARLayout<XSQLVAR_V2, 68> {
public:
    int GetSqlPrecision() const override;
    void SetSqlPrecision(int Value) override { FXSQLVAR->sqlprecision = ISC_SHORT(Value); }
};
