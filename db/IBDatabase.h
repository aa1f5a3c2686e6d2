#pragma once

// Connections, and the client link through which statements and data sets
// use a connection and a transaction (declared in IBTransaction.h, which
// comes with this header).

#include "Classes.h"
#include "DB.h"
#include "IB.h"
#include "IBIntf.h"
#include "IBLinkList.h"
#include "IBTransaction.h"

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

    int SQLObjectCount() const { return FSQLObjects.Count(); }
    TIBBase *SQLObjects(int Index) const { return FSQLObjects.At(Index); }
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

public:
    // The connection was used: its idle time starts again.
    void Touch() { FCanTimeout = false; }

private:
    void CloseAttachment(bool Force);
    void Login(TStringList &Lines);
    void TimeoutConnection();
    // Tells every link the connection is about to go; a forced close lets
    // no link's error stop it.
    void NotifyBeforeDisconnect(bool IgnoreErrors);
    // Tells every link the connection is gone.
    void NotifyAfterDisconnect();

    QString FDBName;
    TStringList FDBParams;
    bool FDBParamsChanged = true;
    QByteArray FDPB;
    isc_db_handle FHandle = 0;
    bool FHandleIsShared = false;
    bool FLoginPrompt = true;
    int FSQLDialect = SQL_DIALECT_V6;
    int FDBSQLDialect = SQL_DIALECT_V6;
    QString FCharacterSet = QStringLiteral("NONE");
    int FCharacterSetCodePage = CP_ACP;
    QString FServerType;
    TIBLibraryRef FGDSLibrary;
    QList<TIBTransaction *> FTransactions;
    TIBTransaction *FDefaultTransaction = nullptr;
    TIBTransaction *FInternalTransaction = nullptr;
    TIBLinkList FSQLObjects;
    QByteArray FHiddenPassword;
    bool FCanTimeout = false;
    int FIdleTimer = 0;
    QTimer *FTimer = nullptr;
    bool FAllowStreamedConnected = true;
    TDatabaseLoginEvent FOnLogin;
    TNotifyEvent FOnIdleTimer;
    TNotifyEvent FOnDialectDowngradeWarning;
};
