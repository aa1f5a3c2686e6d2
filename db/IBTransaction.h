#pragma once

// Transactions over one or more connections. A transaction and its
// connections are one component: each keeps the other's list, and they
// reach each other through public members only (Touch, RollbackForced).

#include "Classes.h"
#include "IB.h"
#include "IBIntf.h"
#include "IBLinkList.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <cstdint>
#include <functional>

class QTimer;
class TIBBase;
class TIBDatabase;

// An idle timer of a connection or transaction: Interval 0 removes it.
void SetIdleTimerOf(QObject *Owner, QTimer *&Timer, int &Field, int Interval, const std::function<void()> &Tick);

enum class TIBTransactionAction { TARollback = 0, TACommit = 1, TARollbackRetaining = 2, TACommitRetaining = 3 };
enum class TAutoStopAction { saNone = 0, saRollback, saCommit, saRollbackRetaining, saCommitRetaining };

class TIBTransaction : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;

    explicit TIBTransaction(QObject *AOwner = nullptr);
    ~TIBTransaction() override;

    bool Active() const { return FHandle != 0; }
    void SetActive(bool Value);
    bool InTransaction() const { return FHandle != 0; }
    bool AllowAutoStart() const { return FAllowAutoStart; }
    void SetAllowAutoStart(bool Value) { FAllowAutoStart = Value; }
    TIBDatabase *DefaultDatabase() const { return FDefaultDatabase; }
    void SetDefaultDatabase(TIBDatabase *Value);
    int IdleTimer() const { return FIdleTimer; }
    void SetIdleTimer(int Value);
    TIBTransactionAction DefaultAction() const { return FDefaultAction; }
    void SetDefaultAction(TIBTransactionAction Value);
    TStringList &Params() { return FTRParams; }
    const TStringList &Params() const { return FTRParams; }
    void SetParams(const QStringList &Value) { FTRParams.Assign(Value); }
    TAutoStopAction AutoStopAction() const { return FAutoStopAction; }
    void SetAutoStopAction(TAutoStopAction Value) { FAutoStopAction = Value; }
    void SetOnIdleTimer(TNotifyEvent Value) { FOnIdleTimer = std::move(Value); }

    int DatabaseCount() const { return int(FDatabases.size()); }
    TIBDatabase *Databases(int Index) const { return FDatabases[Index]; }
    int SQLObjectCount() const { return FSQLObjects.Count(); }
    TIBBase *SQLObjects(int Index) const { return FSQLObjects.At(Index); }
    isc_tr_handle Handle() const { return FHandle; }
    isc_tr_handle *HandlePtr() { return &FHandle; }
    bool HandleIsShared() const { return FHandleIsShared; }
    const QByteArray &TPB() const { return FTPB; }
    int16_t TPBLength() const { return FTPBLength; }
    int32_t TransactionID();
    bool AutoStarted() const { return FAutoStarted; }

    void StartTransaction();
    void Commit();
    void Rollback();
    void CommitRetaining();
    void RollbackRetaining();

    void CheckInTransaction() const;
    void CheckNotInTransaction() const;
    void CheckDatabasesInList() const;
    void AutoStartTransaction();
    void CheckAutoStop();
    ISC_STATUS Call(ISC_STATUS ErrCode, bool RaiseError);

    int AddDatabase(TIBDatabase *DB);
    int FindDatabase(TIBDatabase *DB) const;
    void RemoveDatabase(int Idx);
    void RemoveDatabases();
    TIBDatabase *FindDefaultDatabase() const;

    int AddSQLObject(TIBBase *Link);
    void RemoveSQLObject(TIBBase *Link);

    // Builds the transaction parameter block from parameter lines.
    static QByteArray BuildTPB(const TStringList &Lines);

    // Ends an active transaction by its default action, forced: what a
    // closing connection and destruction do.
    void EndByDefaultAction();
    // Rolls back an active transaction, forced: what a connection that is
    // dropped or destroyed does to the transactions it still has.
    void RollbackForced();

private:
    void FinishTransaction(TIBTransactionAction Action, bool Force);
    IGDSLibrary &Library() const;
    void TimeoutTransaction();

    isc_tr_handle FHandle = 0;
    bool FHandleIsShared = false;
    QList<TIBDatabase *> FDatabases;
    TIBDatabase *FDefaultDatabase = nullptr;
    TIBLinkList FSQLObjects;
    TStringList FTRParams;
    bool FTRParamsChanged = true;
    QByteArray FTPB;
    int16_t FTPBLength = 0;
    TIBTransactionAction FDefaultAction = TIBTransactionAction::TACommit;
    bool FAllowAutoStart = true;
    bool FAutoStarted = false;
    TAutoStopAction FAutoStopAction = TAutoStopAction::saNone;
    int32_t FTransactionID = 0;
    bool FCanTimeout = false;
    int FIdleTimer = 0;
    QTimer *FTimer = nullptr;
    TNotifyEvent FOnIdleTimer;
};
