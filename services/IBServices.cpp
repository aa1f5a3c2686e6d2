#include "IBServices.h"

#include "IBParamBlock.h"
#include "SysUtils.h"

#include <QScopeGuard>

#include <array>
#include <cstring>

// ===========================================================================
// TIBCustomService

TIBCustomService::TIBCustomService(QObject *AOwner) : QObject(AOwner)
{
    FParams.SetOnChanging([this] { CheckInactive(); });
    FParams.SetOnChange([this] { FParamsChanged = true; });
}

TIBCustomService::~TIBCustomService()
{
    if (Active())
        IgnoringErrors([this] { Detach(); });
}

void TIBCustomService::OutputError()
{
    RaiseClientError(ibxeOutputParsingError);
}

void TIBCustomService::CheckActive() const
{
    if (!Active())
        RaiseClientError(ibxeServiceActive);
}

void TIBCustomService::CheckInactive() const
{
    if (Active())
        RaiseClientError(ibxeServiceInActive);
}

IGDSLibrary &TIBCustomService::GDSLibrary()
{
    return HeldLibrary(FServerType, FGDSLibrary);
}

void TIBCustomService::SetServerType(const QString &Value)
{
    AssignServerType(FServerType, FGDSLibrary, Value);
}

void TIBCustomService::SetActive(bool Value)
{
    if (Value == Active())
        return;
    if (Value)
        Attach();
    else
        Detach();
}

void TIBCustomService::SetServerName(const QString &Value)
{
    if (Value == FServerName)
        return;
    CheckInactive();
    FServerName = Value;
    if (FProtocol == TProtocol::Local && !Value.isEmpty())
        FProtocol = TProtocol::TCP;
    else if (FProtocol != TProtocol::Local && Value.isEmpty())
        FProtocol = TProtocol::Local;
    ServerNameChanged();
}

void TIBCustomService::SetProtocol(TProtocol Value)
{
    if (Value == FProtocol)
        return;
    CheckInactive();
    FProtocol = Value;
    if (Value == TProtocol::Local)
        FServerName.clear();
}

QString TIBCustomService::ServiceManagerName() const
{
    switch (FProtocol) {
    case TProtocol::TCP:
        return FServerName + QStringLiteral(":service_mgr");
    case TProtocol::SPX:
        return FServerName + QStringLiteral("@service_mgr");
    case TProtocol::NamedPipe:
        return QStringLiteral("\\\\") + FServerName + QStringLiteral("\\service_mgr");
    case TProtocol::Local:
        break;
    }
    return QStringLiteral("service_mgr");
}

QByteArray TIBCustomService::BuildSPB() const
{
    return BuildServiceParamBlock(FParams);
}

void TIBCustomService::Attach()
{
    CheckInactive();
    if (FServerName.isEmpty() && FProtocol != TProtocol::Local)
        RaiseClientError(ibxeServerNameMissing);
    if (FLoginPrompt) {
        if (!FOnLogin)
            RaiseClientError(ibxeOperationCancelled);
        TStringList login(FParams.Lines());
        FOnLogin(this, login);
        FParams.Assign(login.Lines());
    }
    if (FParamsChanged) {
        // Only a block built completely is kept.
        FSPB = BuildSPB();
        FParamsChanged = false;
    }
    const QByteArray name = ServiceManagerName().toLocal8Bit();
    IGDSLibrary &lib = GDSLibrary();
    if (lib.isc_service_attach(ThreadStatusVector(), static_cast<unsigned short>(name.size()), name.constData(),
                               &FHandle, static_cast<unsigned short>(FSPB.size()), FSPB.constData()) > 0) {
        FHandle = 0;
        RaiseStatusError(lib);
    }
    if (FOnAttach)
        FOnAttach(this);
}

void TIBCustomService::Detach()
{
    CheckActive();
    IGDSLibrary &lib = GDSLibrary();
    if (lib.isc_service_detach(ThreadStatusVector(), &FHandle) > 0) {
        FHandle = 0;
        RaiseStatusError(lib);
    }
    FHandle = 0;
}

void TIBCustomService::RunServiceQuery()
{
    const QByteArray items = FQueryParams;
    const QByteArray send = FQuerySend;
    FQueryParams.clear();
    FQuerySend.clear();
    if (items.isEmpty())
        RaiseClientError(ibxeQueryParamsError);
    if (FOutputBuffer.size() != FBufferSize)
        FOutputBuffer = QByteArray(qBound(1, FBufferSize, 65535), '\0');
    IGDSLibrary &lib = GDSLibrary();
    if (lib.isc_service_query(ThreadStatusVector(), &FHandle, nullptr, static_cast<unsigned short>(send.size()),
                              send.isEmpty() ? nullptr : send.constData(),
                              static_cast<unsigned short>(items.size()), items.constData(),
                              static_cast<unsigned short>(FOutputBuffer.size()), FOutputBuffer.data()) > 0) {
        FHandle = 0;
        RaiseStatusError(lib);
    }
}

TIBInfoReply TIBCustomService::OutputReply()
{
    return TIBInfoReply(GDSLibrary(), FOutputBuffer.constData(), int(FOutputBuffer.size()), ibxeOutputParsingError);
}

QString TIBCustomService::ServiceParamBySPB(int Idx) const
{
    const QString name = SPBConstantName(Idx);
    if (name.isEmpty())
        return QString();
    for (int i = 0; i < FParams.Count(); ++i) {
        const qsizetype p = FParams[i].indexOf(name);
        if (p == 0 || p == 8) {
            const qsizetype eq = FParams[i].indexOf(QLatin1Char('='));
            return eq < 0 ? QString() : FParams[i].mid(eq + 1);
        }
    }
    return QString();
}

void TIBCustomService::SetServiceParamBySPB(int Idx, const QString &Value)
{
    const QString name = SPBConstantName(Idx);
    if (name.isEmpty())
        return;
    int found = -1;
    for (int i = 0; i < FParams.Count() && found < 0; ++i) {
        const qsizetype p = FParams[i].indexOf(name);
        if (p == 0 || p == 8)
            found = i;
    }
    if (Value.isEmpty()) {
        if (found >= 0)
            FParams.Delete(found);
    } else if (found >= 0) {
        FParams.Put(found, name + QLatin1Char('=') + Value);
    } else {
        FParams.Add(name + QLatin1Char('=') + Value);
    }
}

// ===========================================================================
// TIBControlService

void TIBControlService::AppendStartString(const QString &Value, uint8_t Tag)
{
    if (Value.isEmpty())
        return;
    const QByteArray bytes = Value.toLocal8Bit();
    // The length travels in two bytes.
    if (bytes.size() > 65535)
        RaiseClientError(ibxeStringTooLarge, {bytes.size(), 65535});
    FStartParams += char(Tag);
    FStartParams += char(bytes.size() & 0xFF);
    FStartParams += char((bytes.size() >> 8) & 0xFF);
    FStartParams += bytes;
}

void TIBControlService::AppendStartInteger(int32_t Value, uint8_t Tag)
{
    FStartParams += char(Tag);
    AppendInt32(FStartParams, Value);
}

void TIBControlService::ServiceStart()
{
    CheckActive();
    FStartParams.clear();
    QByteArray block;
    {
        // The block being built never outlives the start, whatever happens.
        const auto clear = qScopeGuard([this] { FStartParams.clear(); });
        BuildStartParams();
        block = FStartParams;
    }
    if (block.isEmpty())
        RaiseClientError(ibxeStartParamsError);
    if (block.size() > 65535)
        RaiseClientError(ibxeStringTooLarge, {block.size(), 65535});
    IGDSLibrary &lib = GDSLibrary();
    if (lib.isc_service_start(ThreadStatusVector(), &FHandle, nullptr, static_cast<unsigned short>(block.size()),
                              block.constData()) > 0) {
        FHandle = 0;
        RaiseStatusError(lib);
    }
}

bool TIBControlService::IsServiceRunning()
{
    FQueryParams = QByteArray(1, char(isc_info_svc_running));
    RunServiceQuery();
    TIBInfoReply reply = OutputReply();
    reply.ExpectByte(isc_info_svc_running);
    return reply.ReadInteger() == 1;
}

// ===========================================================================
// TIBControlAndQueryService

void TIBControlAndQueryService::SetBufferSize(int32_t Value)
{
    if (Value == FBufferSize)
        return;
    FBufferSize = Value;
    if (!FOutputBuffer.isEmpty())
        FOutputBuffer = QByteArray(qBound(1, Value, 65535), '\0');
}

QByteArray TIBControlAndQueryService::QueryOutput(uint8_t Item, int &Length, uint8_t &Last)
{
    if (FAction == 0)
        RaiseClientError(ibxeQueryParamsError);
    FQueryParams = QByteArray(1, char(Item));
    RunServiceQuery();
    TIBInfoReply reply = OutputReply();
    reply.ExpectByte(Item);
    Length = reply.ReadLength();
    const QByteArray text = reply.ReadText(Length);
    // The text, then the byte that ends it, both inside the reply.
    Last = reply.ReadByte();
    return text;
}

QString TIBControlAndQueryService::GetNextLine()
{
    if (FEof)
        return QString();
    int length = 0;
    uint8_t last = 0;
    const QByteArray line = QueryOutput(isc_info_svc_line, length, last);
    if (last != isc_info_end)
        OutputError();
    // A line of no length ends the output.
    FEof = length == 0;
    return FEof ? QString() : QString::fromLocal8Bit(line);
}

QByteArray TIBControlAndQueryService::GetNextChunk()
{
    if (FEof)
        return QByteArray();
    int length = 0;
    uint8_t last = 0;
    const QByteArray chunk = QueryOutput(isc_info_svc_to_eof, length, last);
    if (last == isc_info_truncated)
        FEof = false;
    else if (last == isc_info_end)
        FEof = true;
    else
        OutputError();
    return chunk;
}

QStringList TIBControlAndQueryService::GetNextLines(int32_t Timeout)
{
    if (FEof)
        return {};
    if (FAction == 0)
        RaiseClientError(ibxeQueryParamsError);
    // The wait: its item, a two-byte length, the seconds.
    FQuerySend = QByteArray(1, char(isc_info_svc_timeout));
    FQuerySend += char(4);
    FQuerySend += char(0);
    AppendInt32(FQuerySend, qMax(1, Timeout));
    FQueryParams = QByteArray(1, char(isc_info_svc_to_eof));
    RunServiceQuery();
    TIBInfoReply reply = OutputReply();
    reply.ExpectByte(isc_info_svc_to_eof);
    const int length = reply.ReadLength();
    FPending += reply.ReadText(length);
    // After the text: the buffer filled, the wait ran out, or nothing was
    // ready yet, each leaving more to come. A finished service may still
    // hold output without saying so: only a reply with no text and no flag
    // ends it.
    bool more = length > 0;
    for (;;) {
        const uint8_t item = reply.ReadByte();
        if (item == isc_info_end)
            break;
        if (item != isc_info_truncated && item != isc_info_svc_timeout && item != isc_info_data_not_ready)
            OutputError();
        more = true;
    }
    // The server gives a line with a blank in place of its line feed.
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype end = FPending.indexOf('\n'); end >= 0; end = FPending.indexOf('\n', start)) {
        lines << QString::fromLocal8Bit(FPending.constData() + start, end - start) + QLatin1Char(' ');
        start = end + 1;
    }
    FPending.remove(0, start);
    if (!more) {
        FEof = true;
        if (!FPending.isEmpty())
            lines << QString::fromLocal8Bit(FPending);
        FPending.clear();
        lines << QString();
    }
    return lines;
}

// ===========================================================================
// Backup and restore

void TIBBackupRestoreService::AppendFiles(const TStringList &Lines, uint8_t NameTag, uint8_t LengthTag)
{
    for (int i = 0; i < Lines.Count(); ++i) {
        const QString &line = Lines[i];
        if (TrimBlanks(line).isEmpty())
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0) {
            const int32_t length = StrToInt(line.mid(eq + 1));
            AppendStartString(line.left(eq), NameTag);
            AppendStartInteger(length, LengthTag);
        } else {
            AppendStartString(line, NameTag);
        }
    }
}

void TIBBackupService::BuildStartParams()
{
    if (FDatabaseName.isEmpty())
        RaiseClientError(ibxeStartParamsError);
    BeginAction(isc_action_svc_backup);
    FStartParams = QByteArray(1, char(isc_action_svc_backup));
    AppendStartString(FDatabaseName, isc_spb_dbname);
    AppendStartInteger(int32_t(FOptions.toInt()), isc_spb_options);
    if (FVerbose)
        FStartParams += char(isc_spb_verbose);
    if (FBlockingFactor > 0)
        AppendStartInteger(FBlockingFactor, isc_spb_bkp_factor);
    AppendFiles(FBackupFile, isc_spb_bkp_file, isc_spb_bkp_length);
}

void TIBRestoreService::BuildStartParams()
{
    BeginAction(isc_action_svc_restore);
    FStartParams = QByteArray(1, char(isc_action_svc_restore));
    AppendStartInteger(int32_t(FOptions.toInt()), isc_spb_options);
    if (FVerbose)
        FStartParams += char(isc_spb_verbose);
    if (FPageSize > 0)
        AppendStartInteger(FPageSize, isc_spb_res_page_size);
    if (FPageBuffers > 0)
        AppendStartInteger(FPageBuffers, isc_spb_res_buffers);
    if (FAccessMode != TAccessMode::Unchanged) {
        FStartParams += char(isc_spb_res_access_mode);
        FStartParams += char(FAccessMode == TAccessMode::ReadOnly ? isc_spb_res_am_readonly : isc_spb_res_am_readwrite);
    }
    AppendStartString(FEUAUserName, IB_spb_res_eua_user_name);
    AppendStartString(FEUAPassword, IB_spb_res_eua_password);
    AppendFiles(FBackupFile, isc_spb_bkp_file, isc_spb_bkp_length);
    AppendFiles(FDatabaseName, isc_spb_dbname, isc_spb_res_length);
}

// ===========================================================================
// TIBConfigService

static_assert(int(TShutdownMode::Normal) == isc_spb_prp_sm_normal && int(TShutdownMode::Multi) == isc_spb_prp_sm_multi &&
              int(TShutdownMode::Single) == isc_spb_prp_sm_single && int(TShutdownMode::Full) == isc_spb_prp_sm_full);

void TIBConfigService::BuildStartParams()
{
    if (FDatabaseName.isEmpty() || FProperties.isEmpty())
        RaiseClientError(ibxeStartParamsError);
    BeginAction(isc_action_svc_properties);
    FStartParams = QByteArray(1, char(isc_action_svc_properties));
    AppendStartString(FDatabaseName, isc_spb_dbname);
    FStartParams += FProperties;
}

void TIBConfigService::Run(const QByteArray &Properties)
{
    FProperties = Properties;
    const auto limpar = qScopeGuard([this] { FProperties.clear(); });
    ServiceStart();
    // The action reports its failure through the query of its output.
    while (!Eof())
        GetNextLine();
}

void TIBConfigService::RunByte(char Tag, char Value)
{
    QByteArray p;
    p += Tag;
    p += Value;
    Run(p);
}

void TIBConfigService::RunInt(char Tag, int32_t Value)
{
    QByteArray p;
    p += Tag;
    AppendInt32(p, Value);
    Run(p);
}

void TIBConfigService::SetReserveSpace(bool Value)
{
    RunByte(isc_spb_prp_reserve_space, Value ? isc_spb_prp_res : isc_spb_prp_res_use_full);
}

void TIBConfigService::SetAsyncMode(bool Value)
{
    RunByte(isc_spb_prp_write_mode, Value ? isc_spb_prp_wm_async : isc_spb_prp_wm_sync);
}

void TIBConfigService::SetSweepInterval(int32_t Value)
{
    RunInt(isc_spb_prp_sweep_interval, Value);
}

void TIBConfigService::SetPageBuffers(int32_t Value)
{
    RunInt(isc_spb_prp_page_buffers, Value);
}

void TIBConfigService::SetDBSqlDialect(int32_t Value)
{
    RunInt(isc_spb_prp_set_sql_dialect, Value);
}

void TIBConfigService::ShutdownDatabase(TShutdownMode Mode, int32_t Wait)
{
    if (Mode == TShutdownMode::Normal)
        RaiseClientError(ibxeStartParamsError);
    QByteArray p;
    p += char(isc_spb_prp_shutdown_mode);
    p += char(int(Mode));
    p += char(isc_spb_prp_attachments_shutdown);
    AppendInt32(p, Wait);
    Run(p);
}

void TIBConfigService::ForceShutdown(TShutdownMode Mode, int32_t Wait)
{
    if (Mode == TShutdownMode::Normal)
        RaiseClientError(ibxeStartParamsError);
    QByteArray p;
    p += char(isc_spb_prp_shutdown_mode);
    p += char(int(Mode));
    p += char(isc_spb_prp_force_shutdown);
    AppendInt32(p, Wait);
    Run(p);
}

void TIBConfigService::BringDatabaseOnline(TShutdownMode Mode)
{
    QByteArray p;
    p += char(isc_spb_prp_online_mode);
    p += char(int(Mode));
    Run(p);
}

void TIBConfigService::SetReadOnly(bool Value)
{
    RunByte(isc_spb_prp_access_mode, Value ? isc_spb_prp_am_readonly : isc_spb_prp_am_readwrite);
}

// ===========================================================================
// TIBServerProperties

void TIBServerProperties::ServerNameChanged()
{
    FDatabaseInfo.Clear();
    FVersionInfo.Clear();
    FConfigParams.Clear();
    FAliasInfos.clear();
}

void TIBServerProperties::Fetch()
{
    if (FOptions.testFlag(TPropertyOption::Database))
        FetchDatabaseInfo();
    if (FOptions.testFlag(TPropertyOption::ConfigParameters))
        FetchConfigParams();
    if (FOptions.testFlag(TPropertyOption::Version))
        FetchVersionInfo();
    if (FOptions.testFlag(TPropertyOption::DBAlias))
        FetchAliasInfo();
}

void TIBServerProperties::FetchDatabaseInfo()
{
    FQueryParams = QByteArray(1, char(isc_info_svc_svr_db_info));
    RunServiceQuery();
    TIBInfoReply reply = OutputReply();
    reply.ExpectByte(isc_info_svc_svr_db_info);
    reply.ExpectByte(isc_spb_num_att);
    FDatabaseInfo.NoOfAttachments = reply.ReadInteger();
    reply.ExpectByte(isc_spb_num_db);
    const int32_t databases = reply.ReadInteger();
    // A negative or absurd count fills no list.
    const int32_t names = qBound(0, databases, FOutputBuffer.size());
    FDatabaseInfo.NoOfDatabases = databases;
    FDatabaseInfo.DbName = QStringList();
    FDatabaseInfo.DbName.reserve(names);
    for (int i = 0; i < names; ++i)
        FDatabaseInfo.DbName << QString();
    int index = 0;
    for (;;) {
        const uint8_t item = reply.ReadByte();
        if (item == isc_info_flag_end)
            break;
        if (item != isc_spb_dbname)
            OutputError();
        const QString name = reply.ReadString();
        // Names beyond the count are read past, not stored.
        if (index < names)
            FDatabaseInfo.DbName[index] = name;
        ++index;
    }
}

void TIBServerProperties::FetchVersionInfo()
{
    FQueryParams = QByteArray();
    FQueryParams += char(isc_info_svc_version);
    FQueryParams += char(isc_info_svc_server_version);
    FQueryParams += char(isc_info_svc_implementation);
    RunServiceQuery();
    TIBInfoReply reply = OutputReply();
    for (int i = 0; i < 3; ++i) {
        switch (reply.ReadByte()) {
        case isc_info_svc_version:
            FVersionInfo.ServiceVersion = reply.ReadInteger();
            break;
        case isc_info_svc_server_version:
            FVersionInfo.ServerVersion = reply.ReadString();
            break;
        case isc_info_svc_implementation:
            FVersionInfo.ServerImplementation = reply.ReadString();
            break;
        default:
            OutputError();
        }
    }
}

void TIBServerProperties::FetchConfigParams()
{
    FQueryParams = QByteArray();
    for (char item : {char(isc_info_svc_get_config), char(isc_info_svc_get_env), char(isc_info_svc_get_env_lock),
                      char(isc_info_svc_get_env_msg), char(isc_info_svc_user_dbpath)})
        FQueryParams += item;
    RunServiceQuery();
    FConfigParams.Clear();
    TIBInfoReply reply = OutputReply();
    for (;;) {
        const uint8_t item = reply.ReadByte();
        switch (item) {
        case isc_info_end:
            return;
        case isc_info_svc_get_config: {
            // Key/value pairs until the end of this item.
            const int len = reply.ReadLength();
            reply.Need(len);
            const int end = reply.Pos() + len;
            while (reply.Pos() < end) {
                const int key = reply.ReadByte();
                FConfigParams.ConfigFileKey << key;
                FConfigParams.ConfigFileValue << reply.ReadInteger();
            }
            break;
        }
        case isc_info_svc_get_env:
            FConfigParams.BaseLocation = reply.ReadString();
            break;
        case isc_info_svc_get_env_lock:
            FConfigParams.LockFileLocation = reply.ReadString();
            break;
        case isc_info_svc_get_env_msg:
            FConfigParams.MessageFileLocation = reply.ReadString();
            break;
        case isc_info_svc_user_dbpath:
            FConfigParams.SecurityDatabaseLocation = reply.ReadString();
            break;
        default:
            OutputError();
        }
    }
}

void TIBServerProperties::FetchAliasInfo()
{
    // Alias administration belongs to servers this tool does not meet.
    if (!FVersionInfo.IsMinimumVersion(QStringLiteral("7.5.1.80")))
        RaiseClientError(ibxeNotSupported);
    RaiseClientError(ibxeNotSupported);
}

bool TVersionInfo::IsMinimumVersion(const QString &MinVersion) const
{
    if (ServerVersion.isEmpty())
        throw Exception(QStringLiteral("Informação da versão para este servidor não esta disponível"));
    qsizetype start = 0;
    while (start < ServerVersion.size() && !ServerVersion[start].isDigit())
        ++start;
    const QStringList have = ServerVersion.mid(start).split(QLatin1Char('.'));
    const QStringList want = MinVersion.split(QLatin1Char('.'));
    for (int i = 0; i < want.size(); ++i) {
        QString digits;
        for (QChar c : have.value(i))
            if (c.isDigit())
                digits += c;
            else
                break;
        const int h = digits.toInt();
        const int w = want[i].toInt();
        if (h != w)
            return h > w;
    }
    return true;
}
