#pragma once

// Binding to the Firebird client library, loaded at run time by file name:
// one object per server type, through which every client call is made, and
// the process-wide registry that maps a server type name to that object.

#include "IB.h"

#include <QString>
#include <QStringList>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
#include <ibase.h>

#include <cstdint>
#include <memory>
#include <utility>

class QLibrary;
class IGDSLibrary;

// Why an entry point stands in for a function the client does not offer.
enum class TStubKind { None, NotLoaded, IB60, IB70, IB71, IB2007 };

[[noreturn]] void RaiseStub(TStubKind Kind, const char *Name, const IGDSLibrary *Library);

// One entry point: the resolved address, or a stub that raises when called.
template <typename F>
struct TEntry;

template <typename R, typename... A>
struct TEntry<R (*)(A...)> {
    using TProc = R (*)(A...);
    TProc Proc = nullptr;
    TStubKind Stub = TStubKind::NotLoaded;
    const char *Name = "";
    const IGDSLibrary *Owner = nullptr;

    R operator()(A... Args) const
    {
        if (!Proc)
            RaiseStub(Stub, Name, Owner);
        return Proc(Args...);
    }
};

template <typename R, typename... A>
struct TEntry<R (*)(A..., ...)> {
    using TProc = R (*)(A..., ...);
    TProc Proc = nullptr;
    TStubKind Stub = TStubKind::NotLoaded;
    const char *Name = "";
    const IGDSLibrary *Owner = nullptr;

    template <typename... V>
    R operator()(A... Args, V... More) const
    {
        if (!Proc)
            RaiseStub(Stub, Name, Owner);
        return Proc(Args..., More...);
    }
};

// Functions of later InterBase clients that Firebird's header does not
// declare; their descriptors are passed through untouched.
namespace ibapi {
using isc_array_gen_sdl2 = ISC_STATUS (*)(ISC_STATUS *, const void *, ISC_SHORT *, ISC_UCHAR *, ISC_SHORT *);
using isc_array_get_slice2 = ISC_STATUS (*)(ISC_STATUS *, isc_db_handle *, isc_tr_handle *, ISC_QUAD *,
                                            const void *, void *, ISC_LONG *);
using isc_array_lookup_bounds2 = ISC_STATUS (*)(ISC_STATUS *, isc_db_handle *, isc_tr_handle *, const ISC_SCHAR *,
                                                const ISC_SCHAR *, void *);
using isc_array_lookup_desc2 = isc_array_lookup_bounds2;
using isc_array_set_desc2 = ISC_STATUS (*)(ISC_STATUS *, const ISC_SCHAR *, const ISC_SCHAR *, const short *,
                                           const short *, const short *, void *);
using isc_array_put_slice2 = isc_array_get_slice2;
using isc_blob_default_desc2 = void (*)(void *, const ISC_UCHAR *, const ISC_UCHAR *);
using isc_blob_gen_bpb2 = ISC_STATUS (*)(ISC_STATUS *, const void *, const void *, unsigned short, ISC_UCHAR *,
                                         unsigned short *);
using isc_blob_lookup_desc2 = ISC_STATUS (*)(ISC_STATUS *, isc_db_handle *, isc_tr_handle *, const ISC_UCHAR *,
                                             const ISC_UCHAR *, void *, ISC_UCHAR *);
using isc_blob_set_desc2 = ISC_STATUS (*)(ISC_STATUS *, const ISC_UCHAR *, const ISC_UCHAR *, short, short, short,
                                          void *);
using isc_release_savepoint = ISC_STATUS (*)(ISC_STATUS *, isc_tr_handle *, const ISC_SCHAR *);
using isc_rollback_savepoint = ISC_STATUS (*)(ISC_STATUS *, isc_tr_handle *, const ISC_SCHAR *, ISC_USHORT);
using isc_start_savepoint = isc_release_savepoint;
using isc_dsql_batch_execute_immed = ISC_STATUS (*)(ISC_STATUS *, isc_db_handle *, isc_tr_handle *, ISC_USHORT,
                                                    ISC_ULONG, ISC_SCHAR **, ISC_ULONG *);
using isc_dsql_batch_execute = ISC_STATUS (*)(ISC_STATUS *, isc_tr_handle *, isc_stmt_handle *, ISC_USHORT,
                                              XSQLDA *, ISC_USHORT, XSQLVAR **, ISC_ULONG *);
} // namespace ibapi

#define ABD_HEADER_TYPE(Name) decltype(&::Name)
#define ABD_OWN_TYPE(Name) ibapi::Name

// Every client function: its name, its type, and when it is required.
//   R    required (missing: the load fails)
//   V6   required when isc_rollback_retaining exists, else an IB60 stub
//   CV   required when isc_get_client_version exists, else an IB70 stub
//   V70, V71, V80  required from that client version on, else a stub
//   OPT  looked for; decides the version
#define ABD_GDS_FUNCTIONS(X)                                                                               \
    X(BLOB_get, ABD_HEADER_TYPE(BLOB_get), R)                                                              \
    X(BLOB_put, ABD_HEADER_TYPE(BLOB_put), R)                                                              \
    X(isc_sqlcode, ABD_HEADER_TYPE(isc_sqlcode), R)                                                        \
    X(isc_sql_interprete, ABD_HEADER_TYPE(isc_sql_interprete), R)                                          \
    X(isc_interprete, ABD_HEADER_TYPE(isc_interprete), R)                                                  \
    X(isc_vax_integer, ABD_HEADER_TYPE(isc_vax_integer), R)                                                \
    X(isc_blob_info, ABD_HEADER_TYPE(isc_blob_info), R)                                                    \
    X(isc_open_blob2, ABD_HEADER_TYPE(isc_open_blob2), R)                                                  \
    X(isc_close_blob, ABD_HEADER_TYPE(isc_close_blob), R)                                                  \
    X(isc_get_segment, ABD_HEADER_TYPE(isc_get_segment), R)                                                \
    X(isc_put_segment, ABD_HEADER_TYPE(isc_put_segment), R)                                                \
    X(isc_create_blob2, ABD_HEADER_TYPE(isc_create_blob2), R)                                              \
    X(isc_cancel_blob, ABD_HEADER_TYPE(isc_cancel_blob), R)                                                \
    X(isc_array_gen_sdl, ABD_HEADER_TYPE(isc_array_gen_sdl), R)                                            \
    X(isc_array_get_slice, ABD_HEADER_TYPE(isc_array_get_slice), R)                                        \
    X(isc_array_lookup_bounds, ABD_HEADER_TYPE(isc_array_lookup_bounds), R)                                \
    X(isc_array_lookup_desc, ABD_HEADER_TYPE(isc_array_lookup_desc), R)                                    \
    X(isc_array_set_desc, ABD_HEADER_TYPE(isc_array_set_desc), R)                                          \
    X(isc_array_put_slice, ABD_HEADER_TYPE(isc_array_put_slice), R)                                        \
    X(isc_blob_default_desc, ABD_HEADER_TYPE(isc_blob_default_desc), R)                                    \
    X(isc_blob_gen_bpb, ABD_HEADER_TYPE(isc_blob_gen_bpb), R)                                              \
    X(isc_blob_lookup_desc, ABD_HEADER_TYPE(isc_blob_lookup_desc), R)                                      \
    X(isc_blob_set_desc, ABD_HEADER_TYPE(isc_blob_set_desc), R)                                            \
    X(isc_decode_date, ABD_HEADER_TYPE(isc_decode_date), R)                                                \
    X(isc_encode_date, ABD_HEADER_TYPE(isc_encode_date), R)                                                \
    X(isc_dsql_free_statement, ABD_HEADER_TYPE(isc_dsql_free_statement), R)                                \
    X(isc_dsql_execute2, ABD_HEADER_TYPE(isc_dsql_execute2), R)                                            \
    X(isc_dsql_execute, ABD_HEADER_TYPE(isc_dsql_execute), R)                                              \
    X(isc_dsql_set_cursor_name, ABD_HEADER_TYPE(isc_dsql_set_cursor_name), R)                              \
    X(isc_dsql_fetch, ABD_HEADER_TYPE(isc_dsql_fetch), R)                                                  \
    X(isc_dsql_sql_info, ABD_HEADER_TYPE(isc_dsql_sql_info), R)                                            \
    X(isc_dsql_alloc_statement2, ABD_HEADER_TYPE(isc_dsql_alloc_statement2), R)                            \
    X(isc_dsql_prepare, ABD_HEADER_TYPE(isc_dsql_prepare), R)                                              \
    X(isc_dsql_describe_bind, ABD_HEADER_TYPE(isc_dsql_describe_bind), R)                                  \
    X(isc_dsql_describe, ABD_HEADER_TYPE(isc_dsql_describe), R)                                            \
    X(isc_dsql_execute_immediate, ABD_HEADER_TYPE(isc_dsql_execute_immediate), R)                          \
    X(isc_drop_database, ABD_HEADER_TYPE(isc_drop_database), R)                                            \
    X(isc_detach_database, ABD_HEADER_TYPE(isc_detach_database), R)                                        \
    X(isc_attach_database, ABD_HEADER_TYPE(isc_attach_database), R)                                        \
    X(isc_database_info, ABD_HEADER_TYPE(isc_database_info), R)                                            \
    X(isc_start_multiple, ABD_HEADER_TYPE(isc_start_multiple), R)                                          \
    X(isc_commit_transaction, ABD_HEADER_TYPE(isc_commit_transaction), R)                                  \
    X(isc_commit_retaining, ABD_HEADER_TYPE(isc_commit_retaining), R)                                      \
    X(isc_rollback_transaction, ABD_HEADER_TYPE(isc_rollback_transaction), R)                              \
    X(isc_cancel_events, ABD_HEADER_TYPE(isc_cancel_events), R)                                            \
    X(isc_que_events, ABD_HEADER_TYPE(isc_que_events), R)                                                  \
    X(isc_event_counts, ABD_HEADER_TYPE(isc_event_counts), R)                                              \
    X(isc_event_block, ABD_HEADER_TYPE(isc_event_block), R)                                                \
    X(isc_free, ABD_HEADER_TYPE(isc_free), R)                                                              \
    X(isc_add_user, ABD_HEADER_TYPE(isc_add_user), R)                                                      \
    X(isc_delete_user, ABD_HEADER_TYPE(isc_delete_user), R)                                                \
    X(isc_modify_user, ABD_HEADER_TYPE(isc_modify_user), R)                                                \
    X(isc_prepare_transaction, ABD_HEADER_TYPE(isc_prepare_transaction), R)                                \
    X(isc_prepare_transaction2, ABD_HEADER_TYPE(isc_prepare_transaction2), R)                              \
    X(isc_transaction_info, ABD_HEADER_TYPE(isc_transaction_info), R)                                      \
    X(isc_rollback_retaining, ABD_HEADER_TYPE(isc_rollback_retaining), OPT)                                \
    X(isc_service_attach, ABD_HEADER_TYPE(isc_service_attach), V6)                                         \
    X(isc_service_detach, ABD_HEADER_TYPE(isc_service_detach), V6)                                         \
    X(isc_service_query, ABD_HEADER_TYPE(isc_service_query), V6)                                           \
    X(isc_service_start, ABD_HEADER_TYPE(isc_service_start), V6)                                           \
    X(isc_decode_sql_date, ABD_HEADER_TYPE(isc_decode_sql_date), V6)                                       \
    X(isc_decode_sql_time, ABD_HEADER_TYPE(isc_decode_sql_time), V6)                                       \
    X(isc_decode_timestamp, ABD_HEADER_TYPE(isc_decode_timestamp), V6)                                     \
    X(isc_encode_sql_date, ABD_HEADER_TYPE(isc_encode_sql_date), V6)                                       \
    X(isc_encode_sql_time, ABD_HEADER_TYPE(isc_encode_sql_time), V6)                                       \
    X(isc_encode_timestamp, ABD_HEADER_TYPE(isc_encode_timestamp), V6)                                     \
    X(isc_get_client_version, ABD_HEADER_TYPE(isc_get_client_version), OPT)                                \
    X(isc_get_client_major_version, ABD_HEADER_TYPE(isc_get_client_major_version), CV)                     \
    X(isc_get_client_minor_version, ABD_HEADER_TYPE(isc_get_client_minor_version), CV)                     \
    X(isc_array_gen_sdl2, ABD_OWN_TYPE(isc_array_gen_sdl2), V70)                                           \
    X(isc_array_get_slice2, ABD_OWN_TYPE(isc_array_get_slice2), V70)                                       \
    X(isc_array_lookup_bounds2, ABD_OWN_TYPE(isc_array_lookup_bounds2), V70)                               \
    X(isc_array_lookup_desc2, ABD_OWN_TYPE(isc_array_lookup_desc2), V70)                                   \
    X(isc_array_set_desc2, ABD_OWN_TYPE(isc_array_set_desc2), V70)                                         \
    X(isc_array_put_slice2, ABD_OWN_TYPE(isc_array_put_slice2), V70)                                       \
    X(isc_blob_default_desc2, ABD_OWN_TYPE(isc_blob_default_desc2), V70)                                   \
    X(isc_blob_gen_bpb2, ABD_OWN_TYPE(isc_blob_gen_bpb2), V70)                                             \
    X(isc_blob_lookup_desc2, ABD_OWN_TYPE(isc_blob_lookup_desc2), V70)                                     \
    X(isc_blob_set_desc2, ABD_OWN_TYPE(isc_blob_set_desc2), V70)                                           \
    X(isc_release_savepoint, ABD_OWN_TYPE(isc_release_savepoint), V71)                                     \
    X(isc_rollback_savepoint, ABD_OWN_TYPE(isc_rollback_savepoint), V71)                                   \
    X(isc_start_savepoint, ABD_OWN_TYPE(isc_start_savepoint), V71)                                         \
    X(isc_dsql_batch_execute_immed, ABD_OWN_TYPE(isc_dsql_batch_execute_immed), V80)                       \
    X(isc_dsql_batch_execute, ABD_OWN_TYPE(isc_dsql_batch_execute), V80)

// The client library of one server type. Each client function is a member
// of the same name, called with the function's own arguments; it returns
// the function's own result and checks nothing.
class IGDSLibrary {
public:
    IGDSLibrary();
    virtual ~IGDSLibrary();
    IGDSLibrary(const IGDSLibrary &) = delete;
    IGDSLibrary &operator=(const IGDSLibrary &) = delete;

    // The client library's file name.
    virtual QString LibraryName() const = 0;
    // Loads the library and settles its entry points and version; raises
    // EOSError when a required entry point is missing.
    void LoadIBLibrary();
    void FreeIBLibrary();
    bool TryIBLoad();
    // Loads the library if needed; client error 1 when it cannot be loaded.
    void CheckIBLoaded();
    bool Loaded() const;
    // The client version, as 3.0 or 6.3.
    double GetIBClientVersion();
    // The client version times 10000 (6.3 is 63000).
    int32_t ClientVersion();
    // The Firebird release the library belongs to, from its version text
    // ("LI-V6.3.5.3140 Firebird 4.0" is 4: Firebird 3's and 4's both answer
    // 6.3 above); 0 for a library that does not say.
    int FirebirdVersion();

#define ABD_DECLARE_ENTRY(N, Type, Group)                                                               \
    TEntry<Type> F##N;                                                                                  \
    const TEntry<Type> &N = F##N;
    ABD_GDS_FUNCTIONS(ABD_DECLARE_ENTRY)
#undef ABD_DECLARE_ENTRY

private:
    void ResetEntries();

    std::unique_ptr<QLibrary> FIBLibrary;
    int32_t FIBClientVersion = 0;
    int FFirebirdVersion = 0;
};

// The library of the "IBServer" server type: Firebird's client library.
class TIBServerLibrary : public IGDSLibrary {
public:
    explicit TIBServerLibrary(QString FileName = QStringLiteral("libfbclient.so.2"))
        : FFileName(std::move(FileName))
    {
    }
    QString LibraryName() const override { return FFileName; }

private:
    QString FFileName;
};

using TIBLibraryRef = std::shared_ptr<IGDSLibrary>;

// The error of the calling thread's status vector, read through Library;
// read it before any other client call overwrites the vector.
EIBInterBaseError StatusError(IGDSLibrary &Library);
// Raises from the calling thread's status vector through Library.
[[noreturn]] void RaiseStatusError(IGDSLibrary &Library);
// The interpreted lines of the thread's status vector, joined by CR LF,
// without a final period.
QString StatusErrorText(IGDSLibrary &Library);

// Adds a server type to the process-wide registry.
void RegisterServerType(const QString &Name, TIBLibraryRef Library);
// The library registered under Name (matched ignoring case; Name is then
// rewritten as registered); client error 123 when there is none. Loads
// nothing.
TIBLibraryRef LookupServerType(QString &Name);
QStringList RegisteredServerTypes();

// A component's ServerType setter: empty releases the library; another name
// is looked up and loaded, and only then stored as registered (on failure
// the component keeps its type and library).
void AssignServerType(QString &Type, TIBLibraryRef &Library, const QString &Value);
// A component's library getter: looked up and loaded at the first use.
IGDSLibrary &HeldLibrary(QString &Type, TIBLibraryRef &Library);

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
