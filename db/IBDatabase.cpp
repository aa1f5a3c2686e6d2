#include "IBDatabase.h"

#include <QTimer>

#include <array>
#include <vector>

namespace {

// Database parameter names; a name's position is its tag byte.
const std::array<const char *, 86> DPBConstantNames = {
    "",
    "cdd_pathname", "allocation", "journal", "page_size", "num_buffers", "buffer_length", "debug",
    "garbage_collect", "verify", "sweep", "enable_journal", "disable_journal", "dbkey_scope",
    "number_of_users", "trace", "no_garbage_collect", "damaged", "", "sys_user_name", "encrypt_key",
    "activate_shadow", "sweep_interval", "delete_shadow", "force_write", "begin_log", "quit_log",
    "no_reserve", "user_name", "password", "password_enc", "sys_user_name_enc", "interp", "online_dump",
    "old_file_size", "old_num_files", "old_file_name", "old_start_page", "old_start_seqno",
    "old_start_file", "drop_walfile", "old_dump_id", "wal_backup_dir", "wal_chkptlen", "wal_numbufs",
    "wal_bufsize", "wal_grp_cmt_wait", "lc_messages", "lc_ctype", "cache_manager", "shutdown", "online",
    "shutdown_delay", "reserved", "overwrite", "sec_attach", "disable_wal", "connect_timeout",
    "dummy_packet_interval", "gbak_attach", "sql_role_name", "set_page_buffers", "working_directory",
    "sql_dialect", "set_db_readonly", "set_db_sql_dialect", "gfix_attach", "gstat_attach",
    "gbak_ods_version", "gbak_ods_minor_version", "set_group_commit", "gbak_validate",
    "client_interbase_var", "admin_option", "flush_interval", "instance_name", "old_overwrite",
    "archive_database", "archive_journals", "archive_sweep", "archive_dumps", "archive_recover",
    "recover_until", "force", "preallocate", "sys_encrypt_password",
};

// Transaction parameter names; a name's position is its tag byte.
const std::array<const char *, 22> TPBConstantNames = {
    "",         "consistency",  "concurrency", "shared",         "protected",   "exclusive",
    "wait",     "nowait",       "read",        "write",          "lock_read",   "lock_write",
    "verb_time", "commit_time", "ignore_limbo", "read_committed", "autocommit",  "rec_version",
    "no_rec_version", "restart_requests", "no_auto_undo", "no_savepoint",
};

bool BlankOrControl(QChar C)
{
    return C.unicode() <= 32;
}

QString TrimBlanks(const QString &S)
{
    qsizetype b = 0;
    qsizetype e = S.size();
    while (b < e && BlankOrControl(S[b]))
        ++b;
    while (e > b && BlankOrControl(S[e - 1]))
        --e;
    return S.mid(b, e - b);
}

// A to Z lowered, nothing else.
QString LowerAscii(const QString &S)
{
    QString out = S;
    for (QChar &c : out)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return out;
}

template <size_t N>
int TagOf(const std::array<const char *, N> &Names, const QByteArray &Key)
{
    for (size_t i = 1; i < N; ++i)
        if (Names[i][0] != '\0' && Key == Names[i])
            return int(i);
    return 0;
}

// Appends a counted string; its length must fit the one length byte.
void AppendCounted(QByteArray &Block, char Tag, const QByteArray &Value)
{
    if (Value.size() > 255)
        RaiseClientError(ibxeStringTooLarge, {Value.size(), 255});
    Block += Tag;
    Block += char(Value.size());
    Block += Value;
}

// An idle timer of a connection or transaction: Interval 0 removes it.
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

template <typename T>
QList<T *> Snapshot(const QList<T *> &List)
{
    return List;
}

} // namespace

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
    try {
        if (FInternalTransaction->Active())
            FInternalTransaction->FinishTransaction(TIBTransactionAction::TARollback, true);
    } catch (...) {
    }
    delete FTimer;
    FTimer = nullptr;
    if (Connected()) {
        try {
            Close();
        } catch (...) {
            try {
                ForceClose();
            } catch (...) {
            }
        }
    }
    for (TIBBase *link : Snapshot(FSQLObjects)) {
        if (FSQLObjects.contains(link)) {
            try {
                link->DoDatabaseFree();
            } catch (...) {
            }
        }
    }
    try {
        RemoveTransactions();
    } catch (...) {
    }
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
        IGDSLibrary &lib = GDSLibrary();
        const ISC_STATUS *status = ThreadStatusVector();
        const int32_t errorCode = int32_t(status[1]);
        const int32_t sqlCode = lib.isc_sqlcode(status);
        EIBInterBaseError error(sqlCode, errorCode, StatusErrorText(lib));
        error.SetErrorCodes(StatusErrorCodes(status));
        ForceClose();
        throw error;
    }
    if (RaiseError && ErrCode > 0)
        RaiseStatusError(GDSLibrary());
    return ErrCode;
}

QByteArray TIBDatabase::BuildDPB(const TStringList &Lines)
{
    QByteArray dpb;
    dpb += char(isc_dpb_version1);
    for (int i = 0; i < Lines.Count(); ++i) {
        const QString &line = Lines[i];
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? QString() : line.left(eq);
        if (TrimBlanks(name).isEmpty())
            continue;
        QByteArray key = LowerAscii(name).toLocal8Bit();
        QByteArray value = line.mid(eq + 1).toLocal8Bit();
        if (key.startsWith("isc_dpb_"))
            key.remove(0, 8);
        const int tag = TagOf(DPBConstantNames, key);
        switch (tag) {
        case 19: case 20: case 28: case 29: case 30: case 36: case 47: case 48: case 60: case 63: case 75:
        case 85:
            if (tag == 63) {
                // "3" travels as the byte 3.
                if (value.isEmpty())
                    RaiseClientError(ibxeSQLDialectInvalid);
                value[0] = char(value[0] - '0');
            }
            if (tag == 48) {
                FCharacterSet = QString::fromLocal8Bit(value);
                FCharacterSetCodePage = CodePageOfCharacterSet(FCharacterSet);
            }
            AppendCounted(dpb, char(tag), value);
            break;
        case 5: case 9: case 13: case 17: case 24: case 27: case 33: case 34: case 54: case 76:
            dpb += char(tag);
            dpb += char(1);
            dpb += char(StrToInt(QString::fromLocal8Bit(value)) & 0xFF);
            break;
        case 10:
            dpb += char(tag);
            dpb += char(1);
            dpb += char(2);
            break;
        case 21: case 23: case 25: case 26:
            dpb += char(tag);
            dpb += char(1);
            dpb += char(0);
            break;
        case 22: {
            const uint32_t v = uint32_t(StrToInt(QString::fromLocal8Bit(value)));
            dpb += char(tag);
            dpb += char(4);
            for (int b = 0; b < 4; ++b)
                dpb += char((v >> (8 * b)) & 0xFF);
            break;
        }
        case 0:
            RaiseClientError(ibxeDPBConstantUnknownEx, {name});
        default:
            RaiseClientError(ibxeDPBConstantNotSupported, {QString::fromLatin1(DPBConstantNames[size_t(tag)])});
        }
    }
    if (dpb.size() > 32767)
        RaiseClientError(ibxeStringTooLarge, {dpb.size(), 32767});
    return dpb;
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
        FDPB = BuildDPB(lines);
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
    try {
        char item = isc_info_db_sql_dialect;
        char reply[512] = {};
        Call(lib.isc_database_info(status, &FHandle, 1, &item, sizeof reply, reply), true);
        if (uint8_t(reply[0]) != isc_info_db_sql_dialect) {
            FDBSQLDialect = 1;
        } else {
            const int n = qBound(0, int(lib.isc_vax_integer(reply + 1, 2)), int(sizeof reply) - 3);
            FDBSQLDialect = int(lib.isc_vax_integer(reply + 3, short(qMin(n, 4))));
        }
    } catch (...) {
        // A connection that could not be set up is not left attached.
        if (FHandle) {
            ISC_STATUS_ARRAY ignored;
            lib.isc_detach_database(ignored, &FHandle);
            FHandle = 0;
        }
        throw;
    }
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
            FDBSQLDialect = 1;
            throw;
        }
    }
    FDBSQLDialect = 1;
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
        if (!Force) {
            Notify();
            return;
        }
        try {
            Notify();
        } catch (...) {
        }
    };
    try {
        for (TIBBase *link : Snapshot(FSQLObjects))
            if (FSQLObjects.contains(link) && link->BeforeDatabaseDisconnect)
                tell([link] { link->BeforeDatabaseDisconnect(link); });
        for (TIBTransaction *tr : Snapshot(FTransactions))
            if (FTransactions.contains(tr) && tr->Active())
                tell([tr] { tr->EndByDefaultAction(); });
    } catch (...) {
        if (Force)
            FHandle = saved;
        throw;
    }
    if (Force)
        FHandle = saved;
    if (!FHandleIsShared) {
        IGDSLibrary &lib = GDSLibrary();
        ISC_STATUS *status = ThreadStatusVector();
        const ISC_STATUS r = lib.isc_detach_database(status, &FHandle);
        if (r > 0 && !Force)
            Call(r, true);
    }
    FHandle = 0;
    FHandleIsShared = false;
    for (TIBBase *link : Snapshot(FSQLObjects))
        if (FSQLObjects.contains(link) && link->AfterDatabaseDisconnect)
            link->AfterDatabaseDisconnect(link);
}

void TIBDatabase::ForceClose()
{
    if (!Connected())
        return;
    if (FBeforeDisconnect)
        FBeforeDisconnect(this);
    SendConnectEvent(false);
    try {
        CloseAttachment(true);
    } catch (...) {
    }
    FHandle = 0;
    FHandleIsShared = false;
    if (FAfterDisconnect)
        FAfterDisconnect(this);
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
    if (FBeforeDisconnect)
        FBeforeDisconnect(this);
    SendConnectEvent(false);
    for (TIBBase *link : Snapshot(FSQLObjects))
        if (FSQLObjects.contains(link) && link->BeforeDatabaseDisconnect)
            link->BeforeDatabaseDisconnect(link);
    for (TIBTransaction *tr : Snapshot(FTransactions))
        if (FTransactions.contains(tr) && tr->Active())
            tr->FinishTransaction(TIBTransactionAction::TARollback, true);
    IGDSLibrary &lib = GDSLibrary();
    Call(lib.isc_drop_database(ThreadStatusVector(), &FHandle), true);
    FHandle = 0;
    FHandleIsShared = false;
    FDBSQLDialect = 1;
    for (TIBBase *link : Snapshot(FSQLObjects))
        if (FSQLObjects.contains(link) && link->AfterDatabaseDisconnect)
            link->AfterDatabaseDisconnect(link);
    if (FAfterDisconnect)
        FAfterDisconnect(this);
}

void TIBDatabase::CloseDataSets()
{
    for (TDataSet *d : QList<TDataSet *>(FDataSets))
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
    if (Idx < 1 || Idx >= int(DPBConstantNames.size()) || DPBConstantNames[size_t(Idx)][0] == '\0')
        return QString();
    const int i = IndexOfDBConst(QString::fromLatin1(DPBConstantNames[size_t(Idx)]));
    return i < 0 ? QString() : FDBParams.ValueFromIndex(i);
}

void TIBDatabase::SetDBParamByDPB(int Idx, const QString &Value)
{
    if (Idx < 1 || Idx >= int(DPBConstantNames.size()) || DPBConstantNames[size_t(Idx)][0] == '\0')
        return;
    const QString name = QString::fromLatin1(DPBConstantNames[size_t(Idx)]);
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
    qsizetype i = FSQLObjects.indexOf(Link);
    if (i < 0) {
        FSQLObjects.append(Link);
        i = FSQLObjects.size() - 1;
    }
    return int(i);
}

void TIBDatabase::RemoveSQLObject(TIBBase *Link)
{
    FSQLObjects.removeAll(Link);
}

// ===========================================================================
// TIBTransaction

TIBTransaction::TIBTransaction(QObject *AOwner) : QObject(AOwner)
{
    FTRParams.SetOnChanging([this] { CheckNotInTransaction(); });
    FTRParams.SetOnChange([this] { FTRParamsChanged = true; });
}

TIBTransaction::~TIBTransaction()
{
    try {
        EndByDefaultAction();
    } catch (...) {
    }
    delete FTimer;
    FTimer = nullptr;
    for (TIBBase *link : Snapshot(FSQLObjects)) {
        if (FSQLObjects.contains(link)) {
            try {
                link->DoTransactionFree();
            } catch (...) {
            }
        }
    }
    FSQLObjects.clear();
    try {
        RemoveDatabases();
    } catch (...) {
    }
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
        for (TIBBase *link : Snapshot(FSQLObjects)) {
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
    QByteArray tpb;
    if (Lines.Count() == 0)
        return tpb;
    tpb += char(isc_tpb_version3);
    for (int i = 0; i < Lines.Count(); ++i) {
        const QString &line = Lines[i];
        if (TrimBlanks(line).isEmpty())
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? line : line.left(eq);
        QByteArray key = LowerAscii(name).toLocal8Bit();
        const QByteArray value = eq < 0 ? QByteArray() : line.mid(eq + 1).toLocal8Bit();
        if (key.startsWith("isc_tpb_"))
            key.remove(0, 8);
        const int tag = TagOf(TPBConstantNames, key);
        switch (tag) {
        case 0:
            RaiseClientError(ibxeTPBConstantUnknownEx, {name});
        case 10:
        case 11:
            AppendCounted(tpb, char(tag), value);
            break;
        case 12:
        case 13:
        case 16:
            RaiseClientError(ibxeTPBConstantNotSupported, {QString::fromLatin1(TPBConstantNames[size_t(tag)])});
        default:
            tpb += char(tag);
            break;
        }
    }
    return tpb;
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
        const TAutoStopAction saved = FAutoStopAction;
        FAutoStopAction = TAutoStopAction::saNone;
        try {
            for (TIBBase *link : Snapshot(FSQLObjects))
                if (FSQLObjects.contains(link) && link->BeforeTransactionEnd)
                    link->BeforeTransactionEnd(link);
        } catch (...) {
            FAutoStopAction = saved;
            throw;
        }
        FAutoStopAction = saved;
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
                            const int32_t errorCode = int32_t(status[1]);
                            EIBInterBaseError error(sqlCode, errorCode, StatusErrorText(lib));
                            error.SetErrorCodes(StatusErrorCodes(status));
                            if (TIBDatabase *db = FDefaultDatabase ? FDefaultDatabase : FDatabases.value(0))
                                db->ForceClose();
                            throw error;
                        }
                        Call(r, true);
                    }
                }
            }
            for (TIBBase *link : Snapshot(FSQLObjects))
                if (FSQLObjects.contains(link) && link->AfterTransactionEnd)
                    link->AfterTransactionEnd(link);
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
    for (TIBBase *link : FSQLObjects) {
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
        db->FCanTimeout = false;
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
        if (uint8_t(reply[0]) == isc_info_tra_id) {
            const int n = qBound(0, int(lib.isc_vax_integer(reply + 1, 2)), 4);
            FTransactionID = int32_t(lib.isc_vax_integer(reply + 3, short(n)));
        }
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
    qsizetype i = FSQLObjects.indexOf(Link);
    if (i < 0) {
        FSQLObjects.append(Link);
        i = FSQLObjects.size() - 1;
    }
    return int(i);
}

void TIBTransaction::RemoveSQLObject(TIBBase *Link)
{
    FSQLObjects.removeAll(Link);
}
