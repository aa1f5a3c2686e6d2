#include "IBScript.h"

#include "IBInfoReply.h"
#include "SysUtils.h"

#include <QScopeGuard>

// ===========================================================================
// TIBScriptStats

int64_t TIBScriptStats::Item(char Item) const
{
    if (!FDatabase)
        RaiseClientError(ibxeDatabaseNotAssigned);
    IGDSLibrary &lib = FDatabase->GDSLibrary();
    char reply[512] = {};
    FDatabase->Call(lib.isc_database_info(ThreadStatusVector(), FDatabase->HandlePtr(), 1, &Item, sizeof reply, reply),
                    true);
    TIBInfoReply info(lib, reply, sizeof reply, ibxeUnknownError);
    if (info.ReadByte() != uint8_t(Item))
        return 0;
    // Counters come in 4 bytes, or in 8 once they outgrow them.
    return info.ReadItemInteger(8);
}

int64_t TIBScriptStats::TableSum(char Item) const
{
    // Per table: a 16-bit table id and a 32-bit count.
    try {
        IGDSLibrary &lib = FDatabase->GDSLibrary();
        QByteArray reply(20480, '\0');
        if (lib.isc_database_info(ThreadStatusVector(), FDatabase->HandlePtr(), 1, &Item, short(reply.size()),
                                  reply.data()) > 0)
            return 0;
        TIBInfoReply info(lib, reply.constData(), int(reply.size()), ibxeUnknownError);
        if (info.ReadByte() != uint8_t(Item))
            return 0;
        const int len = qMin(info.ReadLength(), info.Size() - info.Pos());
        const int end = info.Pos() + len;
        int64_t sum = 0;
        while (info.Pos() + 6 <= end) {
            info.ReadInteger(2);
            sum += info.ReadInteger(4);
        }
        return sum;
    } catch (...) {
        return 0;
    }
}

TIBScriptStats::TCounters TIBScriptStats::Read() const
{
    TCounters c{};
    c.Buffers = Item(isc_info_num_buffers);
    c.Reads = Item(isc_info_reads);
    c.Writes = Item(isc_info_writes);
    c.Fetches = Item(isc_info_fetches);
    c.Memory = Item(isc_info_current_memory);
    c.SeqReads = TableSum(isc_info_read_seq_count);
    c.ReadIdx = TableSum(isc_info_read_idx_count);
    return c;
}

void TIBScriptStats::Start()
{
    FStart = Read();
    StartingMem = FStart.Memory;
}

void TIBScriptStats::Stop()
{
    const TCounters now = Read();
    Buffers += now.Buffers - FStart.Buffers;
    Reads += now.Reads - FStart.Reads;
    Writes += now.Writes - FStart.Writes;
    SeqReads += now.SeqReads - FStart.SeqReads;
    Fetches += now.Fetches - FStart.Fetches;
    ReadIdx += now.ReadIdx - FStart.ReadIdx;
    DeltaMem += now.Memory - FStart.Memory;
}

void TIBScriptStats::Clear()
{
    Buffers = Reads = Writes = SeqReads = Fetches = ReadIdx = DeltaMem = StartingMem = 0;
}

// ===========================================================================
// TIBScript

TIBScript::TIBScript(QObject *AOwner) : QObject(AOwner)
{
    FSQLParser = new TIBSQLParser(this);
    FSQLParser->SetOnParse([this](QObject *, TIBParseKind kind, const QString &text) { ParseStatement(kind, text); });
    FSQLParser->SetOnError(
        [this](QObject *, const QString &error, const QString &text, int32_t line) { ParseError(error, text, line); });
    FDDLTransaction = new TIBTransaction(this);
    FDDLQuery = new TIBSQL(this);
    FDDLQuery->SetParamCheck(false);
}

TIBScript::~TIBScript() = default;

void TIBScript::SetDatabase(TIBDatabase *Value)
{
    if (Value == FDatabase)
        return;
    FDatabase = Value;
    if (Value && !FTransaction)
        SetTransaction(Value->DefaultTransaction());
    FDDLQuery->SetDatabase(Value);
    FDDLTransaction->SetDefaultDatabase(Value);
    FStats.SetDatabase(Value);
    if (FDMLQuery)
        FDMLQuery->SetDatabase(Value);
}

void TIBScript::SetTransaction(TIBTransaction *Value)
{
    if (Value == FTransaction)
        return;
    FTransaction = Value;
    if (Value && !FDatabase)
        SetDatabase(Value->DefaultDatabase());
    if (FDMLQuery)
        FDMLQuery->SetTransaction(Value);
}

void TIBScript::SetDataset(TIBQuery *Value)
{
    FDataset = Value;
}

void TIBScript::SetTerminator(const QString &Value)
{
    if (Value == FTerminator)
        return;
    FTerminator = Value;
    FSQLParser->SetTerminator(Value);
}

void TIBScript::SetStatistics(bool Value)
{
    if (Value == FStatsOn)
        return;
    FStatsOn = Value;
    if (FExecuting) {
        if (Value)
            FStats.Start();
        else
            FStats.Stop();
    }
}

TIBXSQLDA &TIBScript::Params()
{
    if (FDataset)
        return FDataset->QSelect()->Params();
    if (!FDMLQuery)
        RaiseClientError(ibxeSQLClosed);
    return FDMLQuery->Params();
}

TIBXSQLVAR &TIBScript::ParamByName(const QString &Name)
{
    return Params().ByName(Name);
}

void TIBScript::ExecuteScript()
{
    FContinue = true;
    FCharSet.clear();
    InBatch = false;
    Drive([this] {
        BeginRun();
        FStats.Clear();
        if (FStatsOn && FDatabase && FDatabase->Connected())
            FStats.Start();
        FSQLParser->Parse();
    });
}

void TIBScript::BeginRun()
{
    FExecuting = true;
    FPendingDML = false;
    FDMLQuery.reset();
    FDMLQuery = std::make_unique<TIBSQL>();
    FDMLQuery->SetDatabase(FDatabase);
    if (FTransaction)
        FDMLQuery->SetTransaction(FTransaction);
}

void TIBScript::EndRun(bool StopStatistics)
{
    const auto release = qScopeGuard([this] {
        FExecuting = false;
        FPendingDML = false;
        FDMLQuery.reset();
    });
    if (StopStatistics && FStatsOn)
        FStats.Stop();
}

void TIBScript::Drive(const std::function<void()> &Step)
{
    if (FDriving) {
        Step();
        return;
    }
    FDriving = true;
    try {
        Step();
    } catch (...) {
        // An error leaving the run ends it; its statistics stay as they were.
        FDriving = false;
        EndRun(false);
        throw;
    }
    FDriving = false;
    if (FExecuting && !FSQLParser->Paused())
        EndRun(true);
}

bool TIBScript::ValidateScript()
{
    FValidating = true;
    FValidate = true;
    try {
        FSQLParser->Parse();
    } catch (...) {
        FValidating = false;
        throw;
    }
    FValidating = false;
    return FValidate;
}

void TIBScript::ParseError(const QString &Error, const QString &SQLText, int32_t LineIndex)
{
    if (FOnError)
        FOnError(this, Error, SQLText, LineIndex);
    FValidate = false;
    FSQLParser->SetPaused(true);
}

void TIBScript::ParseStatement(TIBParseKind AKind, const QString &SQLText)
{
    try {
        FCurrentStmt = AKind;
        if (!FValidating) {
            if (InBatch)
                BatchStatement(AKind, SQLText);
            else
                HandleStatement(AKind, SQLText);
        }
        if (FOnParse)
            FOnParse(this, AKind, SQLText);
    } catch (const EIBError &e) {
        FContinue = false;
        FValidate = false;
        FSQLParser->SetPaused(true);
        if (!FOnExecuteError)
            throw;
        bool ignore = FContinue;
        FOnExecuteError(this, e.Message(), SQLText, FSQLParser->CurrentLine(), ignore);
        if (ignore) {
            FContinue = true;
            FPendingDML = false;
            FSQLParser->SetPaused(false);
        }
    }
}

void TIBScript::EndTransactions(TIBTransactionAction Action)
{
    for (TIBTransaction *tr : {static_cast<TIBTransaction *>(FTransaction), FDDLTransaction}) {
        if (!tr || !tr->Active())
            continue;
        switch (Action) {
        case TIBTransactionAction::TACommit: tr->Commit(); break;
        case TIBTransactionAction::TARollback: tr->Rollback(); break;
        case TIBTransactionAction::TACommitRetaining: tr->CommitRetaining(); break;
        case TIBTransactionAction::TARollbackRetaining: tr->RollbackRetaining(); break;
        }
    }
}

void TIBScript::HandleStatement(TIBParseKind AKind, const QString &SQLText)
{
    using K = TIBParseKind;
    // The token list is made only for the kinds that read it: a statement
    // of a million tokens must not build a million strings to be run.
    const auto savepoint = [this](int Index) -> QByteArray {
        const QStringList &tokens = FSQLParser->CurrentTokens();
        return tokens.value(Index < 0 ? tokens.size() - 1 : Index).toLocal8Bit();
    };
    switch (AKind) {
    case K::stmtDDL:
        RunDDL(SQLText);
        break;
    case K::stmtDML:
        RunDML(SQLText);
        break;
    case K::stmtSET:
        RunSet(SQLText);
        break;
    case K::stmtTERM:
        SetTerminator(TrimBlanks(SQLText));
        break;
    case K::stmtCOMMIT:
        EndTransactions(TIBTransactionAction::TACommit);
        break;
    case K::stmtROLLBACK:
        EndTransactions(TIBTransactionAction::TARollback);
        break;
    case K::stmtCOMMITRetaining:
        EndTransactions(TIBTransactionAction::TACommitRetaining);
        break;
    case K::stmtROLLBACKRetaining:
        EndTransactions(TIBTransactionAction::TARollbackRetaining);
        break;
    case K::stmtRollbackSavePoint:
    case K::stmtReleaseSavePoint:
    case K::stmtStartSavepoint: {
        if (!FDatabase)
            RaiseClientError(ibxeDatabaseNotAssigned);
        if (!FTransaction)
            RaiseClientError(ibxeTransactionNotAssigned);
        IGDSLibrary &lib = FDatabase->GDSLibrary();
        ISC_STATUS *status = ThreadStatusVector();
        ISC_STATUS r;
        if (AKind == K::stmtRollbackSavePoint)
            r = lib.isc_rollback_savepoint(status, FTransaction->HandlePtr(), savepoint(-1).constData(), 0);
        else if (AKind == K::stmtReleaseSavePoint)
            r = lib.isc_release_savepoint(status, FTransaction->HandlePtr(), savepoint(2).constData());
        else
            r = lib.isc_start_savepoint(status, FTransaction->HandlePtr(), savepoint(1).constData());
        FTransaction->Call(r, true);
        break;
    }
    case K::stmtCONNECT:
        RunConnect(SQLText);
        break;
    case K::stmtCREATE:
        RunCreateDatabase(SQLText);
        break;
    case K::stmtDrop:
        RunDropDatabase(SQLText);
        break;
    case K::stmtReconnect:
        RunReconnect(SQLText);
        break;
    case K::stmtServerSET:
        RunServerSet(SQLText);
        break;
    case K::stmtBatchStart:
        InBatch = true;
        FBatchCount = 0;
        FBufferSize = 0;
        FBatchBuffer.clear();
        break;
    default:
        break;
    }
}

void TIBScript::BatchStatement(TIBParseKind AKind, const QString &SQLText)
{
    using K = TIBParseKind;
    switch (AKind) {
    case K::stmtDDL:
    case K::stmtDML: {
        const int page = FDatabase ? FDatabase->CharacterSetCodePage() : CP_ACP;
        QByteArray text = TCodePage::Get(page).Encode(SQLText);
        text += '\0';
        FBufferSize += int(text.size());
        FBatchBuffer.append(text);
        ++FBatchCount;
        break;
    }
    case K::stmtTERM:
        SetTerminator(TrimBlanks(SQLText));
        break;
    case K::stmtBatchExecute: {
        // The block ends whatever happens.
        const QList<QByteArray> texts = FBatchBuffer;
        InBatch = false;
        FBatchBuffer.clear();
        FBatchCount = 0;
        FBufferSize = 0;
        if (!FDatabase || !FTransaction)
            RaiseClientError(ibxeDatabaseNotAssigned);
        if (!FTransaction->Active())
            FTransaction->StartTransaction();
        std::vector<char *> pointers;
        for (const QByteArray &t : texts)
            pointers.push_back(const_cast<char *>(t.constData()));
        std::vector<ISC_ULONG> results(texts.size());
        IGDSLibrary &lib = FDatabase->GDSLibrary();
        FTransaction->Call(lib.isc_dsql_batch_execute_immed(ThreadStatusVector(), FDatabase->HandlePtr(),
                                                            FTransaction->HandlePtr(),
                                                            static_cast<unsigned short>(FDatabase->SQLDialect()),
                                                            ISC_ULONG(texts.size()), pointers.data(), results.data()),
                           true);
        break;
    }
    default:
        throw EIBError(-1, QStringLiteral("Only DDL and DML (excluding Select statements) allowed within a Batch block"));
    }
}

void TIBScript::RunDDL(const QString &SQL)
{
    TIBTransaction *tr = FAutoDDL ? FDDLTransaction : static_cast<TIBTransaction *>(FTransaction);
    FDDLQuery->SetTransaction(tr);
    try {
        if (!tr)
            RaiseClientError(ibxeTransactionNotAssigned);
        if (!tr->Active())
            tr->StartTransaction();
        FDDLQuery->SQL().SetText(SQL);
        FDDLQuery->ExecQuery();
        if (FAutoDDL)
            FDDLTransaction->Commit();
    } catch (...) {
        if (FAutoDDL && FDDLTransaction->Active()) {
            try {
                FDDLTransaction->Rollback();
            } catch (...) {
            }
        }
        throw;
    }
}

bool TIBScript::WaitForParams(int Count)
{
    if (Count == 0 || !FOnParamCheck)
        return false;
    bool pause = false;
    FOnParamCheck(this, pause);
    if (pause)
        FSQLParser->SetPaused(true);
    return pause;
}

void TIBScript::LoadDMLQuery(const QString &SQL)
{
    if (!FDMLQuery)
        RaiseClientError(ibxeSQLClosed);
    if (FDMLQuery->Open())
        FDMLQuery->Close();
    FDMLQuery->SQL().SetText(SQL);
    if (FDMLQuery->Transaction() && !FDMLQuery->Transaction()->Active())
        FDMLQuery->Transaction()->StartTransaction();
}

void TIBScript::RunDML(const QString &SQL)
{
    FPendingDML = false;
    if (FDataset) {
        FDataset->Close();
        FDataset->SQL().SetText(SQL);
        FPendingDML = true;
        FDataset->Prepare();
        if (WaitForParams(FDataset->ParamCount()))
            return;
        if (FDataset->StatementType() == TIBSQLTypes::SQLSelect)
            FDataset->Open();
        else
            FDataset->ExecSQL();
        FPendingDML = false;
        return;
    }
    LoadDMLQuery(SQL);
    FPendingDML = true;
    FDMLQuery->Prepare();
    if (WaitForParams(FDMLQuery->ParamArea().Count()))
        return;
    FDMLQuery->ExecQuery();
    FPendingDML = false;
}

void TIBScript::ExecutePendingDML()
{
    if (FDataset) {
        FDataset->Prepare();
        // The values given through Params become the data set's own.
        TIBXSQLDA &area = FDataset->QSelect()->ParamArea();
        for (int i = 0; i < area.Count(); ++i) {
            const TIBXSQLVAR &v = area.Vars(i);
            if (!v.Modified())
                continue;
            if (TParam *p = FDataset->Params().FindParam(v.Name()))
                p->Value = v.IsNull() ? QVariant() : v.AsVariant();
        }
        if (FDataset->StatementType() == TIBSQLTypes::SQLSelect)
            FDataset->Open();
        else
            FDataset->ExecSQL();
    } else if (FDMLQuery) {
        FDMLQuery->ExecQuery();
    }
    FPendingDML = false;
}

void TIBScript::SetPaused(bool Value)
{
    if (!FSQLParser->Paused()) {
        // Stops a running parse before its next statement.
        FSQLParser->SetPaused(Value);
        return;
    }
    Drive([&] {
        // A run that an error ended goes on as a run of its own.
        if (!Value && !FExecuting) {
            BeginRun();
            if (FStatsOn && FDatabase && FDatabase->Connected())
                FStats.Start();
        }
        if (FCurrentStmt == TIBParseKind::stmtDML && FPendingDML)
            ExecutePendingDML();
        FSQLParser->SetPaused(Value);
    });
}

void TIBScript::RunSet(const QString &)
{
    const QStringList &t = FSQLParser->CurrentTokens();
    const QString what = t.value(1).toUpper();
    if (what == u"AUTODDL") {
        FAutoDDL = t.value(2) == u"ON";
    } else if (what == u"STATISTICS") {
        SetStatistics(t.value(2) == u"ON");
    } else if (what == u"SQL") {
        FSQLDialect = StrToInt(t.value(3));
        if (FDatabase && FDatabase->SQLDialect() != FSQLDialect) {
            const bool connected = FDatabase->Connected();
            if (connected)
                FDatabase->Close();
            FDatabase->SetSQLDialect(FSQLDialect);
            if (connected)
                FDatabase->Open();
        }
    } else if (what == u"NAMES") {
        FCharSet = t.value(2);
    } else if (what == u"SAVEPOINTS") {
        if (!FTransaction)
            return;
        TStringList &params = FTransaction->Params();
        // The line's name in any case, with or without its block's prefix.
        int i = -1;
        for (int n = 0; n < params.Count() && i < 0; ++n) {
            const QString &line = params[n];
            const qsizetype eq = line.indexOf(u'=');
            QStringView name = eq < 0 ? QStringView(line) : QStringView(line).first(eq);
            if (name.startsWith(u"isc_tpb_", Qt::CaseInsensitive))
                name = name.mid(8);
            if (name.compare(u"no_savepoint", Qt::CaseInsensitive) == 0)
                i = n;
        }
        if (t.value(2) == u"OFF") {
            if (i < 0)
                params.Add(QStringLiteral("no_savepoint"));
        } else if (i >= 0) {
            params.Delete(i);
        }
    }
}

// Attaching to other databases from inside a script is left out: the tool
// runs its scripts on the connection it opened itself.
void TIBScript::RunConnect(const QString &)
{
    RaiseClientError(ibxeNotSupported);
}

void TIBScript::RunCreateDatabase(const QString &)
{
    RaiseClientError(ibxeNotSupported);
}

void TIBScript::RunReconnect(const QString &)
{
    if (!FDatabase)
        RaiseClientError(ibxeDatabaseNotAssigned);
    FDatabase->Close();
    FDatabase->Open();
}

void TIBScript::RunDropDatabase(const QString &)
{
    if (!FDatabase)
        RaiseClientError(ibxeDatabaseNotAssigned);
    FDatabase->DropDatabase();
}

void TIBScript::RunServerSet(const QString &SQL)
{
    LoadDMLQuery(SQL);
    FDMLQuery->ExecQuery();
}
