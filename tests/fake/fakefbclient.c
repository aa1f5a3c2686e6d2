/* A stand-in for the Firebird client library, for what a real server cannot
   show: missing entry points, other client versions, crafted status
   vectors. Every function succeeds and does nothing unless said below.
   Variants are chosen at compile time:
     FAKE_NO_ROLLBACK_RETAINING  no isc_rollback_retaining, no client version
     FAKE_MISSING_FETCH          no isc_dsql_fetch (a required entry point)
     FAKE_MAJOR, FAKE_MINOR      what isc_get_client_*_version report */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#ifndef FAKE_MAJOR
#define FAKE_MAJOR 6
#endif
#ifndef FAKE_MINOR
#define FAKE_MINOR 3
#endif

#define EXPORT __attribute__((visibility("default")))

/* Every call is written to a log that tests read: one name a line, with
   the option of isc_dsql_free_statement. */
static char call_log[1 << 16];
static size_t log_length;
static void log_call(const char *name, int option)
{
    char line[96];
    int n = option >= 0 ? snprintf(line, sizeof line, "%s:%d\n", name, option)
                        : snprintf(line, sizeof line, "%s\n", name);
    if (n > 0 && log_length + (size_t)n < sizeof call_log) {
        memcpy(call_log + log_length, line, (size_t)n);
        log_length += (size_t)n;
        call_log[log_length] = 0;
    }
}
EXPORT const char *fake_log(void) { return call_log; }
EXPORT void fake_clear_log(void) { log_length = 0; call_log[0] = 0; }

#define NOOP(name) EXPORT intptr_t name(void) { log_call(#name, -1); return 0; }
/* Calls whose first argument is the status vector leave it saying success. */
#define STATUS_NOOP(name) EXPORT intptr_t name(intptr_t *status) \
    { log_call(#name, -1); status[0] = 1; status[1] = 0; status[2] = 0; return 0; }

NOOP(BLOB_get) NOOP(BLOB_put) NOOP(isc_sql_interprete)
NOOP(isc_blob_info) NOOP(isc_open_blob2) NOOP(isc_close_blob) NOOP(isc_get_segment) NOOP(isc_put_segment)
NOOP(isc_create_blob2) NOOP(isc_cancel_blob) NOOP(isc_array_gen_sdl) NOOP(isc_array_get_slice)
NOOP(isc_array_lookup_bounds) NOOP(isc_array_lookup_desc) NOOP(isc_array_set_desc) NOOP(isc_array_put_slice)
NOOP(isc_blob_default_desc) NOOP(isc_blob_gen_bpb) NOOP(isc_blob_lookup_desc) NOOP(isc_blob_set_desc)
NOOP(isc_decode_date) NOOP(isc_encode_date) STATUS_NOOP(isc_dsql_execute2)
STATUS_NOOP(isc_dsql_execute) STATUS_NOOP(isc_dsql_set_cursor_name)
STATUS_NOOP(isc_dsql_prepare) STATUS_NOOP(isc_dsql_describe_bind)
STATUS_NOOP(isc_dsql_execute_immediate) NOOP(isc_drop_database)
STATUS_NOOP(isc_commit_retaining)
NOOP(isc_cancel_events) NOOP(isc_que_events) NOOP(isc_event_counts)
NOOP(isc_event_block) NOOP(isc_free) NOOP(isc_add_user) NOOP(isc_delete_user) NOOP(isc_modify_user)
NOOP(isc_prepare_transaction) NOOP(isc_prepare_transaction2) STATUS_NOOP(isc_transaction_info)
STATUS_NOOP(isc_service_detach) STATUS_NOOP(isc_service_start)
NOOP(isc_decode_sql_date) NOOP(isc_decode_sql_time) NOOP(isc_decode_timestamp) NOOP(isc_encode_sql_date)
NOOP(isc_encode_sql_time) NOOP(isc_encode_timestamp)
NOOP(isc_array_gen_sdl2) NOOP(isc_array_get_slice2) NOOP(isc_array_lookup_bounds2) NOOP(isc_array_lookup_desc2)
NOOP(isc_array_set_desc2) NOOP(isc_array_put_slice2) NOOP(isc_blob_default_desc2) NOOP(isc_blob_gen_bpb2)
NOOP(isc_blob_lookup_desc2) NOOP(isc_blob_set_desc2) NOOP(isc_release_savepoint) NOOP(isc_rollback_savepoint)
NOOP(isc_start_savepoint) NOOP(isc_dsql_batch_execute_immed) NOOP(isc_dsql_batch_execute)

/* The head of a descriptor area, enough to say how many columns there are. */
struct sqlda_head {
    short version;
    char sqldaid[8];
    int sqldabc;
    short sqln;
    short sqld;
};

/* A SELECT described here has no columns. */
EXPORT intptr_t isc_dsql_describe(intptr_t *status, unsigned *stmt, unsigned short dialect, struct sqlda_head *da)
{
    log_call("isc_dsql_describe", -1);
    (void)stmt; (void)dialect;
    status[0] = 1; status[1] = 0; status[2] = 0;
    if (da)
        da->sqld = 0;
    return 0;
}

#ifndef FAKE_MISSING_FETCH
/* Every fetch answers what the test set: 0 a row, 100 the end of data. */
static intptr_t fetch_status;
EXPORT void fake_set_fetch_status(intptr_t value) { fetch_status = value; }
EXPORT intptr_t isc_dsql_fetch(intptr_t *status, unsigned *stmt, unsigned short dialect, void *da)
{
    log_call("isc_dsql_fetch", -1);
    (void)stmt; (void)dialect; (void)da;
    status[0] = 1; status[1] = 0; status[2] = 0;
    return fetch_status;
}
#endif

#ifndef FAKE_NO_ROLLBACK_RETAINING
STATUS_NOOP(isc_rollback_retaining)
EXPORT void isc_get_client_version(char *buffer) { strcpy(buffer, "fake"); }
EXPORT int isc_get_client_major_version(void) { return FAKE_MAJOR; }
EXPORT int isc_get_client_minor_version(void) { return FAKE_MINOR; }
#endif

/* The SQL code that isc_sqlcode reports, set by the tests. */
static int32_t fake_sqlcode = -902;
EXPORT void fake_set_sqlcode(int32_t code) { fake_sqlcode = code; }
EXPORT int32_t isc_sqlcode(const intptr_t *status) { (void)status; return fake_sqlcode; }

EXPORT int32_t isc_vax_integer(const char *p, short length)
{
    uint32_t value = 0;
    for (int i = 0; i < length && i < 4; ++i)
        value |= (uint32_t)(unsigned char)p[i] << (8 * i);
    return (int32_t)value;
}

/* Interprets crafted vectors: each cluster yields one line. A counted
   string (tag 3) or a string (tag 2) is the line itself; an error code
   (tag 1) or a number (tag 4) reads "erro <n>". */
EXPORT int32_t isc_interprete(char *buffer, const intptr_t **cursor)
{
    const intptr_t *v = *cursor;
    if (v[0] == 0)
        return 0;
    if (v[0] == 3) {
        size_t n = (size_t)v[1];
        memcpy(buffer, (const char *)v[2], n);
        buffer[n] = 0;
        *cursor = v + 3;
        return (int32_t)n;
    }
    if (v[0] == 2) {
        strcpy(buffer, (const char *)v[1]);
        *cursor = v + 2;
        return (int32_t)strlen(buffer);
    }
    int n = 0;
    char digits[32];
    intptr_t x = v[1];
    int negative = x < 0;
    if (negative)
        x = -x;
    do {
        digits[n++] = (char)('0' + x % 10);
        x /= 10;
    } while (x);
    strcpy(buffer, "erro ");
    size_t len = 5;
    if (negative)
        buffer[len++] = '-';
    while (n)
        buffer[len++] = digits[--n];
    buffer[len] = 0;
    *cursor = v + 2;
    return (int32_t)len;
}

/* Enough of a connection for statements to reach the server's replies:
   handles become non-zero, the dialect is 3, and the statement-type reply
   is whatever the test sets. */
EXPORT intptr_t isc_attach_database(intptr_t *status, short n, const char *name, unsigned *db, short l, const char *dpb)
{
    log_call("isc_attach_database", -1);
    (void)n; (void)name; (void)l; (void)dpb;
    status[0] = 1; status[1] = 0; status[2] = 0;
    *db = 1;
    return 0;
}
EXPORT intptr_t isc_detach_database(intptr_t *status, unsigned *db) {
    log_call("isc_detach_database", -1); status[1] = 0; *db = 0; return 0; }
/* Replies to database information requests, by the first item asked, as
   the tests set them; other items get the SQL dialect's reply. */
static char database_info[256][64];
static int database_info_length[256];
EXPORT void fake_set_database_info(int item, const char *bytes, int length)
{
    item &= 0xff;
    database_info_length[item] = length < 64 ? length : 64;
    if (database_info_length[item] > 0)
        memcpy(database_info[item], bytes, (size_t)database_info_length[item]);
}
EXPORT intptr_t isc_database_info(intptr_t *status, unsigned *db, short n, const char *items, short len, char *reply)
{
    log_call("isc_database_info", -1);
    (void)db;
    status[1] = 0;
    if (n >= 1 && database_info_length[(unsigned char)items[0]] > 0) {
        int item = (unsigned char)items[0];
        int copy = database_info_length[item] < len ? database_info_length[item] : len;
        memcpy(reply, database_info[item], (size_t)copy);
        return 0;
    }
    if (len >= 4) { reply[0] = 62; reply[1] = 1; reply[2] = 0; reply[3] = 3; }
    return 0;
}
EXPORT intptr_t isc_start_multiple(intptr_t *status, unsigned *tr, short n, void *teb)
{
    log_call("isc_start_multiple", -1);
    (void)n; (void)teb;
    status[1] = 0;
    *tr = 1;
    return 0;
}
EXPORT intptr_t isc_commit_transaction(intptr_t *status, unsigned *tr) {
    log_call("isc_commit_transaction", -1); status[1] = 0; *tr = 0; return 0; }
EXPORT intptr_t isc_rollback_transaction(intptr_t *status, unsigned *tr) {
    log_call("isc_rollback_transaction", -1); status[1] = 0; *tr = 0; return 0; }
EXPORT intptr_t isc_dsql_alloc_statement2(intptr_t *status, unsigned *db, unsigned *stmt)
{
    log_call("isc_dsql_alloc_statement2", -1);
    (void)db;
    status[1] = 0;
    *stmt = 1;
    return 0;
}
EXPORT intptr_t isc_dsql_free_statement(intptr_t *status, unsigned *stmt, unsigned short option)
{
    log_call("isc_dsql_free_statement", option);
    status[1] = 0;
    if (option == 2)
        *stmt = 0;
    return 0;
}

static char info_reply[64];
static int info_length;
EXPORT void fake_set_info_reply(const char *bytes, int length)
{
    info_length = length < 64 ? length : 64;
    memcpy(info_reply, bytes, (size_t)info_length);
}
EXPORT intptr_t isc_dsql_sql_info(intptr_t *status, unsigned *stmt, short n, const char *items, short len, char *reply)
{
    log_call("isc_dsql_sql_info", -1);
    (void)stmt; (void)n; (void)items;
    status[1] = 0;
    int copy = info_length < len ? info_length : len;
    memcpy(reply, info_reply, (size_t)copy);
    return 0;
}

/* The service manager: attach gives a handle, and every query answers the
   reply the test set (up to the caller's buffer). */
EXPORT intptr_t isc_service_attach(intptr_t *status, unsigned short n, const char *name, unsigned *svc,
                                   unsigned short l, const char *spb)
{
    (void)n; (void)name; (void)l; (void)spb;
    log_call("isc_service_attach", -1);
    status[0] = 1; status[1] = 0; status[2] = 0;
    *svc = 1;
    return 0;
}

static char service_reply[1 << 17];
static int service_length;
EXPORT void fake_set_service_reply(const char *bytes, int length)
{
    service_length = length < (int)sizeof service_reply ? length : (int)sizeof service_reply;
    memcpy(service_reply, bytes, (size_t)service_length);
}
EXPORT intptr_t isc_service_query(intptr_t *status, unsigned *svc, void *reserved, unsigned short sl,
                                  const char *send, unsigned short rl, const char *request, unsigned short bl,
                                  char *buffer)
{
    (void)svc; (void)reserved; (void)sl; (void)send; (void)rl; (void)request;
    log_call("isc_service_query", -1);
    status[0] = 1; status[1] = 0; status[2] = 0;
    memset(buffer, 0, bl);
    memcpy(buffer, service_reply, (size_t)(service_length < bl ? service_length : bl));
    return 0;
}
