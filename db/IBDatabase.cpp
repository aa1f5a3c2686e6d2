#include "IBDatabase.h"

#include "IBFirebird4.h"

#include "IBInfoReply.h"
#include "IBParamBlock.h"
#include "SysUtils.h"

#include <QScopeGuard>
#include <QTimer>

#include <array>

int CodePageOfCharacterSet(const QString &CharacterSet)
{
    static const std::array<std::pair<const char *, int>, 22> table = {{
        {"UTF8", 65001},     {"UNICODE_FSS", 65001}, {"SJIS_0208", 932},   {"WIN1250", 1250},
        {"WIN1251", 1251},   {"WIN1252", 1252},      {"WIN1253", 1253},    {"WIN1254", 1254},
        {"ASCII", 20127},    {"DOS437", 437},        {"DOS850", 850},      {"DOS852", 852},
        {"DOS857", 857},     {"DOS860", 860},        {"DOS861", 861},      {"DOS863", 863},
        {"DOS865", 865},     {"EUCJ_0208", 20936},   {"ISO8859_1", 28591}, {"GB_2312", 52936},
        {"KSC_5601", 949},   {"NONE", CP_ACP},
    }};
    for (const auto &[name, page] : table)
        if (CharacterSet == QLatin1String(name))
            return page;
    return CP_ACP;
}

// ===========================================================================
// TIBBase

TIBBase::TIBBase(QObject *AOwner) : FOwner(AOwner) {}

TIBBase::~TIBBase()
{
    SetTransaction(nullptr);
    SetDatabase(nullptr);
}

void TIBBase::SetDatabase(TIBDatabase *Value)
{
    if (Value == FDatabase)
        return;
    auto *dataSet = qobject_cast<TDataSet *>(FOwner);
    if (FDatabase) {
        FDatabase->RemoveSQLObject(this);
        if (dataSet)
            FDatabase->UnRegisterClient(dataSet);
    }
    FDatabase = Value;
    FIndexInDatabase = -1;
    if (Value) {
        FIndexInDatabase = Value->AddSQLObject(this);
        if (dataSet)
            Value->RegisterClient(dataSet);
        if (!FTransaction)
            SetTransaction(Value->FindDefaultTransaction());
    }
}

void TIBBase::SetTransaction(TIBTransaction *Value)
{
    if (Value == FTransaction)
        return;
    if (FTransaction)
        FTransaction->RemoveSQLObject(this);
    FTransaction = Value;
    if (Value) {
        Value->AddSQLObject(this);
        if (!FDatabase && Value->DefaultDatabase())
            SetDatabase(Value->DefaultDatabase());
    }
}

void TIBBase::CheckDatabase() const
{
    if (!FDatabase)
        RaiseClientError(ibxeDatabaseNotAssigned);
    FDatabase->CheckActive();
}

void TIBBase::CheckTransaction() const
{
    if (!FTransaction)
        RaiseClientError(ibxeTransactionNotAssigned);
    FTransaction->CheckInTransaction();
}

isc_db_handle *TIBBase::DBHandle() const
{
    CheckDatabase();
    return FDatabase->HandlePtr();
}

isc_tr_handle *TIBBase::TRHandle() const
{
    CheckTransaction();
    return FTransaction->HandlePtr();
}

void TIBBase::DoDatabaseFree()
{
    if (OnDatabaseFree)
        OnDatabaseFree(this);
    SetDatabase(nullptr);
}

void TIBBase::DoTransactionFree()
{
    if (OnTransactionFree)
        OnTransactionFree(this);
    SetTransaction(nullptr);
}

// ===========================================================================
// TIBDatabase

TIBDatabase::TIBDatabase(QObject *AOwner) : TCustomConnection(AOwner)
{
    FDBParams.SetOnChanging([this] { CheckInactive(); });
    FDBParams.SetOnChange([this] { FDBParamsChanged = true; });
    FInternalTransaction = new TIBTransaction(this);
    FInternalTransaction->setObjectName(QStringLiteral("InternalTransaction"));
    FInternalTransaction->SetDefaultDatabase(this);
}

TIBDatabase::~TIBDatabase()
{
    IgnoringErrors([this] {
        FInternalTransaction->RollbackForced();
    });
    delete FTimer;
    FTimer = nullptr;
    if (Connected()) {
        try {
            Close();
        } catch (...) {
            IgnoringErrors([this] { ForceClose(); });
        }
    }
    FSQLObjects.ForEach([](TIBBase *link) { IgnoringErrors([link] { link->DoDatabaseFree(); }); });
    IgnoringErrors([this] { RemoveTransactions(); });
    delete FInternalTransaction;
    FInternalTransaction = nullptr;
}

IGDSLibrary &TIBDatabase::GDSLibrary()
{
    return HeldLibrary(FServerType, FGDSLibrary);
}

void TIBDatabase::SetServerType(const QString &Value)
{
    if (!Value.isEmpty() && Value != FServerType && Connected())
        throw Exception(QStringLiteral("ServerType can not be changed on an active connection"));
    AssignServerType(FServerType, FGDSLibrary, Value);
}

void TIBDatabase::SetDatabaseName(const QString &Value)
{
    if (Value == FDBName)
        return;
    CheckInactive();
    FDBName = Value;
}

void TIBDatabase::SetSQLDialect(int Value)
{
    if (Value < 1 || (Connected() && Value > FDBSQLDialect))
        RaiseClientError(ibxeSQLDialectInvalid);
    FSQLDialect = Value;
}

void TIBDatabase::SetIdleTimer(int Value)
{
    SetIdleTimerOf(this, FTimer, FIdleTimer, Value, [this] { TimeoutConnection(); });
}

void TIBDatabase::TimeoutConnection()
{
    if (!Connected())
        return;
    if (FCanTimeout) {
        ForceClose();
        if (FOnIdleTimer)
            FOnIdleTimer(this);
    } else {
        FCanTimeout = true;
    }
}

void TIBDatabase::CheckActive()
{
    if (!Connected())
        RaiseClientError(ibxeDatabaseClosed);
}

void TIBDatabase::CheckInactive()
{
    if (Connected())
        RaiseClientError(ibxeDatabaseOpen);
}

void TIBDatabase::CheckDatabaseName()
{
    if (FDBName.isEmpty())
        RaiseClientError(ibxeDatabaseNameMissing);
}

ISC_STATUS TIBDatabase::Call(ISC_STATUS ErrCode, bool RaiseError)
{
    if (FServerType.isEmpty())
        SetServerType(QStringLiteral("IBServer"));
    FCanTimeout = false;
    if (RaiseError && StatusVectorContains({isc_lost_db_connection, isc_net_read_err, isc_net_write_err})) {
        // The close below makes client calls of its own: read the status
        // vector first.
        const EIBInterBaseError error = StatusError(GDSLibrary());
        ForceClose();
        throw error;
    }
    if (RaiseError && ErrCode > 0)
        RaiseStatusError(GDSLibrary());
    return ErrCode;
}

QByteArray TIBDatabase::BuildDPB(const TStringList &Lines)
{
    // The character set is taken as soon as it is read, even when a later
    // line makes the block fail.
    const auto codePage = qScopeGuard([this] { FCharacterSetCodePage = CodePageOfCharacterSet(FCharacterSet); });
    return BuildDatabaseParamBlock(Lines, FCharacterSet);
}

void TIBDatabase::Login(TStringList &Lines)
{
    if (!FOnLogin)
        throw EIBError(0, QStringLiteral("Não foi encontrado o prompt de login padrão. Por favor acrescente a unit "
                                         "DBLogDlg em seu programa principal."));
    TStringList loginParams(FDBParams.Lines());
    FOnLogin(this, loginParams);
    FDBParams.Assign(loginParams.Lines());
    for (int i = 0; i < FDBParams.Count(); ++i) {
        if (LowerAscii(TrimBlanks(FDBParams.Names(i))).startsWith(QLatin1String("password"))) {
            FHiddenPassword = FDBParams.ValueFromIndex(i).toLocal8Bit();
            FDBParams.Delete(i);
            break;
        }
    }
    Lines.Assign(FDBParams.Lines());
}

void TIBDatabase::DoConnect()
{
    if (FServerType.isEmpty())
        SetServerType(QStringLiteral("IBServer"));
    CheckInactive();
    CheckDatabaseName();
    if (!FLoginPrompt && !FHiddenPassword.isEmpty()) {
        FHiddenPassword.clear();
        FDBParamsChanged = true;
    }
    if (FLoginPrompt) {
        TStringList lines;
        Login(lines);
        FDBParamsChanged = true;
    }
    IGDSLibrary &lib = GDSLibrary();
    if (FDBParamsChanged) {
        FCharacterSet = QStringLiteral("NONE");
        FCharacterSetCodePage = CP_ACP;
        TStringList lines(FDBParams.Lines());
        if (FLoginPrompt && !FHiddenPassword.isEmpty())
            lines.Add(QStringLiteral("password=") + QString::fromLocal8Bit(FHiddenPassword));
        FDPB = BuildDPB(lines) + IBFirebird4::TextBinding(lib.FirebirdVersion());
        // Only a block that was built completely is reused.
        FDBParamsChanged = false;
    }
    const QByteArray name = FDBName.toLocal8Bit();
    ISC_STATUS *status = ThreadStatusVector();
    if (lib.isc_attach_database(status, short(qMin<qsizetype>(name.size(), 32767)), name.constData(), &FHandle,
                                short(FDPB.size()), FDPB.constData()) > 0) {
        FHandle = 0;
        RaiseStatusError(lib);
    }
    // A connection that could not be set up is not left attached.
    auto detach = qScopeGuard([this, &lib] {
        if (FHandle) {
            ISC_STATUS_ARRAY ignored;
            lib.isc_detach_database(ignored, &FHandle);
            FHandle = 0;
        }
    });
    char item = isc_info_db_sql_dialect;
    char reply[512] = {};
    Call(lib.isc_database_info(status, &FHandle, 1, &item, sizeof reply, reply), true);
    TIBInfoReply info(lib, reply, sizeof reply, ibxeUnknownError);
    FDBSQLDialect = info.ReadByte() == isc_info_db_sql_dialect ? int(info.ReadItemInteger()) : SQL_DIALECT_V5;
    detach.dismiss();
    if (FDBSQLDialect < FSQLDialect) {
        FSQLDialect = FDBSQLDialect;
        if (FOnDialectDowngradeWarning)
            FOnDialectDowngradeWarning(this);
    }
}

void TIBDatabase::DoDisconnect()
{
    if (Connected()) {
        try {
            CloseAttachment(false);
        } catch (...) {
            ForceClose();
            FDBSQLDialect = SQL_DIALECT_V5;
            throw;
        }
    }
    FDBSQLDialect = SQL_DIALECT_V5;
}

void TIBDatabase::CloseAttachment(bool Force)
{
    CheckActive();
    const isc_db_handle saved = FHandle;
    // Forced: the connection reads as closed while its clients let go, so
    // they drop their handles without calling the server.
    if (Force)
        FHandle = 0;
    const auto tell = [Force](const std::function<void()> &Notify) {
        if (Force)
            IgnoringErrors(Notify);
        else
            Notify();
    };
    {
        const auto restore = qScopeGuard([this, Force, saved] {
            if (Force)
                FHandle = saved;
        });
        NotifyBeforeDisconnect(Force);
        for (TIBTransaction *tr : QList<TIBTransaction *>(FTransactions))
            if (FTransactions.contains(tr) && tr->Active())
                tell([tr] { tr->EndByDefaultAction(); });
    }
    if (!FHandleIsShared) {
        IGDSLibrary &lib = GDSLibrary();
        ISC_STATUS *status = ThreadStatusVector();
        const ISC_STATUS r = lib.isc_detach_database(status, &FHandle);
        if (r > 0 && !Force)
            Call(r, true);
    }
    FHandle = 0;
    FHandleIsShared = false;
    NotifyAfterDisconnect();
}

void TIBDatabase::ForceClose()
{
    if (!Connected())
        return;
    RunDisconnect([this] {
        // Forced: the attachment goes whatever its clients say.
        IgnoringErrors([this] { CloseAttachment(true); });
        FHandle = 0;
        FHandleIsShared = false;
    });
}

bool TIBDatabase::TestConnected()
{
    if (!Connected())
        return false;
    try {
        char item = isc_info_base_level;
        char reply[512] = {};
        IGDSLibrary &lib = GDSLibrary();
        if (lib.isc_database_info(ThreadStatusVector(), &FHandle, 1, &item, sizeof reply, reply) > 0) {
            ForceClose();
            return false;
        }
        return true;
    } catch (...) {
        ForceClose();
        return false;
    }
}

void TIBDatabase::DropDatabase()
{
    CheckActive();
    RunDisconnect([this] {
        NotifyBeforeDisconnect(false);
        for (TIBTransaction *tr : QList<TIBTransaction *>(FTransactions))
            if (FTransactions.contains(tr))
                tr->RollbackForced();
        IGDSLibrary &lib = GDSLibrary();
        Call(lib.isc_drop_database(ThreadStatusVector(), &FHandle), true);
        FHandle = 0;
        FHandleIsShared = false;
        FDBSQLDialect = SQL_DIALECT_V5;
        NotifyAfterDisconnect();
    });
}

void TIBDatabase::CloseDataSets()
{
    QList<TDataSet *> sets;
    for (int i = 0; i < DataSetCount(); ++i)
        sets << DataSets(i);
    for (TDataSet *d : sets)
        d->Close();
}

void TIBDatabase::SetHandle(isc_db_handle Value)
{
    if (FHandleIsShared && Connected())
        ForceClose();
    else
        CheckInactive();
    FHandle = Value;
    FHandleIsShared = Value != 0;
}

QString TIBDatabase::DBParamByDPB(int Idx) const
{
    const QString name = DPBConstantName(Idx);
    if (name.isEmpty())
        return QString();
    const int i = IndexOfDBConst(name);
    return i < 0 ? QString() : FDBParams.ValueFromIndex(i);
}

void TIBDatabase::SetDBParamByDPB(int Idx, const QString &Value)
{
    const QString name = DPBConstantName(Idx);
    if (name.isEmpty())
        return;
    const int i = IndexOfDBConst(name);
    if (Value.isEmpty()) {
        if (i >= 0)
            FDBParams.Delete(i);
    } else if (i >= 0) {
        FDBParams.Put(i, name + QLatin1Char('=') + Value);
    } else {
        FDBParams.Add(name + QLatin1Char('=') + Value);
    }
}

int TIBDatabase::IndexOfDBConst(const QString &St) const
{
    for (int i = 0; i < FDBParams.Count(); ++i) {
        const qsizetype p = FDBParams[i].toLower().indexOf(St);
        if (p == 0 || p == 8)
            return i;
    }
    return -1;
}

void TIBDatabase::SetDefaultTransaction(TIBTransaction *Value)
{
    if (FDefaultTransaction && FDefaultTransaction != Value &&
        FDefaultTransaction->DefaultDatabase() != this) {
        const int i = FindTransaction(FDefaultTransaction);
        if (i >= 0)
            RemoveTransaction(i);
    }
    if (Value) {
        AddTransaction(Value);
        Value->AddDatabase(this);
    }
    FDefaultTransaction = Value;
}

int TIBDatabase::AddTransaction(TIBTransaction *TR)
{
    if (FTransactions.contains(TR))
        return -1;
    FTransactions.append(TR);
    return int(FTransactions.size()) - 1;
}

int TIBDatabase::FindTransaction(TIBTransaction *TR) const
{
    return int(FTransactions.indexOf(TR));
}

void TIBDatabase::RemoveTransaction(int Idx)
{
    if (Idx < 0 || Idx >= FTransactions.size())
        return;
    TIBTransaction *tr = FTransactions.takeAt(Idx);
    if (FDefaultTransaction == tr)
        FDefaultTransaction = nullptr;
    const int j = tr->FindDatabase(this);
    if (j >= 0)
        tr->RemoveDatabase(j);
}

void TIBDatabase::RemoveTransactions()
{
    for (int i = int(FTransactions.size()) - 1; i >= 0; --i)
        RemoveTransaction(i);
}

TIBTransaction *TIBDatabase::FindDefaultTransaction() const
{
    if (FDefaultTransaction)
        return FDefaultTransaction;
    for (TIBTransaction *tr : FTransactions)
        if (tr != FInternalTransaction && tr->DefaultDatabase() == this)
            return tr;
    return nullptr;
}

int TIBDatabase::AddSQLObject(TIBBase *Link)
{
    return FSQLObjects.Add(Link);
}

void TIBDatabase::RemoveSQLObject(TIBBase *Link)
{
    FSQLObjects.Remove(Link);
}

void TIBDatabase::NotifyBeforeDisconnect(bool IgnoreErrors)
{
    FSQLObjects.ForEach([IgnoreErrors](TIBBase *link) {
        if (!link->BeforeDatabaseDisconnect)
            return;
        if (IgnoreErrors)
            IgnoringErrors([link] { link->BeforeDatabaseDisconnect(link); });
        else
            link->BeforeDatabaseDisconnect(link);
    });
}

void TIBDatabase::NotifyAfterDisconnect()
{
    FSQLObjects.ForEach([](TIBBase *link) {
        if (link->AfterDatabaseDisconnect)
            link->AfterDatabaseDisconnect(link);
    });
}

