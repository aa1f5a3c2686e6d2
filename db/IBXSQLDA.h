#pragma once

// A descriptor area: its entries and their names.

#include "IBSQLVar.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// One descriptor area with its entries and their names.
class TIBXSQLDA {
public:
    explicit TIBXSQLDA(TIBValueContext *Context);
    ~TIBXSQLDA();
    TIBXSQLDA(const TIBXSQLDA &) = delete;
    TIBXSQLDA &operator=(const TIBXSQLDA &) = delete;

    XSQLDA *AsXSQLDA() const { return FXSQLDA; }
    int Count() const { return FCount; }
    void SetCount(int Value);
    bool Modified() const;
    QString Names() const { return FNames.join(QLatin1Char('\n')); }
    const QStringList &NameList() const { return FNames; }
    int RecordSize() const;
    const QString &UniqueRelationName() const { return FUniqueRelationName; }
    TIBXSQLVAR &Vars(int Idx) const;
    TIBXSQLVAR &operator[](int Idx) const { return Vars(Idx); }
    TIBXSQLVAR &ByName(const QString &Name) const;
    TIBXSQLVAR *FindByName(const QString &Name) const;
    int IndexOfName(const QString &Name) const;
    void AddName(const QString &FieldName, int Idx);
    // Entry set-up after a describe: names, buffers, indicators.
    void Initialize();
    int Version() const { return FVersion; }
    QString Normalize(const QString &Name) const;

private:
    TIBValueContext *FSQL;
    int FCount = 0;
    QStringList FNames;
    int FSize = 0;
    XSQLDA *FXSQLDA = nullptr;
    std::vector<std::unique_ptr<TIBXSQLVAR>> FXSQLVARs;
    QString FUniqueRelationName;
    int FVersion = SQLDA_VERSION1;
};
