#include "IBScript.h"

#include <QFile>
#include <QScopeGuard>
#include <QStringDecoder>

namespace {

inline bool Blank(QChar C)
{
    return C.unicode() <= 32;
}

QString TrimRight(const QString &S)
{
    qsizetype e = S.size();
    while (e > 0 && Blank(S[e - 1]))
        --e;
    return S.left(e);
}

// Trimmed of what the parser counts as blanks, as its tokens are.
QString TrimBlanks(const QString &S)
{
    qsizetype b = 0;
    while (b < S.size() && Blank(S[b]))
        ++b;
    return TrimRight(S.mid(b));
}

bool Is(QStringView Token, const char *Word)
{
    return Token.compare(QLatin1String(Word), Qt::CaseInsensitive) == 0;
}

} // namespace

const char *ParseKindName(TIBParseKind Kind)
{
    static const char *const names[] = {
        "stmtDDL",    "stmtDML",      "stmtSET",       "stmtCONNECT",           "stmtDrop",
        "stmtCREATE", "stmtINPUT",    "stmtUNK",       "stmtEMPTY",             "stmtTERM",
        "stmtERR",    "stmtCOMMIT",   "stmtROLLBACK",  "stmtReconnect",         "stmtRollbackSavePoint",
        "stmtReleaseSavePoint",       "stmtStartSavepoint", "stmtCOMMITRetaining", "stmtROLLBACKRetaining",
        "stmtBatchStart", "stmtBatchExecute", "stmtServerSET",
    };
    const int i = int(Kind);
    return i >= 0 && i < int(std::size(names)) ? names[i] : "?";
}

TIBSQLParser::TIBSQLParser(QObject *AOwner) : QObject(AOwner) {}

void TIBSQLParser::SetScript(const QStringList &Value)
{
    FScript = Value;
    FPaused = false;
    ScriptIndex = 0;
    ImportIndex = 0;
    FInput.clear();
}

void TIBSQLParser::SetPaused(bool Value)
{
    if (FPaused && !Value) {
        FPaused = false;
        RunLoop();
    } else {
        FPaused = Value;
    }
}

void TIBSQLParser::Parse()
{
    ScriptIndex = 0;
    ImportIndex = 0;
    FInput.clear();
    FPaused = false;
    RunLoop();
}

void TIBSQLParser::NotifyStatement(TIBParseKind AKind, const QString &SQLText)
{
    if (FOnParse)
        FOnParse(this, AKind, SQLText);
}

void TIBSQLParser::NotifyError(const QString &Error, const QString &SQLText)
{
    if (FOnError)
        FOnError(this, Error, SQLText, LineIndex);
}

// --- Work buffer -----------------------------------------------------------

void TIBSQLParser::Consume(qsizetype Count)
{
    FPos += Count;
    if (FPos >= FWork.size()) {
        FWork.resize(0); // keeps the allocation for the next line
        FPos = 0;
        FBlankTo = 0;
    } else if (FBlankTo < FPos) {
        FBlankTo = FPos;
    }
}

bool TIBSQLParser::BufferBlank()
{
    if (FBlankTo < FPos)
        FBlankTo = FPos;
    const qsizetype n = FWork.size();
    while (FBlankTo < n && Blank(FWork[FBlankTo]))
        ++FBlankTo;
    return FBlankTo >= n;
}

void TIBSQLParser::TrimLeft()
{
    BufferBlank();
    Consume(FBlankTo - FPos);
}

bool TIBSQLParser::SupplyLine()
{
    InInput = ImportIndex < FInput.size();
    const QStringList &list = InInput ? FInput : FScript;
    int32_t &index = InInput ? ImportIndex : ScriptIndex;
    if (index >= list.size())
        return false;
    // Drop the consumed front before the buffer grows.
    if (FPos > 0 && FPos >= FWork.size() / 2) {
        FWork.remove(0, FPos);
        FBlankTo -= FPos;
        FPos = 0;
    }
    do {
        FWork += QStringLiteral("\r\n");
        FWork += list[index];
        ++index;
    } while (index < list.size() && BufferBlank());
    if (InInput && BufferBlank())
        SupplyLine();
    return true;
}

bool TIBSQLParser::RemoveComments(QString &Error)
{
    TrimLeft();
    while (QStringView(FWork).mid(FPos).startsWith(u"/*")) {
        // The asterisk of "/*" may also close it: "/*/" is a whole comment.
        qsizetype from = FPos + 1;
        qsizetype end;
        while ((end = FWork.indexOf(QLatin1String("*/"), from)) < 0) {
            from = qMax(FPos + 1, FWork.size() - 1);
            const qsizetype pos = FPos;
            if (!SupplyLine()) {
                Error = QStringLiteral("Comentário inválido");
                return false;
            }
            // Supplying may have dropped the consumed front.
            from -= pos - FPos;
        }
        Consume(end + 2 - FPos);
        TrimLeft();
        if (FPos >= FWork.size())
            SupplyLine();
        TrimLeft();
    }
    return true;
}

// --- Statement assembly ----------------------------------------------------

QStringView TIBSQLParser::Token(qsizetype Index) const
{
    if (FLastUpper && Index == qsizetype(FSpans.size()) - 1)
        return FUpperLast;
    const TSpan &t = FSpans[size_t(Index)];
    return QStringView(FText).mid(t.From, t.Length);
}

const QStringList &TIBSQLParser::CurrentTokens() const
{
    if (!FTokensValid) {
        FTokens.clear();
        for (qsizetype i = 0; i < qsizetype(FSpans.size()); ++i)
            FTokens << Token(i).toString();
        FTokensValid = true;
    }
    return FTokens;
}

void TIBSQLParser::AddToken(qsizetype From, qsizetype Length)
{
    // Trimmed of characters of code 32 or below; an empty token is dropped.
    const QChar *d = FText.constData();
    qsizetype e = From + Length;
    while (From < e && Blank(d[From]))
        ++From;
    while (e > From && Blank(d[e - 1]))
        --e;
    if (e > From)
        FSpans.push_back({From, e - From});
}

bool TIBSQLParser::ProcedureEnds() const
{
    const qsizetype n = qsizetype(FSpans.size());
    if (n >= 2 && Is(Token(n - 2), "END") && Token(n - 1) == u";")
        return true;
    return n == 5 && Is(Token(0), "ALTER") && Is(Token(1), "TRIGGER") &&
           (Is(Token(3), "ACTIVE") || Is(Token(3), "INACTIVE")) && Token(4) == u";";
}

QString TIBSQLParser::AssembleStatement(bool &CommentFailed)
{
    FSpans.clear();
    FLastUpper = false;
    FTokensValid = false;
    FText.resize(0);
    bool procedure = false;
    CommentFailed = false;
    if (BufferBlank())
        SupplyLine();
    if (!InInput)
        LineIndex = ScriptIndex;
    QString error;
    if (!RemoveComments(error)) {
        CommentFailed = true;
        NotifyError(error, QString());
        return QString();
    }

    bool inString = false;
    bool inQuoted = false;
    bool inComment = false;
    bool complete = false;
    qsizetype textEnd = -1; // where a procedure body's text stops

    while (!complete && (FPos < FWork.size() || SupplyLine())) {
        const qsizetype start = FPos;
        const qsizetype n = FWork.size();
        const QChar *data = FWork.constData();
        // The token list does not change while one token is scanned.
        const bool bodyEnds = procedure && ProcedureEnds();
        // Characters above the quote, other than the slash and the
        // terminator's first one, never change the scanner's state.
        const bool fast = !bodyEnds;
        const char16_t term0 = FTerminator.isEmpty() ? 0 : FTerminator[0].unicode();
        qsizetype i = start;
        for (; i < n; ++i) {
            const char16_t c = data[i].unicode();
            if (fast && c > u'\'' && c != u'/' && c != term0)
                continue;
            if (!inString && !inQuoted && !inComment) {
                if (!procedure) {
                    // An empty terminator never matches: it would end
                    // statements without consuming anything.
                    const qsizetype t = FTerminator.size();
                    if (t > 0 && c == term0 && n - i >= t &&
                        QStringView(data + i, t) == QStringView(FTerminator)) {
                        const qsizetype from = FText.size();
                        FText.append(data + start, i - start);
                        AddToken(from, i - start);
                        if (qsizetype(FSpans.size()) > 0 && FSpans.back().From >= from) {
                            FUpperLast = Token(qsizetype(FSpans.size()) - 1).toString().toUpper();
                            FLastUpper = true;
                        }
                        Consume(i + t - FPos);
                        complete = true;
                        break;
                    }
                } else if (bodyEnds) {
                    // The body ends: its text stops before its last
                    // semicolon, and the buffer keeps what follows.
                    FText.append(data + start, i - start);
                    Consume(i - FPos);
                    textEnd = FText.lastIndexOf(u';');
                    procedure = false;
                    complete = true;
                    break;
                }
            }
            // A comment ends at its first "*/": inside one, "/*" opens
            // nothing, so "*/*" ends it.
            if (inComment) {
                if (c == u'/' && i > start && data[i - 1] == u'*')
                    inComment = false;
            } else if (c == u'/' && !inString && !inQuoted && i + 1 < n && data[i + 1] == u'*') {
                inComment = true;
            }
            if (!inComment) {
                if (c == u' ' && !inString && !inQuoted)
                    break;
                if (c == u'"' && !inString) {
                    if (inQuoted) {
                        inQuoted = false;
                        ++i;
                        break;
                    }
                    inQuoted = true;
                } else if (c == u'\'' && !inQuoted) {
                    if (inString) {
                        inString = false;
                        ++i;
                        break;
                    }
                    inString = true;
                }
            }
        }
        if (complete)
            break;
        while (i < n && Blank(data[i]))
            ++i;
        const qsizetype from = FText.size();
        FText.append(data + start, i - start);
        Consume(i - start);
        AddToken(from, i - start);

        const qsizetype count = qsizetype(FSpans.size());
        if (count == 2 && (Is(Token(0), "CREATE") || Is(Token(0), "ALTER")) &&
            (Is(Token(1), "PROCEDURE") || Is(Token(1), "TRIGGER")) && FTerminator == u";")
            procedure = true;
        if (procedure && count > 0) {
            TSpan &last = FSpans.back();
            const QStringView word = Token(count - 1);
            if (Is(word, "END;") ||
                (count == 4 && Is(Token(0), "ALTER") && Is(Token(1), "TRIGGER") &&
                 (Is(word, "ACTIVE;") || Is(word, "INACTIVE;")))) {
                --last.Length;
                FSpans.push_back({last.From + last.Length, 1});
            }
        }
    }
    // A body that ends the script ends there as well, without its semicolon.
    if (!complete && procedure && ProcedureEnds())
        textEnd = FText.lastIndexOf(u';');
    if (textEnd >= 0)
        return FText.left(textEnd);
    return FText;
}

// --- Classification --------------------------------------------------------

namespace {

// Case-insensitive view of a token.
struct Word {
    QStringView w;
    bool operator==(const char16_t *o) const { return w.compare(QStringView(o), Qt::CaseInsensitive) == 0; }
    bool operator!=(const char16_t *o) const { return !(*this == o); }
};

template <class TokenAt>
TIBParseKind ClassifyTokens(qsizetype n, TokenAt Tokens)
{
    using K = TIBParseKind;
    if (n == 0)
        return K::stmtEMPTY;
    const Word t0{Tokens(0)};
    const Word t1{n > 1 ? Tokens(1) : QStringView()};
    if (t0 == u"COMMIT") {
        if (n != 2)
            return K::stmtCOMMIT;
        if (Tokens(1) == u"RETAINING")
            return K::stmtCOMMITRetaining;
        if (Tokens(1) == u"WORK")
            return K::stmtCOMMIT;
    }
    if (t0 == u"ROLLBACK") {
        if (n == 1)
            return K::stmtROLLBACK;
        if (n == 2 && Tokens(1) == u"RETAINING")
            return K::stmtROLLBACKRetaining;
        if ((n == 4 && Tokens(1) == u"TO" && Tokens(2) == u"SAVEPOINT") ||
            (n == 5 && Tokens(2) == u"TO" && Tokens(3) == u"SAVEPOINT"))
            return K::stmtRollbackSavePoint;
        return K::stmtERR;
    }
    if (t0 == u"RECONNECT")
        return K::stmtReconnect;
    if (t0 == u"SAVEPOINT")
        return K::stmtStartSavepoint;
    if (n < 2)
        return K::stmtERR;
    if (t0 == u"BATCH") {
        if (t1 == u"START")
            return K::stmtBatchStart;
        if (t1 == u"EXECUTE")
            return K::stmtBatchExecute;
        return K::stmtERR;
    }
    if (t0 == u"RELEASE" && t1 == u"SAVEPOINT")
        return K::stmtReleaseSavePoint;
    if (t0 == u"INSERT" || t0 == u"DELETE" || t0 == u"SELECT" || t0 == u"UPDATE" || t0 == u"EXECUTE")
        return K::stmtDML;
    if (t0 == u"INPUT")
        return K::stmtINPUT;
    if (t0 == u"CONNECT")
        return K::stmtCONNECT;
    if (t0 == u"CREATE" && (t1 == u"DATABASE" || t1 == u"SCHEMA"))
        return K::stmtCREATE;
    if (t0 == u"DROP" && t1 == u"DATABASE")
        return K::stmtDrop;
    if (t0 == u"DECLARE" || t0 == u"CREATE" || t0 == u"ALTER" || t0 == u"GRANT" || t0 == u"REVOKE" ||
        t0 == u"DROP" || (t0 == u"SET" && t1 == u"GENERATOR"))
        return K::stmtDDL;
    if (t0 == u"SET" && t1 == u"STATISTICS" && n >= 3 && Word{Tokens(2)} == u"INDEX")
        return K::stmtDDL;
    if (t0 != u"SET")
        return K::stmtERR;
    if (t1 == u"TERM")
        return n == 3 ? K::stmtTERM : K::stmtERR;
    if (t1 == u"SQL")
        return n == 4 && Word{Tokens(2)} == u"DIALECT" ? K::stmtSET : K::stmtERR;
    if (t1 == u"AUTODDL" || t1 == u"STATISTICS" || t1 == u"NAMES" || t1 == u"SAVEPOINTS")
        return n == 3 ? K::stmtSET : K::stmtERR;
    if (t1 == u"PASSWORD")
        return K::stmtServerSET;
    return K::stmtERR;
}

} // namespace

TIBParseKind TIBSQLParser::Classify(const QStringList &Tokens)
{
    return ClassifyTokens(Tokens.size(), [&](qsizetype i) { return QStringView(Tokens[i]); });
}

// --- Parse loop ------------------------------------------------------------

bool TIBSQLParser::LoadInput(const QString &FileName, QString &Error)
{
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) {
        Error = QStringLiteral("Não foi possível abrir o arquivo \"%1\". %2").arg(FileName, file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    QString text;
    if (const auto bom = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*bom);
        text = decoder.decode(bytes);
    } else {
        text = QString::fromLocal8Bit(bytes);
    }
    TStringList lines;
    lines.SetText(text);
    FInput = lines.Lines();
    return true;
}

void TIBSQLParser::RunLoop()
{
    using K = TIBParseKind;
    while ((ScriptIndex < FScript.size() || !BufferBlank() || ImportIndex < FInput.size()) && !FPaused) {
        bool commentFailed = false;
        const QString text = AssembleStatement(commentFailed);
        // An unclosed comment stays in the buffer; going round again would
        // report it for ever, so the run ends here.
        if (commentFailed)
            return;
        const K kind = ClassifyTokens(qsizetype(FSpans.size()), [this](qsizetype i) { return Token(i); });
        switch (kind) {
        case K::stmtERR:
            NotifyError(QStringLiteral("Declaração inválida"), text);
            break;
        case K::stmtTERM: {
            const QString terminator = Token(2).toString();
            NotifyStatement(kind, terminator);
            FTerminator = terminator;
            break;
        }
        case K::stmtINPUT: {
            FInput.clear();
            ImportIndex = 0;
            QString name = Token(1).toString();
            if (name.startsWith(u'"') || name.startsWith(u'\''))
                name.remove(0, 1);
            if (name.endsWith(u'"') || name.endsWith(u'\''))
                name.chop(1);
            QString error;
            if (!LoadInput(name, error))
                NotifyError(error, text);
            break;
        }
        case K::stmtEMPTY:
            break;
        case K::stmtSET:
            NotifyStatement(kind, TrimRight(CurrentTokens().mid(1).join(u' ')));
            break;
        default:
            NotifyStatement(kind, text);
            break;
        }
    }
}

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
    if (reply[0] != Item)
        return 0;
    // Counters come in 4 bytes, or in 8 once they outgrow them.
    const int len = qBound(0, int(lib.isc_vax_integer(reply + 1, 2)), 8);
    if (len <= 4)
        return lib.isc_vax_integer(reply + 3, short(len));
    const uint32_t low = uint32_t(lib.isc_vax_integer(reply + 3, 4));
    const int64_t high = lib.isc_vax_integer(reply + 7, short(len - 4));
    return int64_t((uint64_t(high) << 32) | low);
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
        if (reply[0] != Item)
            return 0;
        const int len = qBound(0, int(lib.isc_vax_integer(reply.constData() + 1, 2)), int(reply.size()) - 3);
        int64_t sum = 0;
        for (int pos = 3; pos + 6 <= 3 + len; pos += 6)
            sum += lib.isc_vax_integer(reply.constData() + pos + 2, 4);
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
    const QStringList &tokens = FSQLParser->CurrentTokens();
    const auto savepoint = [&](int Index) -> QByteArray {
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
    if (!FDMLQuery)
        RaiseClientError(ibxeSQLClosed);
    if (FDMLQuery->Open())
        FDMLQuery->Close();
    FDMLQuery->SQL().SetText(SQL);
    if (FDMLQuery->Transaction() && !FDMLQuery->Transaction()->Active())
        FDMLQuery->Transaction()->StartTransaction();
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
    if (!FDMLQuery)
        RaiseClientError(ibxeSQLClosed);
    if (FDMLQuery->Open())
        FDMLQuery->Close();
    FDMLQuery->SQL().SetText(SQL);
    if (FDMLQuery->Transaction() && !FDMLQuery->Transaction()->Active())
        FDMLQuery->Transaction()->StartTransaction();
    FDMLQuery->ExecQuery();
}
