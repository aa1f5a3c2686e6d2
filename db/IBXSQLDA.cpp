#include "IBXSQLDA.h"

#include "Exceptions.h"
#include "IBFirebird4.h"

// ===========================================================================
// TIBXSQLDA

TIBXSQLDA::TIBXSQLDA(TIBValueContext *Context) : FSQL(Context) {}

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
            FSQL->ClientVersion() >= 70000 ? SQLDA_VERSION2 : SQLDA_VERSION1;
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
        // Firebird 4's types come as the layer can read them exactly.
        const int described = x.SqlDef();
        const int coerced = IBFirebird4::Coerced(described);
        v.FDescribed = described; // a fresh description: Initialize follows each one
        if (coerced != described) {
            x.SetSqlType(coerced | (x.SqlType() & 1));
            x.SetSqlScale(0);
            if (coerced == SQL_VARYING) {
                x.SetSqlSubtype(0);
                x.SetSqlLen(IBFirebird4::TextLength);
            } else {
                x.SetSqlLen(coerced == SQL_TIME_TZ_EX ? int(sizeof(ISC_TIME_TZ_EX)) : int(sizeof(ISC_TIMESTAMP_TZ_EX)));
            }
        }
        const int type = x.SqlDef();
        v.FMaxLen = type == SQL_TEXT || type == SQL_VARYING ? x.SqlLen() : 0;
        switch (type) {
        case SQL_VARYING:
            x.SetDataSize(0, x.SqlLen() + 2);
            break;
        case SQL_TEXT: case SQL_DOUBLE: case SQL_FLOAT: case SQL_LONG: case SQL_SHORT: case SQL_TIMESTAMP:
        case SQL_BLOB: case SQL_D_FLOAT: case SQL_ARRAY: case SQL_QUAD: case SQL_TYPE_TIME: case SQL_TYPE_DATE:
        case SQL_INT64: case SQL_BOOLEAN_IB: case SQL_BOOLEAN_FB: case SQL_TIME_TZ_EX: case SQL_TIMESTAMP_TZ_EX:
            x.SetDataSize(0, x.SqlLen() > 0 ? x.SqlLen() : 1);
            break;
        default:
            throw EIBClientError(ibxeUnknownSQLDataType,
                                 FormatMessage(IBClientErrorMessage(ibxeUnknownSQLDataType), {type}) +
                                     QStringLiteral(": coluna %1 (%2)")
                                         .arg(QString::fromLocal8Bit(x.GetAliasName()), IBFirebird4::TypeName(type)));
        }
        if (x.SqlType() & 1)
            x.SetIndSize(0, 2);
        else if (x.SqlInd())
            x.SetIndSize(0, 0);
    }
}

