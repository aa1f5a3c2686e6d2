#pragma once

// Splitting SQL scripts into statements: the current terminator and SET
// TERM, procedure and trigger bodies, leading comments, quoted text, INPUT
// files.

#include "Classes.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

enum class TIBParseKind : int {
    stmtDDL = 0,
    stmtDML = 1,
    stmtSET = 2,
    stmtCONNECT = 3,
    stmtDrop = 4,
    stmtCREATE = 5,
    stmtINPUT = 6,
    stmtUNK = 7,
    stmtEMPTY = 8,
    stmtTERM = 9,
    stmtERR = 10,
    stmtCOMMIT = 11,
    stmtROLLBACK = 12,
    stmtReconnect = 13,
    stmtRollbackSavePoint = 14,
    stmtReleaseSavePoint = 15,
    stmtStartSavepoint = 16,
    stmtCOMMITRetaining = 17,
    stmtROLLBACKRetaining = 18,
    stmtBatchStart = 19,
    stmtBatchExecute = 20,
    stmtServerSET = 21,
};

const char *ParseKindName(TIBParseKind Kind);

using TIBSQLParseStmt = std::function<void(QObject *Sender, TIBParseKind AKind, const QString &SQLText)>;
using TIBSQLParseError =
    std::function<void(QObject *Sender, const QString &Error, const QString &SQLText, int32_t LineIndex)>;

class TIBSQLParser : public QObject {
    Q_OBJECT
public:
    explicit TIBSQLParser(QObject *AOwner = nullptr);

    // Runs the parse loop from the first script line; the terminator and any
    // text a previous run left unconsumed carry over.
    void Parse();

    bool Paused() const { return FPaused; }
    // True stops the loop before the next statement; false on a paused
    // parser goes on from where it stopped, inside this call.
    void SetPaused(bool Value);

    const QStringList &Script() const { return FScript; }
    void SetScript(const QStringList &Value);
    const QString &Terminator() const { return FTerminator; }
    void SetTerminator(const QString &Value) { FTerminator = Value; }

    void SetOnParse(TIBSQLParseStmt Value) { FOnParse = std::move(Value); }
    void SetOnError(TIBSQLParseError Value) { FOnError = std::move(Value); }

    // 1-based script line on which the current statement begins.
    int32_t CurrentLine() const { return LineIndex; }
    const QStringList &CurrentTokens() const;

    // Kind of a statement from its tokens.
    static TIBParseKind Classify(const QStringList &Tokens);

protected:
    virtual void NotifyStatement(TIBParseKind AKind, const QString &SQLText);
    virtual void NotifyError(const QString &Error, const QString &SQLText);

private:
    bool SupplyLine();
    bool BufferBlank();
    void TrimLeft();
    // Removes the comments that lead a statement; false with Error set when
    // one is not closed before the lines run out.
    bool RemoveComments(QString &Error);
    // Assembles the next statement: its tokens and the returned text.
    // CommentFailed is set when a leading comment could not be removed.
    QString AssembleStatement(bool &CommentFailed);
    bool ProcedureEnds() const;
    void RunLoop();
    bool LoadInput(const QString &FileName, QString &Error);
    void Consume(qsizetype Count);

    TIBSQLParseError FOnError;
    TIBSQLParseStmt FOnParse;
    QStringList FScript;
    QStringList FInput;
    QString FTerminator = QStringLiteral(";");
    bool FPaused = false;
    // The current statement's text stays where it was read, in FWork from
    // FStmt on, FLength characters long, until the next statement begins.
    // Its tokens are kept as the ends of the pieces the scanner cut, relative
    // to FStmt; a token is its piece trimmed of blanks (pieces that are all
    // blank are not kept, and trimming skips them). The token before the
    // terminator is kept upper-cased apart. The list of strings is made only
    // when asked for. Ends are 32-bit to halve what a statement of millions
    // of tokens costs; no statement comes near 4 G characters (the server
    // refuses any over 10 MB, and such a line alone would take 8 GB).
    QStringView Text() const { return QStringView(FWork).mid(FStmt, FLength); }
    QStringView Token(qsizetype Index) const;
    // Ends a piece at FWork[AEnd]; true when it held a token.
    bool AddPiece(qsizetype AStart, qsizetype AEnd);
    qsizetype FStmt = -1;
    qsizetype FLength = 0;
    std::vector<uint32_t> FEnds;
    QString FUpperLast;
    bool FLastUpper = false;
    mutable QStringList FTokens;
    mutable bool FTokensValid = false;
    // Work buffer: FWork from FPos on is read and not yet consumed. Consuming
    // moves FPos; the consumed front (before the current statement) is
    // dropped only now and then, so text is never copied again and again.
    QString FWork;
    qsizetype FPos = 0;
    qsizetype FBlankTo = 0; // FWork[FPos, FBlankTo) is known to be blank
    int32_t ScriptIndex = 0;
    int32_t LineIndex = 0;
    int32_t ImportIndex = 0;
    bool InInput = false;
};
