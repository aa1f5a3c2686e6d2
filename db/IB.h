#pragma once

// The error model of the database layer: the exception tree, the thread's
// status vector and the client error catalog. Turning a failed client call
// into an exception with the server's own text needs the client library:
// IBIntf.h.

#include "Exceptions.h"

#include <ibase.h>

#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <initializer_list>

class EIBError : public EDatabaseError {
public:
    EIBError(int32_t ASQLCode, const QString &Msg) : EDatabaseError(Msg), FSQLCode(ASQLCode) {}
    EIBError(int32_t ASQLCode, int32_t AIBErrorCode, const QString &Msg)
        : EDatabaseError(Msg), FSQLCode(ASQLCode), FIBErrorCode(AIBErrorCode)
    {
    }
    const char *ClassName() const override { return "EIBError"; }
    int32_t SQLCode() const { return FSQLCode; }
    int32_t IBErrorCode() const { return FIBErrorCode; }
    // Every error code of the status vector the error was raised from, in
    // order (the first is IBErrorCode); empty for the layer's own errors.
    const QList<int32_t> &ErrorCodes() const { return FErrorCodes; }
    void SetErrorCodes(const QList<int32_t> &Value) { FErrorCodes = Value; }

private:
    int32_t FSQLCode = 0;
    int32_t FIBErrorCode = 0;
    QList<int32_t> FErrorCodes;
};

ABD_EXCEPTION_CLASS(EIBInterBaseError, EIBError)
ABD_EXCEPTION_CLASS(EIBInterBaseRoleError, EIBError)
ABD_EXCEPTION_CLASS(EIBClientError, EIBError)
ABD_EXCEPTION_CLASS(EIBPlanError, EIBError)

// Codes of the client error catalog that the layer raises by name.
enum TIBClientErrorCode : int32_t {
    ibxeUnknownError = 0,
    ibxeInterBaseMissing = 1,
    ibxeIB60feature = 3,
    ibxeNotSupported = 4,
    ibxeNotPermitted = 5,
    ibxeOperationCancelled = 10,
    ibxeDPBConstantNotSupported = 11,
    ibxeTPBConstantNotSupported = 13,
    ibxeDatabaseClosed = 15,
    ibxeDatabaseOpen = 16,
    ibxeDatabaseNameMissing = 17,
    ibxeNotInTransaction = 18,
    ibxeInTransaction = 19,
    ibxeTimeoutNegative = 20,
    ibxeNoDatabasesInTransaction = 21,
    ibxeDatabaseNotAssigned = 24,
    ibxeTransactionNotAssigned = 25,
    ibxeXSQLDAIndexOutOfRange = 26,
    ibxeInvalidStatementHandle = 30,
    ibxeSQLOpen = 31,
    ibxeSQLClosed = 32,
    ibxeDatasetOpen = 33,
    ibxeUnknownSQLDataType = 35,
    ibxeInvalidDataConversion = 38,
    ibxeEmptyQuery = 42,
    ibxeFieldNotFound = 46,
    ibxeSQLParseError = 55,
    ibxeCantEndSharedTransaction = 62,
    ibxeEmptySQLStatement = 65,
    ibxeIsASelectStatement = 66,
    ibxeRequiredParamNotSet = 67,
    ibxeSQLDialectInvalid = 87,
    ibxeSPBConstantNotSupported = 88,
    ibxeSPBConstantUnknown = 89,
    ibxeServiceActive = 90,
    ibxeServiceInActive = 91,
    ibxeServerNameMissing = 92,
    ibxeQueryParamsError = 93,
    ibxeStartParamsError = 94,
    ibxeOutputParsingError = 95,
    ibxeEOFInComment = 100,
    ibxeEOFInString = 101,
    ibxeParamNameExpected = 102,
    ibxeDPBConstantUnknownEx = 114,
    ibxeTPBConstantUnknownEx = 115,
    ibxeUnknownPlan = 116,
    ibxeStringTooLarge = 119,
    ibxeInvalidLibraryType = 123,
};

// The catalog text of a code (0 to 123); empty for any other.
QString IBClientErrorMessage(int32_t Code);

// Fills a message: each "%s" or "%d" takes the next argument, "%%" is "%".
QString FormatMessage(const QString &Format, std::initializer_list<QVariant> Args);

// The calling thread's status vector.
ISC_STATUS *ThreadStatusVector();

// The error codes (isc_arg_gds clusters) of a status vector, in order.
QList<int32_t> StatusErrorCodes(const ISC_STATUS *Vector);
// Raises EIBClientError with SQLCode = Code and the catalog text filled.
[[noreturn]] void RaiseClientError(int32_t Code, std::initializer_list<QVariant> Args = {});
// Whether the thread's status vector holds one of Codes.
bool StatusVectorContains(std::initializer_list<ISC_STATUS> Codes);
bool StatusVectorContains(const ISC_STATUS *Vector, std::initializer_list<ISC_STATUS> Codes);

// A decimal integer as a parameter block needs it; EConvertError otherwise.
int32_t StrToInt(const QString &Text);
