#pragma once

// Dates and times in the client's encodings (days and ten-thousandths of a
// second), to and from the program's dates and times of day.

#include "IBIntf.h"

#include <QDate>
#include <QTime>

void DecodeTimestamp(IGDSLibrary &Library, const ISC_TIMESTAMP &Value, QDate &Date, QTime &Time);
QDate DecodeSqlDate(IGDSLibrary &Library, const ISC_DATE &Value);
QTime DecodeSqlTime(IGDSLibrary &Library, const ISC_TIME &Value);

ISC_TIMESTAMP EncodeTimestamp(IGDSLibrary &Library, const QDate &Date, const QTime &Time);
ISC_DATE EncodeSqlDate(IGDSLibrary &Library, const QDate &Date);
ISC_TIME EncodeSqlTime(IGDSLibrary &Library, const QTime &Time);
