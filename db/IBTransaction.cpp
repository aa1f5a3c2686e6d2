#include "IBTransaction.h"

#include "IBDatabase.h"
#include "IBInfoReply.h"
#include "IBParamBlock.h"

#include <QScopeGuard>
#include <QTimer>

#include <vector>

void SetIdleTimerOf(QObject *Owner, QTimer *&Timer, int &Field, int Interval, const std::function<void()> &Tick)
{
    if (Interval < 0)
        RaiseClientError(ibxeTimeoutNegative);
    Field = Interval;
    if (Interval == 0) {
        delete Timer;
        Timer = nullptr;
        return;
    }
    if (!Timer) {
        Timer = new QTimer(Owner);
        QObject::connect(Timer, &QTimer::timeout, Owner, Tick);
    }
    Timer->start(Interval);
}

TIBTransaction::TIBTransaction(QObject *AOwner) : QObject(AOwner)
{
    FTRParams.SetOnChanging([this] { CheckNotInTransaction(); });
    FTRParams.SetOnChange([this] { FTRParamsChanged = true; });
}

TIBTransaction::~TIBTransaction()
{
    IgnoringErrors([this] { EndByDefaultAction(); });
    delete FTimer;
    FTimer = nullptr;
    FSQLObjects.ForEach([](TIBBase *link) { IgnoringErrors([link] { link->DoTransactionFree(); }); });
    FSQLObjects.Clear();
    IgnoringErrors([this] { RemoveDatabases(); });
}

void TIBTransaction::SetActive(bool Value)
{
    if (Value && !Active())
        StartTransaction();
    else if (!Value && Active())
        Rollback();
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase *Value)
{
    if (FDefaultDatabase && FDefaultDatabase != Value) {
        TIBDatabase *previous = FDefaultDatabase;
        const int i = previous->FindTransaction(this);
        if (i >= 0)
            previous->RemoveTransaction(i);
    }
    if (Value && Value != FDefaultDatabase) {
        Value->AddTransaction(this);
        AddDatabase(Value);
        for (TIBBase *link : QList<TIBBase *>(FSQLObjects.Links())) {
            if (!link->Database()) {
                if (link->SetOwnerDatabase)
                    link->SetOwnerDatabase(Value);
                else
                    link->SetDatabase(Value);
            }
        }
    }
    FDefaultDatabase = Value;
}

void TIBTransaction::SetIdleTimer(int Value)
{
    SetIdleTimerOf(this, FTimer, FIdleTimer, Value, [this] { TimeoutTransaction(); });
}

void TIBTransaction::TimeoutTransaction()
{
    if (!Active())
        return;
    if (FCanTimeout) {
        FinishTransaction(FDefaultAction, true);
        if (FOnIdleTimer)
            FOnIdleTimer(this);
    } else {
        FCanTimeout = true;
    }
}

void TIBTransaction::SetDefaultAction(TIBTransactionAction Value)
{
    if (Value == TIBTransactionAction::TARollbackRetaining) {
        TIBLibraryRef library;
        IGDSLibrary *lib = nullptr;
        if (FDefaultDatabase) {
            lib = &FDefaultDatabase->GDSLibrary();
        } else {
            QString name = QStringLiteral("IBServer");
            library = LookupServerType(name);
            lib = library.get();
        }
        if (lib->ClientVersion() < 60000)
            RaiseClientError(ibxeIB60feature, {QStringLiteral("isc_rollback_retaining")});
    }
    FDefaultAction = Value;
}

IGDSLibrary &TIBTransaction::Library() const
{
    if (FDefaultDatabase)
        return FDefaultDatabase->GDSLibrary();
    CheckDatabasesInList();
    return FDatabases.first()->GDSLibrary();
}

void TIBTransaction::CheckInTransaction() const
{
    if (!Active())
        RaiseClientError(ibxeNotInTransaction);
}

void TIBTransaction::CheckNotInTransaction() const
{
    if (Active())
        RaiseClientError(ibxeInTransaction);
}

void TIBTransaction::CheckDatabasesInList() const
{
    if (FDatabases.isEmpty())
        RaiseClientError(ibxeNoDatabasesInTransaction);
}

QByteArray TIBTransaction::BuildTPB(const TStringList &Lines)
{
    return BuildTransactionParamBlock(Lines);
}

void TIBTransaction::StartTransaction()
{
    CheckNotInTransaction();
    CheckDatabasesInList();
    for (TIBDatabase *db : FDatabases)
        if (!db->Connected())
            RaiseClientError(ibxeDatabaseClosed);
    if (FTRParamsChanged) {
        const QByteArray tpb = BuildTPB(FTRParams);
        // An empty block leaves the stored bytes as they are.
        if (!tpb.isEmpty())
            FTPB = tpb;
        FTPBLength = int16_t(tpb.size());
        FTRParamsChanged = false;
    }
    // One entry per connection, laid out as the client's start block.
    struct TTEB {
        isc_db_handle *db_handle;
        int32_t tpb_length;
        const char *tpb_address;
    };
    std::vector<TTEB> teb;
    teb.reserve(size_t(FDatabases.size()));
    for (TIBDatabase *db : FDatabases)
        teb.push_back({db->HandlePtr(), FTPBLength, FTPB.constData()});
    IGDSLibrary &lib = FDatabases.first()->GDSLibrary();
    const ISC_STATUS r =
        lib.isc_start_multiple(ThreadStatusVector(), &FHandle, short(teb.size()), static_cast<void *>(teb.data()));
    if (r > 0) {
        FHandle = 0;
        Call(r, true);
    }
}

void TIBTransaction::Commit()
{
    FinishTransaction(TIBTransactionAction::TACommit, false);
}

void TIBTransaction::Rollback()
{
    FinishTransaction(TIBTransactionAction::TARollback, false);
}

void TIBTransaction::CommitRetaining()
{
    FinishTransaction(TIBTransactionAction::TACommitRetaining, false);
}

void TIBTransaction::RollbackRetaining()
{
    FinishTransaction(TIBTransactionAction::TARollbackRetaining, false);
}

void TIBTransaction::RollbackForced()
{
    if (Active())
        FinishTransaction(TIBTransactionAction::TARollback, true);
}

void TIBTransaction::EndByDefaultAction()
{
    if (!Active())
        return;
    const bool commit = FDefaultAction == TIBTransactionAction::TACommit ||
                        FDefaultAction == TIBTransactionAction::TACommitRetaining;
    FinishTransaction(commit ? TIBTransactionAction::TACommit : TIBTransactionAction::TARollback, true);
}

void TIBTransaction::FinishTransaction(TIBTransactionAction Action, bool Force)
{
    CheckInTransaction();
    IGDSLibrary &lib = Library();
    ISC_STATUS *status = ThreadStatusVector();
    if (Action == TIBTransactionAction::TARollback || Action == TIBTransactionAction::TACommit) {
        if (FHandleIsShared && Action != FDefaultAction && !Force)
            RaiseClientError(ibxeCantEndSharedTransaction);
        {
            // The links close their data sets without stopping this
            // transaction automatically.
            const auto restore = qScopeGuard([this, saved = FAutoStopAction] { FAutoStopAction = saved; });
            FAutoStopAction = TAutoStopAction::saNone;
            FSQLObjects.ForEach([](TIBBase *link) {
                if (link->BeforeTransactionEnd)
                    link->BeforeTransactionEnd(link);
            });
        }
        if (InTransaction()) {
            if (FHandleIsShared) {
                FHandle = 0;
                FHandleIsShared = false;
            } else {
                const ISC_STATUS r = Action == TIBTransactionAction::TACommit
                                         ? lib.isc_commit_transaction(status, &FHandle)
                                         : lib.isc_rollback_transaction(status, &FHandle);
                if (r > 0) {
                    if (Force) {
                        ISC_STATUS_ARRAY ignored;
                        lib.isc_rollback_transaction(ignored, &FHandle);
                        FHandle = 0;
                    } else {
                        const int32_t sqlCode = lib.isc_sqlcode(status);
                        if (sqlCode == -902 && status[1] == isc_network_error) {
                            const EIBInterBaseError error = StatusError(lib);
                            if (TIBDatabase *db = FDefaultDatabase ? FDefaultDatabase : FDatabases.value(0))
                                db->ForceClose();
                            throw error;
                        }
                        Call(r, true);
                    }
                }
            }
            FSQLObjects.ForEach([](TIBBase *link) {
                if (link->AfterTransactionEnd)
                    link->AfterTransactionEnd(link);
            });
        }
        FTransactionID = 0;
    } else {
        const ISC_STATUS r = Action == TIBTransactionAction::TACommitRetaining
                                 ? lib.isc_commit_retaining(status, &FHandle)
                                 : lib.isc_rollback_retaining(status, &FHandle);
        Call(r, true);
    }
    if (!InTransaction())
        FAutoStarted = false;
}

void TIBTransaction::AutoStartTransaction()
{
    if (FAllowAutoStart) {
        StartTransaction();
        FAutoStarted = true;
    }
}

void TIBTransaction::CheckAutoStop()
{
    if (FAutoStopAction == TAutoStopAction::saNone || !Active() || !FAutoStarted)
        return;
    for (TIBBase *link : FSQLObjects.Links()) {
        if (auto *d = qobject_cast<TDataSet *>(link->Owner()); d && d->Active())
            return;
    }
    switch (FAutoStopAction) {
    case TAutoStopAction::saRollback:
        FinishTransaction(TIBTransactionAction::TARollback, false);
        break;
    case TAutoStopAction::saCommit:
        FinishTransaction(TIBTransactionAction::TACommit, false);
        break;
    case TAutoStopAction::saRollbackRetaining:
        FinishTransaction(TIBTransactionAction::TARollbackRetaining, false);
        break;
    case TAutoStopAction::saCommitRetaining:
        FinishTransaction(TIBTransactionAction::TACommitRetaining, false);
        break;
    case TAutoStopAction::saNone:
        break;
    }
}

ISC_STATUS TIBTransaction::Call(ISC_STATUS ErrCode, bool RaiseError)
{
    for (TIBDatabase *db : FDatabases)
        db->Touch();
    FCanTimeout = false;
    // Any sign of a lost connection goes to the connection, which closes
    // itself: a dead handle must not pass for an attachment.
    if (StatusVectorContains({isc_lost_db_connection, isc_net_read_err, isc_net_write_err})) {
        if (TIBDatabase *db = FDefaultDatabase ? FDefaultDatabase : FDatabases.value(0))
            return db->Call(ErrCode, RaiseError);
    }
    if (RaiseError && ErrCode > 0)
        RaiseStatusError(Library());
    return ErrCode;
}

int32_t TIBTransaction::TransactionID()
{
    if (FTransactionID == 0 && Active()) {
        char item = isc_info_tra_id;
        char reply[32] = {};
        IGDSLibrary &lib = Library();
        Call(lib.isc_transaction_info(ThreadStatusVector(), &FHandle, 1, &item, sizeof reply, reply), true);
        TIBInfoReply info(lib, reply, sizeof reply, ibxeUnknownError);
        if (info.ReadByte() == isc_info_tra_id)
            FTransactionID = int32_t(info.ReadItemInteger());
    }
    return FTransactionID;
}

int TIBTransaction::AddDatabase(TIBDatabase *DB)
{
    qsizetype i = FDatabases.indexOf(DB);
    if (i < 0) {
        FDatabases.append(DB);
        i = FDatabases.size() - 1;
    }
    return int(i);
}

int TIBTransaction::FindDatabase(TIBDatabase *DB) const
{
    return int(FDatabases.indexOf(DB));
}

void TIBTransaction::RemoveDatabase(int Idx)
{
    if (Idx < 0 || Idx >= FDatabases.size())
        return;
    TIBDatabase *db = FDatabases[Idx];
    if (Active() && FDatabases.size() == 1)
        EndByDefaultAction();
    FDatabases.removeAt(Idx);
    const int j = db->FindTransaction(this);
    if (j >= 0)
        db->RemoveTransaction(j);
    if (FDefaultDatabase == db)
        FDefaultDatabase = nullptr;
}

void TIBTransaction::RemoveDatabases()
{
    for (int i = int(FDatabases.size()) - 1; i >= 0; --i)
        RemoveDatabase(i);
}

TIBDatabase *TIBTransaction::FindDefaultDatabase() const
{
    if (FDefaultDatabase)
        return FDefaultDatabase;
    for (TIBDatabase *db : FDatabases)
        if (db->DefaultTransaction() == this)
            return db;
    return nullptr;
}

int TIBTransaction::AddSQLObject(TIBBase *Link)
{
    return FSQLObjects.Add(Link);
}

void TIBTransaction::RemoveSQLObject(TIBBase *Link)
{
    FSQLObjects.Remove(Link);
}
