#include "IBSQL.h"

#include "IBInfoReply.h"
#include "SysUtils.h"

#include <QScopeGuard>
#include <QUuid>

#include <cstring>

namespace {

// What a fetch answers past the last row (the SQLCODE of "no more rows";
// the client's header has no name for it).
constexpr ISC_STATUS FetchEndOfCursor = 100;

} // namespace

bool IsParamNameChar(QChar C)
{
    const char16_t u = C.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'_' ||
           u == u'$' || C.isLetter();
}

// ===========================================================================
// TIBSQL

TIBSQL::TIBSQL(QObject *AOwner)
    : QObject(AOwner), FBase(this), FSQLParams(std::make_unique<TIBXSQLDA>(this)),
      FSQLRecord(std::make_unique<TIBXSQLDA>(this))
{
    FCursor = QUuid::createUuid().toString().toUpper().toLatin1();
    FSQL.SetOnChanging([this] {
        if (FOnSQLChanging)
            FOnSQLChanging(this);
    });
    FSQL.SetOnChange([this] { SQLChanged(); });
    FBase.BeforeDatabaseDisconnect = [this](TIBBase *) {
        if (FHandle) {
            InternalClose(true);
            InternalFree(true);
        }
    };
    FBase.BeforeTransactionEnd = [this](TIBBase *) {
        if (FOpen)
            InternalClose(true);
    };
    FBase.SetOwnerDatabase = [this](TIBDatabase *Db) { SetDatabase(Db); };
    if (auto *db = qobject_cast<TIBDatabase *>(AOwner))
        SetDatabase(db);
    else if (auto *tr = qobject_cast<TIBTransaction *>(AOwner))
        SetTransaction(tr);
}

TIBSQL::~TIBSQL()
{
    IgnoringErrors([this] {
        if (FOpen)
            InternalClose(false);
    });
    IgnoringErrors([this] {
        if (FHandle)
            InternalFree(false);
    });
}

void TIBSQL::SetDatabase(TIBDatabase *Value)
{
    if (Value == FBase.Database())
        return;
    if (FPrepared || FHandle)
        FreeHandle();
    FBase.SetDatabase(Value);
}

void TIBSQL::SetTransaction(TIBTransaction *Value)
{
    if (Value == FBase.Transaction())
        return;
    if (FPrepared || FHandle)
        FreeHandle();
    FBase.SetTransaction(Value);
}

void TIBSQL::SetSQL(const QStringList &Value)
{
    if (Value.join(QLatin1Char('\n')) != FSQL.Lines().join(QLatin1Char('\n')))
        FSQL.Assign(Value);
}

void TIBSQL::SQLChanged()
{
    if (FHandle)
        FreeHandle();
    FPrepared = false;
}

int TIBSQL::Dialect() const
{
    return FBase.Database() ? FBase.Database()->SQLDialect() : 3;
}

const TCodePage &TIBSQL::CodePage() const
{
    return TCodePage::Get(FBase.Database() ? FBase.Database()->CharacterSetCodePage() : CP_ACP);
}

IGDSLibrary &TIBSQL::Library() const
{
    FBase.CheckDatabase();
    return FBase.Database()->GDSLibrary();
}

int TIBSQL::ClientVersion() const
{
    return FBase.Database() ? FBase.Database()->GDSLibrary().ClientVersion() : 0;
}

QByteArray TIBSQL::ReadBlob(const ISC_QUAD &Id)
{
    FBase.CheckDatabase();
    FBase.CheckTransaction();
    return IBReadBlob(*Database(), *Transaction(), Id);
}

ISC_QUAD TIBSQL::WriteBlob(const QByteArray &Bytes)
{
    IGDSLibrary &lib = Library();
    ISC_STATUS *status = ThreadStatusVector();
    TIBBlobHandle blob(lib, TIBBlobHandle::TMode::Write);
    ISC_QUAD id{};
    Call(lib.isc_create_blob2(status, DBHandle(), TRHandle(), blob.Ptr(), &id, 0, nullptr), true);
    for (qsizetype pos = 0; pos < Bytes.size();) {
        const unsigned short n = static_cast<unsigned short>(qMin<qsizetype>(Bytes.size() - pos, 32767));
        // A failed segment cancels the blob as the error leaves.
        Call(lib.isc_put_segment(status, blob.Ptr(), n, Bytes.constData() + pos), true);
        pos += n;
    }
    Call(blob.Close(status), true);
    return id;
}

ISC_STATUS TIBSQL::Call(ISC_STATUS ErrCode, bool RaiseError)
{
    if (FBase.Transaction())
        return FBase.Transaction()->Call(ErrCode, RaiseError);
    if (RaiseError && ErrCode > 0)
        RaiseStatusError(Library());
    return 0;
}

void TIBSQL::CheckClosed() const
{
    if (FOpen)
        RaiseClientError(ibxeSQLOpen);
}

void TIBSQL::CheckOpen() const
{
    if (!FOpen)
        RaiseClientError(ibxeSQLClosed);
}

void TIBSQL::CheckValidStatement() const
{
    FBase.CheckTransaction();
    if (!FHandle)
        RaiseClientError(ibxeInvalidStatementHandle);
}

void TIBSQL::PreprocessSQL()
{
    // Scans the text for parameter markers, outside strings, quoted names
    // and comments, and sends "?" in their place.
    enum { Normal, Comment, String, Param } state = Normal;
    const QString text = FSQL.Text();
    QString processed;
    processed.reserve(text.size());
    QStringList names;
    QChar quote;
    QString name;
    int generated = 0;
    const auto parseError = [](int inner) {
        RaiseClientError(ibxeSQLParseError, {IBClientErrorMessage(inner)});
    };
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text[i];
        const bool last = i == n - 1;
        switch (state) {
        case Normal:
            if (c == u'\'' || c == u'"') {
                quote = c;
                state = String;
                processed += c;
                if (last)
                    parseError(ibxeEOFInString);
            } else if (c == u':' || c == u'?') {
                processed += u'?';
                name.clear();
                state = Param;
                if (last) {
                    if (!FGenerateParamNames)
                        parseError(ibxeParamNameExpected);
                    names << QStringLiteral("IBParam%1").arg(generated++);
                }
            } else if (c == u'/' && !last && text[i + 1] == u'*') {
                processed += c;
                processed += text[i + 1];
                ++i;
                state = Comment;
                if (i == n - 1)
                    parseError(ibxeEOFInComment);
            } else {
                processed += c;
            }
            break;
        case Comment:
            processed += c;
            if (c == u'*' && !last && text[i + 1] == u'/') {
                processed += text[i + 1];
                ++i;
                state = Normal;
            } else if (last) {
                parseError(ibxeEOFInComment);
            }
            break;
        case String:
            processed += c;
            if (c == quote) {
                if (!last && text[i + 1] == quote) {
                    processed += text[i + 1];
                    ++i;
                    if (i == n - 1)
                        parseError(ibxeEOFInString);
                } else {
                    state = Normal;
                }
            } else if (last) {
                parseError(ibxeEOFInString);
            }
            break;
        case Param:
            if (name.isEmpty() && c == u'"') {
                // A quoted name runs to the next double quote; the quotes
                // are not part of it.
                const qsizetype end = text.indexOf(u'"', i + 1);
                const qsizetype stop = end < 0 ? n : end;
                names << text.mid(i + 1, stop - i - 1);
                i = stop;
                state = Normal;
            } else if (IsParamNameChar(c)) {
                name += c;
                if (last)
                    names << name;
            } else {
                if (name.isEmpty()) {
                    if (!FGenerateParamNames)
                        parseError(ibxeParamNameExpected);
                    names << QStringLiteral("IBParam%1").arg(generated++);
                } else {
                    names << name;
                }
                // The character after a name is copied as it is.
                processed += c;
                state = Normal;
            }
            break;
        }
        ++i;
    }
    FSQLParams->SetCount(int(names.size()));
    for (int p = 0; p < names.size(); ++p)
        FSQLParams->AddName(names[p], p);
    TStringList lines;
    lines.SetText(processed);
    FProcessedSQL = lines.Lines();
}

QByteArray TIBSQL::EncodedSQL() const
{
    QString text;
    for (const QString &line : FProcessedSQL) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    QByteArray bytes = CodePage().Encode(text);
    bytes += '\0';
    return bytes;
}

void TIBSQL::Prepare()
{
    CheckClosed();
    FBase.CheckDatabase();
    FBase.CheckTransaction();
    if (FPrepared)
        return;
    // Only text that is not there at all is refused here; blanks are the
    // server's to judge.
    if (FSQL.Count() == 0)
        RaiseClientError(ibxeEmptyQuery);
    if (FParamCheck)
        PreprocessSQL();
    else
        FProcessedSQL = FSQL.Lines();
    if (FProcessedSQL.isEmpty())
        RaiseClientError(ibxeEmptyQuery);

    IGDSLibrary &lib = Library();
    ISC_STATUS *status = ThreadStatusVector();
    // A statement that could not be prepared does not keep its handle.
    auto release = qScopeGuard([this, &lib] {
        if (FHandle) {
            ISC_STATUS_ARRAY ignored;
            lib.isc_dsql_free_statement(ignored, &FHandle, DSQL_drop);
            FHandle = 0;
        }
        FPrepared = false;
    });
    {
        Call(lib.isc_dsql_alloc_statement2(status, DBHandle(), &FHandle), true);
        const QByteArray sql = EncodedSQL();
        Call(lib.isc_dsql_prepare(status, TRHandle(), &FHandle, 0, sql.constData(),
                                  static_cast<unsigned short>(Dialect()), nullptr),
             true);
        char item = isc_info_sql_stmt_type;
        char reply[8] = {};
        Call(lib.isc_dsql_sql_info(status, &FHandle, 1, &item, sizeof reply, reply), true);
        // A reply too short for the length it claims is not read past.
        TIBInfoReply info(lib, reply, sizeof reply, ibxeUnknownError);
        info.ExpectByte(isc_info_sql_stmt_type);
        FSQLType = int(info.ReadItemInteger());
        switch (SQLType()) {
        case TIBSQLTypes::SQLGetSegment:
        case TIBSQLTypes::SQLPutSegment:
        case TIBSQLTypes::SQLStartTransaction:
            FreeHandle();
            RaiseClientError(ibxeNotPermitted);
        default:
            break;
        }
        if (FSQLType >= isc_info_sql_stmt_select && FSQLType <= isc_info_sql_stmt_set_generator) {
            if (FSQLParams->AsXSQLDA()) {
                Call(lib.isc_dsql_describe_bind(status, &FHandle, static_cast<unsigned short>(Dialect()), FSQLParams->AsXSQLDA()),
                     true);
                FSQLParams->Initialize();
            }
            if (SQLType() == TIBSQLTypes::SQLSelect || SQLType() == TIBSQLTypes::SQLExecProcedure ||
                SQLType() == TIBSQLTypes::SQLSelectForUpdate) {
                FSQLRecord->SetCount(1);
                Call(lib.isc_dsql_describe(status, &FHandle, static_cast<unsigned short>(Dialect()), FSQLRecord->AsXSQLDA()), true);
                const int described = FSQLRecord->AsXSQLDA()->sqld;
                if (described > FSQLRecord->AsXSQLDA()->sqln) {
                    FSQLRecord->SetCount(described);
                    Call(lib.isc_dsql_describe(status, &FHandle, static_cast<unsigned short>(Dialect()), FSQLRecord->AsXSQLDA()),
                         true);
                } else if (described == 0) {
                    FSQLRecord->SetCount(0);
                }
                FSQLRecord->Initialize();
            }
        }
        FPrepared = true;
    }
    release.dismiss();
}

void TIBSQL::ExecQuery()
{
    CheckClosed();
    if (!FPrepared)
        Prepare();
    CheckValidStatement();
    IGDSLibrary &lib = Library();
    ISC_STATUS *status = ThreadStatusVector();
    // A parameter never assigned since the statement was prepared goes as
    // NULL, never as whatever its buffer holds.
    for (int i = 0; i < FSQLParams->Count(); ++i) {
        TIBXSQLVAR &p = FSQLParams->Vars(i);
        if (!p.Modified())
            p.SetIsNull(true);
    }
    XSQLDA *in = FSQLParams->Count() > 0 ? FSQLParams->AsXSQLDA() : nullptr;
    const unsigned short dialect = static_cast<unsigned short>(Dialect());
    switch (SQLType()) {
    case TIBSQLTypes::SQLSelect:
        Call(lib.isc_dsql_execute2(status, TRHandle(), &FHandle, dialect, in, nullptr), true);
        Call(lib.isc_dsql_set_cursor_name(status, &FHandle, FCursor.constData(), 0), true);
        FOpen = true;
        FBOF = true;
        FEOF = false;
        FRecordCount = 0;
        if (FGoToFirstRecordOnExecute)
            Next();
        break;
    case TIBSQLTypes::SQLExecProcedure: {
        ISC_STATUS r = lib.isc_dsql_execute2(status, TRHandle(), &FHandle, dialect, in, FSQLRecord->AsXSQLDA());
        if (r == isc_bad_stmt_handle) {
            const QByteArray sql = EncodedSQL();
            ISC_STATUS_ARRAY ignored;
            lib.isc_dsql_prepare(ignored, TRHandle(), &FHandle, 0, sql.constData(), dialect, nullptr);
            Call(lib.isc_dsql_execute2(status, TRHandle(), &FHandle, dialect, in, FSQLRecord->AsXSQLDA()), true);
        } else if (r != 0) {
            Call(r, true);
        }
        break;
    }
    default:
        Call(lib.isc_dsql_execute(status, TRHandle(), &FHandle, dialect, in), true);
        break;
    }
}

TIBXSQLDA *TIBSQL::Next()
{
    if (FEOF)
        return nullptr;
    CheckOpen();
    IGDSLibrary &lib = Library();
    ISC_STATUS *status = ThreadStatusVector();
    const ISC_STATUS r = lib.isc_dsql_fetch(status, &FHandle, static_cast<unsigned short>(Dialect()), FSQLRecord->AsXSQLDA());
    if (r == FetchEndOfCursor || StatusVectorContains({isc_dsql_cursor_err})) {
        FEOF = true;
        return nullptr;
    }
    if (r > 0) {
        // The status goes with the close below: keep it for the error.
        ISC_STATUS_ARRAY saved;
        std::memcpy(saved, status, sizeof saved);
        IgnoringErrors([this] { InternalClose(true); });
        std::memcpy(status, saved, sizeof saved);
        Call(r, true);
    }
    ++FRecordCount;
    FBOF = false;
    return FSQLRecord.get();
}

void TIBSQL::InternalClose(bool Force)
{
    // Closed as far as this statement goes, whatever the server says.
    const auto reset = qScopeGuard([this] {
        FEOF = false;
        FBOF = false;
        FOpen = false;
        FRecordCount = 0;
    });
    {
        TIBDatabase *db = FBase.Database();
        if (FHandle && SQLType() == TIBSQLTypes::SQLSelect && FOpen && db && db->Connected()) {
            IGDSLibrary &lib = db->GDSLibrary();
            ISC_STATUS *status = ThreadStatusVector();
            const ISC_STATUS r = lib.isc_dsql_free_statement(status, &FHandle, DSQL_close);
            if (status[0] == isc_arg_gds && r > 0 && !StatusVectorContains({isc_bad_stmt_handle, isc_dsql_cursor_close_err}) &&
                Force) {
                if (r == isc_lost_db_connection)
                    db->Call(r, true);
                else
                    RaiseStatusError(lib);
            }
        }
    }
}

void TIBSQL::InternalFree(bool Force)
{
    // The handle is given up whatever the server says.
    const auto reset = qScopeGuard([this] {
        FPrepared = false;
        FHandle = 0;
    });
    {
        TIBDatabase *db = FBase.Database();
        if (FHandle && db && db->Connected()) {
            IGDSLibrary &lib = db->GDSLibrary();
            ISC_STATUS *status = ThreadStatusVector();
            const ISC_STATUS r = lib.isc_dsql_free_statement(status, &FHandle, DSQL_drop);
            if (status[0] == isc_arg_gds && r > 0 && r != isc_bad_stmt_handle && r != isc_lost_db_connection && Force)
                RaiseStatusError(lib);
        }
    }
}

void TIBSQL::Close()
{
    InternalClose(true);
}

void TIBSQL::FreeHandle()
{
    InternalFree(true);
}

TIBXSQLVAR &TIBSQL::Fields(int Idx)
{
    if (Idx < 0 || Idx >= FSQLRecord->Count())
        RaiseClientError(ibxeFieldNotFound, {QString::number(Idx)});
    return FSQLRecord->Vars(Idx);
}

int TIBSQL::FieldIndex(const QString &FieldName) const
{
    return FSQLRecord->IndexOfName(FieldName);
}

TIBXSQLVAR &TIBSQL::FieldByName(const QString &FieldName)
{
    const int i = FieldIndex(FieldName);
    if (i < 0)
        RaiseClientError(ibxeFieldNotFound, {FieldName});
    return FSQLRecord->Vars(i);
}

TIBXSQLDA &TIBSQL::Params()
{
    if (!FPrepared) {
        TIBTransaction *tr = FBase.Transaction();
        const bool started = tr && !tr->Active();
        if (started)
            tr->StartTransaction();
        try {
            Prepare();
        } catch (...) {
            if (started && tr->Active())
                tr->Commit();
            throw;
        }
        if (started && tr->Active())
            tr->Commit();
    }
    return *FSQLParams;
}

TIBXSQLVAR &TIBSQL::ParamByName(const QString &Idx)
{
    if (!FPrepared)
        Prepare();
    return FSQLParams->ByName(Idx);
}

int32_t TIBSQL::RowsAffected()
{
    if (!FPrepared)
        return -1;
    IGDSLibrary &lib = Library();
    char item = isc_info_sql_records;
    char reply[1048] = {};
    Call(lib.isc_dsql_sql_info(ThreadStatusVector(), &FHandle, 1, &item, sizeof reply, reply), true);
    TIBInfoReply info(lib, reply, sizeof reply, ibxeUnknownError);
    if (info.ReadByte() != isc_info_sql_records)
        return -1;
    info.ReadLength();
    int32_t counts[4] = {0, 0, 0, 0}; // update, delete, select, insert
    // The counts follow as items: tag, 2-byte length, value.
    while (info.Pos() + 3 <= info.Size()) {
        const uint8_t tag = info.ReadByte();
        if (tag == isc_info_end)
            break;
        const int len = info.ReadLength();
        if (len > 8 || info.Pos() + len > info.Size())
            break;
        const int32_t value = int32_t(info.ReadInteger64(len));
        switch (tag) {
        case isc_info_req_update_count: counts[0] = value; break;
        case isc_info_req_delete_count: counts[1] = value; break;
        case isc_info_req_select_count: counts[2] = value; break;
        case isc_info_req_insert_count: counts[3] = value; break;
        default: break;
        }
    }
    switch (SQLType()) {
    case TIBSQLTypes::SQLInsert:
        return counts[3];
    case TIBSQLTypes::SQLUpdate:
        return counts[0];
    case TIBSQLTypes::SQLDelete:
        return counts[1];
    default:
        return -1;
    }
}

QString TIBSQL::Plan()
{
    if (!FPrepared)
        return QString();
    switch (SQLType()) {
    case TIBSQLTypes::SQLSelect:
    case TIBSQLTypes::SQLUpdate:
    case TIBSQLTypes::SQLDelete:
    case TIBSQLTypes::SQLSelectForUpdate:
        break;
    default:
        return QString();
    }
    IGDSLibrary &lib = Library();
    char item = isc_info_sql_get_plan;
    QByteArray reply(16384, '\0');
    Call(lib.isc_dsql_sql_info(ThreadStatusVector(), &FHandle, 1, &item, short(reply.size()), reply.data()), true);
    TIBInfoReply info(lib, reply.constData(), int(reply.size()), ibxeUnknownPlan);
    if (info.ReadByte() != isc_info_sql_get_plan)
        throw EIBPlanError(ibxeUnknownPlan, IBClientErrorMessage(ibxeUnknownPlan));
    const int len = qMin(info.ReadLength(), info.Size() - info.Pos());
    return QString::fromLocal8Bit(info.ReadText(len)).trimmed();
}

QString TIBSQL::UniqueRelationName() const
{
    if (FPrepared && SQLType() == TIBSQLTypes::SQLSelect)
        return FSQLRecord->UniqueRelationName();
    return QString();
}
