#pragma once

// The server's service manager: attaching to it, starting backups and
// restores, reading their output line by line, and the server's facts
// (the attachments it holds).

#include "Classes.h"
#include "IB.h"
#include "IBInfoReply.h"
#include "IBIntf.h"

#include <QByteArray>
#include <QFlags>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <functional>

enum class TProtocol { TCP = 0, SPX, NamedPipe, Local };

// How far a database is shut down: Multi keeps out everyone but the
// administrator and the owner, Single allows one attachment in all, Full none.
enum class TShutdownMode { Normal = 0, Multi, Single, Full };

// The access mode a restored database gets; Unchanged sends none, so the
// restored database keeps the mode recorded in the backup.
enum class TAccessMode { Unchanged = 0, ReadWrite, ReadOnly };

class TIBCustomService : public QObject {
    Q_OBJECT
public:
    using TIBLoginEvent = std::function<void(TIBCustomService *Service, TStringList &LoginParams)>;
    using TNotifyEvent = std::function<void(QObject *Sender)>;

    explicit TIBCustomService(QObject *AOwner = nullptr);
    ~TIBCustomService() override;

    bool Active() const { return FHandle != 0; }
    void SetActive(bool Value);
    void Attach();
    void Detach();
    const QString &ServerName() const { return FServerName; }
    void SetServerName(const QString &Value);
    TProtocol Protocol() const { return FProtocol; }
    void SetProtocol(TProtocol Value);
    TStringList &Params() { return FParams; }
    void SetParams(const QStringList &Value) { FParams.Assign(Value); }
    bool LoginPrompt() const { return FLoginPrompt; }
    void SetLoginPrompt(bool Value) { FLoginPrompt = Value; }
    const QString &ServerType() const { return FServerType; }
    void SetServerType(const QString &Value);
    void SetOnAttach(TNotifyEvent Value) { FOnAttach = std::move(Value); }
    void SetOnLogin(TIBLoginEvent Value) { FOnLogin = std::move(Value); }
    isc_svc_handle Handle() const { return FHandle; }

    QString ServiceParamBySPB(int Idx) const;
    void SetServiceParamBySPB(int Idx, const QString &Value);

    // The service manager's name for the protocol: srv:service_mgr...
    QString ServiceManagerName() const;
    // The service parameter block built from Params.
    QByteArray BuildSPB() const;
    IGDSLibrary &GDSLibrary();

protected:
    virtual void ServerNameChanged() {}
    void CheckActive() const;
    void CheckInactive() const;
    // One query with the items in FQueryParams (and FQuerySend, what the
    // server is told with it); the reply in FOutputBuffer.
    void RunServiceQuery();
    // A reader of the reply in FOutputBuffer: what it reads lies inside the
    // buffer (client error 95 otherwise).
    TIBInfoReply OutputReply();
    [[noreturn]] static void OutputError();

    QByteArray FSPB;
    QByteArray FQueryParams;
    QByteArray FQuerySend;
    QByteArray FOutputBuffer;
    int32_t FBufferSize = 32000;

private:
    bool FParamsChanged = true;
    TIBLoginEvent FOnLogin;
    bool FLoginPrompt = true;
    QString FServerName;
    isc_svc_handle FHandle = 0;
    TNotifyEvent FOnAttach;
    TProtocol FProtocol = TProtocol::Local;
    TStringList FParams;
    TIBLibraryRef FGDSLibrary;
    QString FServerType = QStringLiteral("IBServer");

    friend class TIBControlService;
};

class TIBControlService : public TIBCustomService {
    Q_OBJECT
public:
    using TIBCustomService::TIBCustomService;

    // Starts the action that BuildStartParams describes.
    virtual void ServiceStart();
    bool IsServiceRunning();

    // Appends a string item (tag, 2-byte length, bytes) or an integer item.
    void AppendStartString(const QString &Value, uint8_t Tag);
    void AppendStartInteger(int32_t Value, uint8_t Tag);
    const QByteArray &StartParams() const { return FStartParams; }

protected:
    virtual void BuildStartParams() {}
    QByteArray FStartParams;
};

class TIBControlAndQueryService : public TIBControlService {
    Q_OBJECT
public:
    using TIBControlService::TIBControlService;

    int32_t BufferSize() const { return FBufferSize; }
    void SetBufferSize(int32_t Value);
    bool Eof() const { return FEof; }
    // The next line of the started action's output; an empty line ends it.
    QString GetNextLine();
    QByteArray GetNextChunk();
    // The output in blocks: each query brings all the server has ready, up
    // to the buffer's size, waiting at most Timeout seconds (1 or more) when
    // it has nothing, so that a slow link costs one round trip per block
    // rather than per line. Returns the whole lines that came, each as
    // GetNextLine gives it (a blank in place of the line feed), but never
    // cut however long; at the end, the last line without a line feed and
    // the empty line that ends the output too. An empty list: nothing came
    // within the time.
    QStringList GetNextLines(int32_t Timeout = 1);

protected:
    // Queries the started action's output for Item (a line or all that
    // fits) and reads its text of Length bytes; Last is the byte that
    // follows the text.
    QByteArray QueryOutput(uint8_t Item, int &Length, uint8_t &Last);
    void BeginAction(int32_t Action)
    {
        FAction = Action;
        FEof = false;
        FPending.clear();
    }

private:
    bool FEof = false;
    QByteArray FPending; // an unfinished line of GetNextLines
    int32_t FAction = 0;
};

class TIBBackupRestoreService : public TIBControlAndQueryService {
    Q_OBJECT
public:
    using TIBControlAndQueryService::TIBControlAndQueryService;
    bool Verbose() const { return FVerbose; }
    void SetVerbose(bool Value) { FVerbose = Value; }

protected:
    // File lines: "name" or "name=length".
    void AppendFiles(const TStringList &Lines, uint8_t NameTag, uint8_t LengthTag);
    bool FVerbose = false;
};

// Each option is its bit of the backup's options word.
enum class TBackupOption {
    IgnoreChecksums = isc_spb_bkp_ignore_checksums,
    IgnoreLimbo = isc_spb_bkp_ignore_limbo,
    MetadataOnly = isc_spb_bkp_metadata_only,
    NoGarbageCollection = isc_spb_bkp_no_garbage_collect,
    OldMetadataDesc = isc_spb_bkp_old_descriptions,
    NonTransportable = isc_spb_bkp_non_transportable,
    ConvertExtTables = isc_spb_bkp_convert,
};
Q_DECLARE_FLAGS(TBackupOptions, TBackupOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TBackupOptions)

// Each option is its bit of the restore's options word; the validation
// check is InterBase's (Firebird's header has no name for its bit).
enum class TRestoreOption {
    DeactivateIndexes = isc_spb_res_deactivate_idx,
    NoShadow = isc_spb_res_no_shadow,
    NoValidityCheck = isc_spb_res_no_validity,
    OneRelationAtATime = isc_spb_res_one_at_a_time,
    Replace = isc_spb_res_replace,
    CreateNewDB = isc_spb_res_create,
    UseAllSpace = isc_spb_res_use_all_space,
    ValidationCheck = 0x8000,
};
Q_DECLARE_FLAGS(TRestoreOptions, TRestoreOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TRestoreOptions)

class TIBBackupService : public TIBBackupRestoreService {
    Q_OBJECT
public:
    using TIBBackupRestoreService::TIBBackupRestoreService;

    const QString &DatabaseName() const { return FDatabaseName; }
    void SetDatabaseName(const QString &Value) { FDatabaseName = Value; }
    TBackupOptions Options() const { return FOptions; }
    void SetOptions(TBackupOptions Value) { FOptions = Value; }
    TStringList &BackupFile() { return FBackupFile; }
    void SetBackupFile(const QStringList &Value) { FBackupFile.Assign(Value); }
    int32_t BlockingFactor() const { return FBlockingFactor; }
    void SetBlockingFactor(int32_t Value) { FBlockingFactor = Value; }

protected:
    void BuildStartParams() override;

private:
    QString FDatabaseName;
    TBackupOptions FOptions;
    TStringList FBackupFile;
    int32_t FBlockingFactor = 0;
};

class TIBRestoreService : public TIBBackupRestoreService {
    Q_OBJECT
public:
    using TIBBackupRestoreService::TIBBackupRestoreService;

    TStringList &DatabaseName() { return FDatabaseName; }
    void SetDatabaseName(const QStringList &Value) { FDatabaseName.Assign(Value); }
    TStringList &BackupFile() { return FBackupFile; }
    void SetBackupFile(const QStringList &Value) { FBackupFile.Assign(Value); }
    TRestoreOptions Options() const { return FOptions; }
    void SetOptions(TRestoreOptions Value) { FOptions = Value; }
    int32_t PageSize() const { return FPageSize; }
    void SetPageSize(int32_t Value) { FPageSize = Value; }
    int32_t PageBuffers() const { return FPageBuffers; }
    void SetPageBuffers(int32_t Value) { FPageBuffers = Value; }
    TAccessMode AccessMode() const { return FAccessMode; }
    void SetAccessMode(TAccessMode Value) { FAccessMode = Value; }
    const QString &EUAUserName() const { return FEUAUserName; }
    void SetEUAUserName(const QString &Value) { FEUAUserName = Value; }
    const QString &EUAPassword() const { return FEUAPassword; }
    void SetEUAPassword(const QString &Value) { FEUAPassword = Value; }

protected:
    void BuildStartParams() override;

private:
    TStringList FDatabaseName;
    TStringList FBackupFile;
    TRestoreOptions FOptions{TRestoreOption::CreateNewDB};
    int32_t FPageSize = 4096;
    int32_t FPageBuffers = 0;
    TAccessMode FAccessMode = TAccessMode::Unchanged;
    QString FEUAUserName;
    QString FEUAPassword;
};

// Changes a database's properties through the service manager: its
// maintenance shutdown, bringing it online, its access mode and the header
// settings. Each call
// starts the action and waits for its end, raising the server's error.
class TIBConfigService : public TIBControlAndQueryService {
    Q_OBJECT
public:
    using TIBControlAndQueryService::TIBControlAndQueryService;

    const QString &DatabaseName() const { return FDatabaseName; }
    void SetDatabaseName(const QString &Value) { FDatabaseName = Value; }

    // Shuts the database down to Mode; the attachments that Mode keeps out
    // get Wait seconds to leave, and the shutdown fails when any is still
    // open then (with 0, at once). A database already shut down answers
    // with the server's "invalid shutdown mode" error.
    void ShutdownDatabase(TShutdownMode Mode, int32_t Wait);
    // Shuts the database down to Mode, disconnecting every attachment that
    // is still open after Wait seconds.
    void ForceShutdown(TShutdownMode Mode, int32_t Wait);
    // Brings a shut-down database online in Mode (Normal: for everyone).
    void BringDatabaseOnline(TShutdownMode Mode = TShutdownMode::Normal);
    // Read-only or read-write; needs no other attachment open.
    void SetReadOnly(bool Value);
    // Header settings that a backup and restore can change.
    void SetReserveSpace(bool Value);
    // Asynchronous writes (forced writes off).
    void SetAsyncMode(bool Value);
    void SetSweepInterval(int32_t Value);
    void SetPageBuffers(int32_t Value);
    void SetDBSqlDialect(int32_t Value);

protected:
    void BuildStartParams() override;

private:
    void Run(const QByteArray &Properties);
    // One property: a tag with a byte, or with a 32-bit value.
    void RunByte(char Tag, char Value);
    void RunInt(char Tag, int32_t Value);
    QString FDatabaseName;
    QByteArray FProperties;
};

enum class TPropertyOption { Database = 0x1, ConfigParameters = 0x2, Version = 0x4, DBAlias = 0x8 };
Q_DECLARE_FLAGS(TPropertyOptions, TPropertyOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TPropertyOptions)

struct TDatabaseInfo {
    int32_t NoOfAttachments = 0;
    int32_t NoOfDatabases = 0;
    QStringList DbName;
    void Clear()
    {
        NoOfAttachments = 0;
        NoOfDatabases = 0;
        DbName.clear();
    }
};

struct TVersionInfo {
    QString ServerVersion;
    QString ServerImplementation;
    int32_t ServiceVersion = 0;
    void Clear()
    {
        ServerVersion.clear();
        ServerImplementation.clear();
        ServiceVersion = 0;
    }
    bool IsMinimumVersion(const QString &MinVersion) const;
};

struct TConfigParams {
    QVector<int32_t> ConfigFileKey;
    QVector<int32_t> ConfigFileValue;
    QStringList ConfigFileParams;
    QString BaseLocation;
    QString LockFileLocation;
    QString MessageFileLocation;
    QString SecurityDatabaseLocation;
    void Clear() { *this = TConfigParams(); }
};

struct TIBAliasInfo {
    QString Alias;
    QString DBPath;
};

class TIBServerProperties : public TIBControlService {
    Q_OBJECT
public:
    using TIBControlService::TIBControlService;

    TPropertyOptions Options() const { return FOptions; }
    void SetOptions(TPropertyOptions Value) { FOptions = Value; }
    const TDatabaseInfo &DatabaseInfo() const { return FDatabaseInfo; }
    const TVersionInfo &VersionInfo() const { return FVersionInfo; }
    const TConfigParams &ConfigParams() const { return FConfigParams; }
    const QVector<TIBAliasInfo> &AliasInfos() const { return FAliasInfos; }
    int AliasCount() const { return int(FAliasInfos.size()); }

    void Fetch();
    void FetchDatabaseInfo();
    void FetchVersionInfo();
    void FetchConfigParams();
    void FetchAliasInfo();

protected:
    void ServerNameChanged() override;

private:
    TPropertyOptions FOptions;
    TDatabaseInfo FDatabaseInfo;
    TVersionInfo FVersionInfo;
    TConfigParams FConfigParams;
    QVector<TIBAliasInfo> FAliasInfos;
};
