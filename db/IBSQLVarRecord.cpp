#include "IBSQLVarRecord.h"

// ===========================================================================
// TSQLVAR

int TSQLVAR::DerivedPrecision(int Type)
{
    switch (Type) {
    case SQL_LONG:
        return 9;
    case SQL_SHORT:
        return 4;
    case SQL_INT64:
        return 18;
    default:
        return 0;
    }
}

void TSQLVAR_V1::SetSqlPrecision(int)
{
    RaiseClientError(ibxeNotSupported);
}

int TSQLVAR_V2::GetSqlPrecision() const
{
    return FXSQLVAR->sqlprecision != 0 ? FXSQLVAR->sqlprecision : DerivedPrecision(SqlDef());
}
