#pragma once

// Firebird 4's column types: INT128 (and NUMERIC/DECIMAL past 18 digits),
// DECFLOAT(16) and DECFLOAT(34), TIME and TIMESTAMP WITH TIME ZONE. A
// Firebird 4 server describes them to a client of either release, and its
// monitoring tables and CURRENT_TIMESTAMP use the time-zone types.
//
// How a value comes through:
// - the numbers as the server's own text (no Qt type holds them exactly);
// - with Firebird 4's client library, the time-zone types in the extended
//   layout, with the offset the server worked out: a QDateTime at that
//   offset;
// - Firebird 3's client library cannot even describe these types, so its
//   connections ask the server to send them as its own text (ignored by a
//   Firebird 3 server); a zoned time's text then reads as a QDateTime at its
//   offset through AsDateTime (statements and data sets alike), exactly or
//   not at all.
// Times are kept to the millisecond, QTime's precision. A zoned parameter
// takes a QDateTime with its offset through Firebird 4's client library;
// through Firebird 3's, whose parameter is text, give it as text.
// A type the layer does not know is an error naming the column and its
// type, never a guess.

#include "IBIntf.h"

#include <QDateTime>
#include <QString>

// Built against Firebird 3's <ibase.h> (Debian 12's), which lacks them: the
// values and layouts of Firebird 4's header.
#ifndef SQL_INT128
#define SQL_TIMESTAMP_TZ_EX 32748
#define SQL_TIME_TZ_EX 32750
#define SQL_INT128 32752
#define SQL_TIMESTAMP_TZ 32754
#define SQL_TIME_TZ 32756
#define SQL_DEC16 32760
#define SQL_DEC34 32762
#define isc_dpb_set_bind 93
typedef struct {
    ISC_TIME utc_time;
    ISC_USHORT time_zone;
    ISC_SHORT ext_offset;
} ISC_TIME_TZ_EX;
typedef struct {
    ISC_TIMESTAMP utc_timestamp;
    ISC_USHORT time_zone;
    ISC_SHORT ext_offset;
} ISC_TIMESTAMP_TZ_EX;
#endif

namespace IBFirebird4 {

// Room for any of these values as text: 38 digits, sign, point and
// exponent, or a date, a time and a zone's name.
constexpr int TextLength = 64;

// The day a TIME WITH TIME ZONE is reckoned on, as the server does.
QDate TimeZoneBaseDate();

// The type the layer asks the server for instead of Type (without its null
// flag), or Type itself when the layer reads it as it is.
int Coerced(int Type);

// The connection parameter that has the server send Firebird 4's types as
// text, for a Firebird client library (IGDSLibrary::FirebirdVersion) that
// predates them; empty for one that knows them, or that is no Firebird's.
QByteArray TextBinding(int FirebirdVersion);

bool IsZoned(int Type);    // TIME or TIMESTAMP WITH TIME ZONE, either layout
bool IsTimeOnly(int Type); // TIME WITH TIME ZONE, either layout

// SQL's name of a type, for messages: "TIMESTAMP WITH TIME ZONE".
QString TypeName(int Type);

// A value of the extended layout as a QDateTime at its offset.
QDateTime DecodeExtended(IGDSLibrary &Library, int Type, const char *Data);

// The server's text of a zoned value ("2026-12-10 09:30:00.1230 +03:00",
// "09:30:00.0000 America/Sao_Paulo") as a QDateTime at its offset (a time
// on TimeZoneBaseDate). Returns an
// invalid QDateTime and says why in Why when it cannot tell exactly (a zone
// this machine does not know, a wall time that a change of clocks makes
// ambiguous), or leaves Why empty when Text is no zoned time's text at all.
QDateTime ParseText(const QString &Text, QString *Why);

// A moment at its offset as the server reads it ("2026-12-10 09:30:00.123
// +03:00"; without the date when TimeOnly), for parameters.
QString ServerText(const QDateTime &Value, bool TimeOnly);

// The layer's text of a zoned value: date (unless TimeOnly), time and offset
// ("10/12/2026 09:30:00 +03:00").
QString ToText(const QDateTime &Value, bool TimeOnly);

} // namespace IBFirebird4
