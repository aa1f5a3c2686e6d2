#pragma once

// SQL scripts run statement by statement (the statements come from the
// parser in IBSQLParser.h, which comes with this header).

#include "IBDatabase.h"
#include "IBQuery.h"
#include "IBSQL.h"
#include "IBSQLParser.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// ---------------------------------------------------------------------------
// Running scripts

class TIBScript;

using TIBSQLExecuteError = std::function<void(QObject *Sender, const QString &Error, const QString &SQLText,
                                              int32_t LineIndex, bool &Ignore)>;
using TIBScriptParamCheck = std::function<void(TIBScript *Sender, bool &Pause)>;

// The server's read, write, fetch and memory counters around a run.
class TIBScriptStats {
public:
    TIBDatabase *Database() const { return FDatabase; }
    void SetDatabase(TIBDatabase *Value) { FDatabase = Value; }
    void Start();
    void Stop();
    void Clear();

    int64_t Buffers = 0;
    int64_t Reads = 0;
    int64_t Writes = 0;
    int64_t SeqReads = 0;
    int64_t Fetches = 0;
    int64_t ReadIdx = 0;
    int64_t DeltaMem = 0;
    int64_t StartingMem = 0;

private:
    struct TCounters {
        int64_t Buffers, Reads, Writes, SeqReads, Fetches, ReadIdx, Memory;
    };
    TCounters Read() const;
    int64_t Item(char Item) const;
    int64_t TableSum(char Item) const;

    QPointer<TIBDatabase> FDatabase;
    TCounters FStart{};
};

class TIBScript : public QObject {
    Q_OBJECT
public:
    explicit TIBScript(QObject *AOwner = nullptr);
    ~TIBScript() override;

    bool AutoDDL() const { return FAutoDDL; }
    void SetAutoDDL(bool Value) { FAutoDDL = Value; }
    TIBQuery *Dataset() const { return FDataset; }
    void SetDataset(TIBQuery *Value);
    TIBDatabase *Database() const { return FDatabase; }
    void SetDatabase(TIBDatabase *Value);
    TIBTransaction *Transaction() const { return FTransaction; }
    void SetTransaction(TIBTransaction *Value);
    const QString &Terminator() const { return FTerminator; }
    void SetTerminator(const QString &Value);
    const QStringList &Script() const { return FSQLParser->Script(); }
    void SetScript(const QStringList &Value) { FSQLParser->SetScript(Value); }
    bool Statistics() const { return FStatsOn; }
    void SetStatistics(bool Value);
    void SetOnParse(TIBSQLParseStmt Value) { FOnParse = std::move(Value); }
    void SetOnParseError(TIBSQLParseError Value) { FOnError = std::move(Value); }
    void SetOnExecuteError(TIBSQLExecuteError Value) { FOnExecuteError = std::move(Value); }
    void SetOnParamCheck(TIBScriptParamCheck Value) { FOnParamCheck = std::move(Value); }

    bool Paused() const { return FSQLParser->Paused(); }
    void SetPaused(bool Value);
    TIBXSQLDA &Params();
    TIBXSQLVAR &ParamByName(const QString &Name);
    TIBScriptStats &Stats() { return FStats; }
    const QStringList &CurrentTokens() const { return FSQLParser->CurrentTokens(); }
    bool Validating() const { return FValidating; }
    TIBSQLParser &Parser() { return *FSQLParser; }
    TIBSQL &DDLQuery() { return *FDDLQuery; }
    TIBTransaction &DDLTransaction() { return *FDDLTransaction; }

    // Runs the whole script, statement by statement, in Transaction; the
    // first execution error leaves it (without an OnExecuteError handler).
    void ExecuteScript();
    // Parses without executing: false when some statement is invalid.
    bool ValidateScript();

protected:
    virtual void RunDML(const QString &SQL);
    virtual void RunDDL(const QString &SQL);
    virtual void RunSet(const QString &SQL);
    virtual void RunConnect(const QString &SQL);
    virtual void RunCreateDatabase(const QString &SQL);
    virtual void RunReconnect(const QString &SQL);
    virtual void RunDropDatabase(const QString &SQL);
    virtual void RunServerSet(const QString &SQL);

private:
    void ParseStatement(TIBParseKind AKind, const QString &SQLText);
    void ParseError(const QString &Error, const QString &SQLText, int32_t LineIndex);
    void HandleStatement(TIBParseKind AKind, const QString &SQLText);
    void ExecutePendingDML();
    // The run's DML statement closed, given SQL, and its transaction
    // started.
    void LoadDMLQuery(const QString &SQL);
    void EndTransactions(TIBTransactionAction Action);
    void BatchStatement(TIBParseKind AKind, const QString &SQLText);
    // A run: its DML statement object lives from BeginRun to EndRun.
    void BeginRun();
    // Ends the run, stopping the statistics first when asked; the statement
    // object goes whatever the statistics do.
    void EndRun(bool StopStatistics);
    // Runs Step (the parser) inside the run. The outermost call ends the run
    // when the parser finished or an exception leaves; a paused run lives on
    // until it is resumed.
    void Drive(const std::function<void()> &Step);
    // Asks OnParamCheck whether to wait for the values of Count parameters;
    // when it says so the run pauses.
    bool WaitForParams(int Count);

    TIBSQLParser *FSQLParser;
    bool FAutoDDL = true;
    bool FStatsOn = true;
    QPointer<TIBQuery> FDataset;
    QPointer<TIBDatabase> FDatabase;
    TIBSQLParseError FOnError;
    TIBSQLParseStmt FOnParse;
    TIBTransaction *FDDLTransaction;
    QPointer<TIBTransaction> FTransaction;
    QString FTerminator = QStringLiteral(";");
    TIBSQL *FDDLQuery;
    // The run's own statement object, bound to the connection; it lives
    // only while a run does.
    std::unique_ptr<TIBSQL> FDMLQuery;
    bool FContinue = true;
    TIBSQLExecuteError FOnExecuteError;
    TIBScriptParamCheck FOnParamCheck;
    bool FValidate = true;
    bool FValidating = false;
    TIBScriptStats FStats;
    int FSQLDialect = 3;
    QString FCharSet;
    TIBParseKind FCurrentStmt = TIBParseKind::stmtUNK;
    bool FExecuting = false;
    bool FDriving = false;
    // The current DML statement has not run yet (waiting for parameter
    // values) or failed: resuming runs it.
    bool FPendingDML = false;
    bool InBatch = false;
    QList<QByteArray> FBatchBuffer;
    int FBatchCount = 0;
    int FBufferSize = 0;
};
