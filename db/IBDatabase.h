#pragma once

// Connections, transactions, and the client link through which statements
// and data sets use them.

#include "Classes.h"
#include "DB.h"
#include "IB.h"
#include "IBIntf.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>

class QTimer;
class TIBDatabase;
class TIBTransaction;

// "System's default 8-bit code page" as a code page number.
constexpr int CP_ACP = 0;

// Code page for a connection character set (exact match); CP_ACP otherwise.
int CodePageOfCharacterSet(const QString &CharacterSet);

// The link of a statement or data set to one connection and one
// transaction. It owns no handle; the connection and the transaction tell
// it before and after they end.
class TIBBase {
public:
    using TLinkEvent = std::function<void(TIBBase *Sender)>;

    explicit TIBBase(QObject *AOwner);
    ~TIBBase();
    TIBBase(const TIBBase &) = delete;
    TIBBase &operator=(const TIBBase &) = delete;

    TIBDatabase *Database() const { return FDatabase; }
    void SetDatabase(TIBDatabase *Value);
    TIBTransaction *Transaction() const { return FTransaction; }
    void SetTransaction(TIBTransaction *Value);
    QObject *Owner() const { return FOwner; }
    int IndexInDatabase() const { return FIndexInDatabase; }

    // Client error 24 without a connection, 25 without a transaction.
    void CheckDatabase() const;
    void CheckTransaction() const;
    isc_db_handle *DBHandle() const;
    isc_tr_handle *TRHandle() const;

    TLinkEvent BeforeDatabaseDisconnect;
    TLinkEvent AfterDatabaseDisconnect;
    TLinkEvent OnDatabaseFree;
    TLinkEvent BeforeTransactionEnd;
    TLinkEvent AfterTransactionEnd;
    TLinkEvent OnTransactionFree;
    // How the owner takes a connection given to it by a transaction (its
    // own Database setter); without one the link takes it directly.
    std::function<void(TIBDatabase *)> SetOwnerDatabase;

private:
    friend class TIBDatabase;
    friend class TIBTransaction;
    void DoDatabaseFree();
    void DoTransactionFree();

    TIBDatabase *FDatabase = nullptr;
    int FIndexInDatabase = -1;
    TIBTransaction *FTransaction = nullptr;
    QObject *FOwner;
};

class TIBDatabase : public TCustomConnection {
    Q_OBJECT
public:
    using TDatabaseLoginEvent = std::function<void(TIBDatabase *Database, TStringList &LoginParams)>;
    using TNotifyEvent = std::function<void(QObject *Sender)>;

    explicit TIBDatabase(QObject *AOwner = nullptr);
    ~TIBDatabase() override;

    const QString &DatabaseName() const { return FDBName; }
    void SetDatabaseName(const QString &Value);
    TStringList &Params() { return FDBParams; }
    const TStringList &Params() const { return FDBParams; }
    void SetParams(const QStringList &Value) { FDBParams.Assign(Value); }
    bool LoginPrompt() const { return FLoginPrompt; }
    void SetLoginPrompt(bool Value) { FLoginPrompt = Value; }
    TIBTransaction *DefaultTransaction() const { return FDefaultTransaction; }
    void SetDefaultTransaction(TIBTransaction *Value);
    const QString &ServerType() const { return FServerType; }
    void SetServerType(const QString &Value);
    int IdleTimer() const { return FIdleTimer; }
    void SetIdleTimer(int Value);
    int SQLDialect() const { return FSQLDialect; }
    void SetSQLDialect(int Value);
    int DBSQLDialect() const { return FDBSQLDialect; }
    bool AllowStreamedConnected() const { return FAllowStreamedConnected; }
    void SetAllowStreamedConnected(bool Value) { FAllowStreamedConnected = Value; }
    void SetOnLogin(TDatabaseLoginEvent Value) { FOnLogin = std::move(Value); }
    void SetOnIdleTimer(TNotifyEvent Value) { FOnIdleTimer = std::move(Value); }
    void SetOnDialectDowngradeWarning(TNotifyEvent Value) { FOnDialectDowngradeWarning = std::move(Value); }

    QString DBParamByDPB(int Idx) const;
    void SetDBParamByDPB(int Idx, const QString &Value);
    int IndexOfDBConst(const QString &St) const;

    int SQLObjectCount() const { return int(FSQLObjects.size()); }
    TIBBase *SQLObjects(int Index) const { return FSQLObjects[Index]; }
    int TransactionCount() const { return int(FTransactions.size()); }
    TIBTransaction *Transactions(int Index) const { return FTransactions[Index]; }
    isc_db_handle Handle() const { return FHandle; }
    isc_db_handle *HandlePtr() { return &FHandle; }
    bool HandleIsShared() const { return FHandleIsShared; }
    void SetHandle(isc_db_handle Value);
    TIBTransaction *InternalTransaction() const { return FInternalTransaction; }
    const QString &CharacterSet() const { return FCharacterSet; }
    int CharacterSetCodePage() const { return FCharacterSetCodePage; }
    // The database parameter block last built.
    const QByteArray &DPB() const { return FDPB; }
    int16_t DPBLength() const { return int16_t(FDPB.size()); }

    IGDSLibrary &GDSLibrary();
    ISC_STATUS Call(ISC_STATUS ErrCode, bool RaiseError);

    void CheckActive();
    void CheckInactive();
    void CheckDatabaseName();
    void ForceClose();
    bool TestConnected();
    void CloseDataSets();
    // Drops the attached database: it is deleted on the server and the
    // connection is closed.
    void DropDatabase();

    int AddTransaction(TIBTransaction *TR);
    int FindTransaction(TIBTransaction *TR) const;
    void RemoveTransaction(int Idx);
    void RemoveTransactions();
    TIBTransaction *FindDefaultTransaction() const;

    int AddSQLObject(TIBBase *Link);
    void RemoveSQLObject(TIBBase *Link);

    // Builds the database parameter block from parameter lines.
    QByteArray BuildDPB(const TStringList &Lines);

protected:
    bool GetConnected() const override { return FHandle != 0; }
    void DoConnect() override;
    void DoDisconnect() override;

private:
    friend class TIBTransaction;
    void CloseAttachment(bool Force);
    void Login(TStringList &Lines);
    void TimeoutConnection();

    QString FDBName;
    TStringList FDBParams;
    bool FDBParamsChanged = true;
    QByteArray FDPB;
    isc_db_handle FHandle = 0;
    bool FHandleIsShared = false;
    bool FLoginPrompt = true;
    int FSQLDialect = 3;
    int FDBSQLDialect = 3;
    QString FCharacterSet = QStringLiteral("NONE");
    int FCharacterSetCodePage = CP_ACP;
    QString FServerType;
    TIBLibraryRef FGDSLibrary;
    QList<TIBTransaction *> FTransactions;
    TIBTransaction *FDefaultTransaction = nullptr;
    TIBTransaction *FInternalTransaction = nullptr;
    QList<TIBBase *> FSQLObjects;
    QByteArray FHiddenPassword;
    bool FCanTimeout = false;
    int FIdleTimer = 0;
    QTimer *FTimer = nullptr;
    bool FAllowStreamedConnected = true;
    TDatabaseLoginEvent FOnLogin;
    TNotifyEvent FOnIdleTimer;
    TNotifyEvent FOnDialectDowngradeWarning;
};

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
    int SQLObjectCount() const { return int(FSQLObjects.size()); }
    TIBBase *SQLObjects(int Index) const { return FSQLObjects[Index]; }
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

private:
    void FinishTransaction(TIBTransactionAction Action, bool Force);
    IGDSLibrary &Library() const;
    void TimeoutTransaction();

    isc_tr_handle FHandle = 0;
    bool FHandleIsShared = false;
    QList<TIBDatabase *> FDatabases;
    TIBDatabase *FDefaultDatabase = nullptr;
    QList<TIBBase *> FSQLObjects;
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

    friend class TIBDatabase;
};
