#pragma once

// A query: one SQL statement as text lines, opened as a result set or
// executed once, with parameters by name.

#include "IBCustomDataSet.h"

#include <QVariant>

// One parameter of a query: its name and the value to send (null when
// never assigned).
struct TParam {
    QString Name;
    QVariant Value;
    bool IsNull() const { return Value.isNull() || !Value.isValid(); }
};

class TParams {
public:
    int Count() const { return int(FItems.size()); }
    TParam &operator[](int Index) { return FItems[Index]; }
    const TParam &operator[](int Index) const { return FItems[Index]; }
    TParam *FindParam(const QString &Name);
    // Client error when no parameter has that name.
    TParam &ParamByName(const QString &Name);
    void Clear() { FItems.clear(); }
    void Add(const QString &Name) { FItems.append(TParam{Name, QVariant()}); }

private:
    QList<TParam> FItems;
};

// Reads parameter markers (a colon and a name) outside strings and
// comments: the names found, and the text with "?" in their place. It is
// lenient where the statement's own scan (TIBSQL) is strict: an unclosed
// string or comment runs to the end, "::" and a bare "?" stay as they are,
// and nothing is raised; the name rule (IsParamNameChar) is the one both use.
QString ParseParams(const QString &SQL, QStringList &Names);

class TIBQuery : public TIBCustomDataSet {
    Q_OBJECT
public:
    explicit TIBQuery(QObject *AOwner = nullptr);
    ~TIBQuery() override;

    TStringList &SQL() { return FSQL; }
    // Copies the lines unless the text is the same.
    void SetSQL(const QStringList &Value);
    TParams &Params() { return FParams; }
    int ParamCount() const { return FParams.Count(); }
    TParam &ParamByName(const QString &Name) { return FParams.ParamByName(Name); }
    const QString &Text() const { return FText; }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool Value) { FParamCheck = Value; }
    bool GenerateParamNames() const { return FGenerateParamNames; }
    void SetGenerateParamNames(bool Value) { FGenerateParamNames = Value; }

    bool Prepared() const { return FPrepared; }
    void SetPrepared(bool Value);
    void Prepare() { SetPrepared(true); }
    void UnPrepare() { SetPrepared(false); }
    void ExecSQL();
    int32_t RowsAffected();
    isc_stmt_handle StmtHandle() const { return FQSelect->Handle(); }
    TIBSQLTypes StatementType() const { return FQSelect->SQLType(); }

protected:
    void InternalOpen() override;

private:
    void QueryChanged();
    void SetParamsToStatement();

    TStringList FSQL;
    TParams FParams;
    QString FText;
    bool FPrepared = false;
    int32_t FRowsAffected = -1;
    bool FCheckRowsAffected = true;
    bool FGenerateParamNames = false;
};
