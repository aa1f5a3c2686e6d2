#include "IBQuery.h"

TParam *TParams::FindParam(const QString &Name)
{
    for (TParam &p : FItems)
        if (p.Name.compare(Name, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

TParam &TParams::ParamByName(const QString &Name)
{
    TParam *p = FindParam(Name);
    if (!p)
        RaiseClientError(ibxeFieldNotFound, {Name});
    return *p;
}

QString ParseParams(const QString &SQL, QStringList &Names)
{
    QString out;
    out.reserve(SQL.size());
    const qsizetype n = SQL.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = SQL[i];
        if (c == u'\'' || c == u'"') {
            // Quoted text, with doubled quotes inside, is copied as it is.
            qsizetype j = i + 1;
            while (j < n) {
                if (SQL[j] == c) {
                    if (j + 1 < n && SQL[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out += QStringView(SQL).mid(i, qMin(j + 1, n) - i);
            i = j + 1;
        } else if (c == u'/' && i + 1 < n && SQL[i + 1] == u'*') {
            const qsizetype end = SQL.indexOf(QLatin1String("*/"), i + 2);
            const qsizetype stop = end < 0 ? n : end + 2;
            out += QStringView(SQL).mid(i, stop - i);
            i = stop;
        } else if (c == u':' && i + 1 < n && SQL[i + 1] == u':') {
            out += QLatin1String("::");
            i += 2;
        } else if (c == u':' && i + 1 < n && (IsParamNameChar(SQL[i + 1]) || SQL[i + 1] == u'"')) {
            qsizetype j = i + 1;
            QString name;
            if (SQL[j] == u'"') {
                const qsizetype end = SQL.indexOf(u'"', j + 1);
                const qsizetype stop = end < 0 ? n : end;
                name = SQL.mid(j + 1, stop - j - 1);
                j = stop + 1;
            } else {
                while (j < n && IsParamNameChar(SQL[j]))
                    ++j;
                name = SQL.mid(i + 1, j - i - 1);
            }
            Names << name;
            out += u'?';
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

TIBQuery::TIBQuery(QObject *AOwner) : TIBCustomDataSet(AOwner)
{
    FSQL.SetOnChange([this] { QueryChanged(); });
    // The statement's own text change: the query lets go of what it built.
    FQSelect->SetOnSQLChanging([this](QObject *) {
        if (FOpen)
            InternalClose();
        InternalUnPrepare();
    });
}

TIBQuery::~TIBQuery()
{
    try {
        if (FOpen)
            InternalClose();
        if (FPrepared)
            SetPrepared(false);
    } catch (...) {
    }
}

void TIBQuery::SetSQL(const QStringList &Value)
{
    if (Value.join(QLatin1Char('\n')) != FSQL.Lines().join(QLatin1Char('\n')))
        FSQL.Assign(Value);
}

void TIBQuery::QueryChanged()
{
    SetActive(false);
    SetPrepared(false);
    if (FParamCheck) {
        QStringList names;
        FText = ParseParams(FSQL.Text(), names);
        TParams fresh;
        for (const QString &name : names) {
            if (fresh.FindParam(name))
                continue;
            fresh.Add(name);
            if (TParam *old = FParams.FindParam(name))
                fresh[fresh.Count() - 1].Value = old->Value;
        }
        FParams = fresh;
    } else {
        FText = FSQL.Text();
    }
    FQSelect->SQL().Assign(FSQL.Lines());
}

void TIBQuery::SetPrepared(bool Value)
{
    if (FOpen)
        RaiseClientError(ibxeDatasetOpen);
    if (Value) {
        if (FPrepared)
            return;
        FRowsAffected = -1;
        FCheckRowsAffected = true;
        if (FText.size() <= 1)
            RaiseClientError(ibxeEmptySQLStatement);
        InternalPrepare();
        FPrepared = true;
    } else {
        if (!FPrepared)
            return;
        if (FCheckRowsAffected) {
            try {
                FRowsAffected = FQSelect->RowsAffected();
            } catch (...) {
                FRowsAffected = -1;
            }
        }
        InternalUnPrepare();
        FPrepared = false;
    }
}

void TIBQuery::SetParamsToStatement()
{
    // Every parameter goes to the statement; one the statement lacks is an
    // error, never left out.
    for (int i = 0; i < FParams.Count(); ++i) {
        const TParam &p = FParams[i];
        TIBXSQLVAR *v = &FQSelect->Params().ByName(p.Name);
        if (p.IsNull())
            v->SetIsNull(true);
        else
            v->SetAsVariant(p.Value);
    }
}

void TIBQuery::InternalOpen()
{
    ActivateConnection();
    ActivateTransaction();
    FQSelect->SetGenerateParamNames(FGenerateParamNames);
    SetPrepared(true);
    if (FParams.Count() > 0)
        SetParamsToStatement();
    TIBCustomDataSet::InternalOpen();
}

void TIBQuery::ExecSQL()
{
    if (FOpen)
        throw EDatabaseError(objectName() + QStringLiteral(": Não é possível realizar esta operação em um arquivo aberto"));
    if (FSQL.Count() == 0) {
        FCheckRowsAffected = false;
        RaiseClientError(ibxeEmptySQLStatement);
    }
    ActivateConnection();
    const bool started = ActivateTransaction();
    try {
        SetPrepared(true);
        if (FParams.Count() > 0)
            SetParamsToStatement();
        PrepareToRun();
        if (FQSelect->SQLType() == TIBSQLTypes::SQLSelect)
            RaiseClientError(ibxeIsASelectStatement);
        FQSelect->ExecQuery();
    } catch (...) {
        if (started && FBase.Transaction())
            FBase.Transaction()->CheckAutoStop();
        FCheckRowsAffected = true;
        throw;
    }
    if (started && FBase.Transaction())
        FBase.Transaction()->CheckAutoStop();
    FCheckRowsAffected = true;
}

int32_t TIBQuery::RowsAffected()
{
    return FPrepared ? FQSelect->RowsAffected() : -1;
}
