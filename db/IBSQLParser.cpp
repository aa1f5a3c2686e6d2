#include "IBSQLParser.h"

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
    if (FPos >= FWork.size() && FStmt < 0) {
        FWork.clear(); // the next line is taken shared, not copied in
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
    const QChar *d = FWork.constData(); // never detaches a shared line
    while (FBlankTo < n && Blank(d[FBlankTo]))
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
    // Drop the consumed front before the buffer grows, but never the
    // statement being read.
    const qsizetype keep = FStmt >= 0 ? FStmt : FPos;
    if (keep > 0 && keep >= FWork.size() / 2) {
        FWork.remove(0, keep);
        FBlankTo -= keep;
        FPos -= keep;
        if (FStmt >= 0)
            FStmt = 0;
    }
    do {
        // Outside a statement, an empty buffer takes the line itself, shared
        // and not copied: the line break before it would be trimmed anyway.
        if (FWork.isEmpty() && FStmt < 0) {
            FWork = list[index];
        } else {
            FWork += QStringLiteral("\r\n");
            FWork += list[index];
        }
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
    if (FLastUpper && Index == qsizetype(FEnds.size()) - 1)
        return FUpperLast;
    const QStringView text = Text();
    qsizetype b = Index == 0 ? 0 : FEnds[size_t(Index - 1)];
    qsizetype e = FEnds[size_t(Index)];
    while (b < e && Blank(text[b]))
        ++b;
    while (e > b && Blank(text[e - 1]))
        --e;
    return text.mid(b, e - b);
}

const QStringList &TIBSQLParser::CurrentTokens() const
{
    if (!FTokensValid) {
        FTokens.clear();
        for (qsizetype i = 0; i < qsizetype(FEnds.size()); ++i)
            FTokens << Token(i).toString();
        FTokensValid = true;
    }
    return FTokens;
}

bool TIBSQLParser::AddPiece(qsizetype AStart, qsizetype AEnd)
{
    FLength = AEnd - FStmt;
    const QChar *d = FWork.constData();
    for (qsizetype i = AStart; i < AEnd; ++i) {
        if (!Blank(d[i])) {
            FEnds.push_back(uint32_t(FLength));
            return true;
        }
    }
    return false;
}

bool TIBSQLParser::ProcedureEnds() const
{
    const qsizetype n = qsizetype(FEnds.size());
    if (n >= 2 && Is(Token(n - 2), "END") && Token(n - 1) == u";")
        return true;
    return n == 5 && Is(Token(0), "ALTER") && Is(Token(1), "TRIGGER") &&
           (Is(Token(3), "ACTIVE") || Is(Token(3), "INACTIVE")) && Token(4) == u";";
}

QString TIBSQLParser::AssembleStatement(bool &CommentFailed)
{
    // The previous statement's text and tokens are let go.
    FStmt = -1;
    FLength = 0;
    FEnds.clear();
    FLastUpper = false;
    FTokensValid = false;
    Consume(0);
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

    FStmt = FPos;
    // Room for the tokens of what the buffer holds, so that a statement of
    // many megabytes on one line does not copy its token list as it grows.
    FEnds.reserve(size_t(FWork.size() - FPos) / 4);
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
                        if (AddPiece(start, i)) {
                            FUpperLast = Token(qsizetype(FEnds.size()) - 1).toString().toUpper();
                            FLastUpper = true;
                        }
                        Consume(i + t - FPos);
                        complete = true;
                        break;
                    }
                } else if (bodyEnds) {
                    // The body ends: its text stops before its last
                    // semicolon, and the buffer keeps what follows.
                    AddPiece(start, i);
                    Consume(i - FPos);
                    textEnd = Text().lastIndexOf(u';');
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
        AddPiece(start, i);
        Consume(i - start);

        const qsizetype count = qsizetype(FEnds.size());
        if (count == 2 && (Is(Token(0), "CREATE") || Is(Token(0), "ALTER")) &&
            (Is(Token(1), "PROCEDURE") || Is(Token(1), "TRIGGER")) && FTerminator == u";")
            procedure = true;
        if (procedure && count > 0) {
            const QStringView word = Token(count - 1);
            if (Is(word, "END;") ||
                (count == 4 && Is(Token(0), "ALTER") && Is(Token(1), "TRIGGER") &&
                 (Is(word, "ACTIVE;") || Is(word, "INACTIVE;")))) {
                // The semicolon becomes a token of its own.
                const qsizetype semicolon = word.data() - Text().data() + word.size() - 1;
                FEnds.back() = uint32_t(semicolon);
                FEnds.push_back(uint32_t(semicolon + 1));
            }
        }
    }
    // A body that ends the script ends there as well, without its semicolon.
    if (!complete && procedure && ProcedureEnds())
        textEnd = Text().lastIndexOf(u';');
    return Text().left(textEnd >= 0 ? textEnd : FLength).toString();
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
        const K kind = ClassifyTokens(qsizetype(FEnds.size()), [this](qsizetype i) { return Token(i); });
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
