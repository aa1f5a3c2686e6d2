#pragma once

// SQL statements: the statement that prepares, executes and fetches
// through its descriptor areas (IBXSQLDA.h and IBSQLVar.h, which come with
// this header), and blobs (IBBlob.h).

#include "Classes.h"
#include "IBBlob.h"
#include "IBDatabase.h"
#include "IBSQLVar.h"
#include "IBXSQLDA.h"
#include "SysUtils.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

class TIBSQL;
class TIBXSQLDA;

// A character of an unquoted parameter name (after the colon): ASCII
// letters, digits, "_" and "$", and letters of any script. Statements and
// queries read names by this one rule.
bool IsParamNameChar(QChar C);

enum class TIBSQLTypes : int {
    SQLUnknown = 0,
    SQLSelect = 1,
    SQLInsert = 2,
    SQLUpdate = 3,
    SQLDelete = 4,
    SQLDDL = 5,
    SQLGetSegment = 6,
    SQLPutSegment = 7,
    SQLExecProcedure = 8,
    SQLStartTransaction = 9,
    SQLCommit = 10,
    SQLRollback = 11,
    SQLSelectForUpdate = 12,
    SQLSetGenerator = 13,
};

class TIBSQL : public QObject, public TIBValueContext {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;

    explicit TIBSQL(QObject *AOwner = nullptr);
    ~TIBSQL() override;

    TIBDatabase *Database() const { return FBase.Database(); }
    void SetDatabase(TIBDatabase *Value);
    TIBTransaction *Transaction() const { return FBase.Transaction(); }
    void SetTransaction(TIBTransaction *Value);
    bool GoToFirstRecordOnExecute() const { return FGoToFirstRecordOnExecute; }
    void SetGoToFirstRecordOnExecute(bool Value) { FGoToFirstRecordOnExecute = Value; }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool Value) { FParamCheck = Value; }
    bool GenerateParamNames() const { return FGenerateParamNames; }
    void SetGenerateParamNames(bool Value) { FGenerateParamNames = Value; }
    TStringList &SQL() { return FSQL; }
    // Copies the lines only when their text differs.
    void SetSQL(const QStringList &Value);
    void SetOnSQLChanging(TNotifyEvent Value) { FOnSQLChanging = std::move(Value); }

    bool Bof() const { return FBOF; }
    bool Eof() const { return FEOF || !FOpen; }
    bool Open() const { return FOpen; }
    bool Prepared() const { return FPrepared; }
    int32_t RecordCount() const { return FRecordCount; }
    int32_t RowsAffected();
    QString Plan();
    TIBSQLTypes SQLType() const { return TIBSQLTypes(FSQLType); }
    int SQLTypeCode() const { return FSQLType; }
    isc_stmt_handle Handle() const { return FHandle; }
    isc_db_handle *DBHandle() const { return FBase.DBHandle(); }
    isc_tr_handle *TRHandle() const { return FBase.TRHandle(); }
    QString UniqueRelationName() const;
    const QStringList &ProcessedSQL() const { return FProcessedSQL; }
    TIBBase &Base() { return FBase; }

    void Prepare();
    void ExecQuery();
    TIBXSQLDA *Next();
    void Close();
    void FreeHandle();
    void Unprepare() { FreeHandle(); }

    TIBXSQLDA &Current() { return *FSQLRecord; }
    TIBXSQLVAR &Fields(int Idx);
    int FieldIndex(const QString &FieldName) const;
    TIBXSQLVAR &FieldByName(const QString &FieldName);
    int FieldCount() const { return FSQLRecord->Count(); }
    TIBXSQLVAR &ParamByName(const QString &Idx);
    TIBXSQLDA &Params();
    // The input area as it stands, without preparing.
    TIBXSQLDA &ParamArea() { return *FSQLParams; }

    ISC_STATUS Call(ISC_STATUS ErrCode, bool RaiseError);
    void CheckClosed() const;
    void CheckOpen() const;
    void CheckValidStatement() const;

    // The statement's SQL dialect (the connection's; 3 without one).
    int Dialect() const override;
    // Code page for text of this statement's connection.
    const TCodePage &CodePage() const override;
    IGDSLibrary &Library() const override;
    int ClientVersion() const override;
    // A blob of the statement's connection and transaction, read whole or
    // written from Bytes.
    QByteArray ReadBlob(const ISC_QUAD &Id) override;
    ISC_QUAD WriteBlob(const QByteArray &Bytes) override;

    // The parameter scan: fills ProcessedSQL and the input area's names.
    void PreprocessSQL();

private:
    void SQLChanged();
    QByteArray EncodedSQL() const;
    void InternalClose(bool Force);
    void InternalFree(bool Force);

    TIBBase FBase;
    bool FBOF = false;
    bool FEOF = false;
    bool FGoToFirstRecordOnExecute = true;
    bool FOpen = false;
    bool FPrepared = false;
    int32_t FRecordCount = 0;
    QByteArray FCursor;
    isc_stmt_handle FHandle = 0;
    TNotifyEvent FOnSQLChanging;
    TStringList FSQL;
    bool FParamCheck = true;
    QStringList FProcessedSQL;
    std::unique_ptr<TIBXSQLDA> FSQLParams;
    std::unique_ptr<TIBXSQLDA> FSQLRecord;
    int FSQLType = 0;
    bool FGenerateParamNames = false;
};
