#include "IBBlob.h"

#include "IBDatabase.h"

TIBBlobHandle::~TIBBlobHandle()
{
    if (!FHandle)
        return;
    ISC_STATUS_ARRAY ignored;
    if (FMode == TMode::Write)
        FLibrary.isc_cancel_blob(ignored, &FHandle);
    else
        FLibrary.isc_close_blob(ignored, &FHandle);
}

ISC_STATUS TIBBlobHandle::Close(ISC_STATUS *Status)
{
    const ISC_STATUS r = FLibrary.isc_close_blob(Status, &FHandle);
    FHandle = 0;
    return r;
}

QByteArray IBReadBlob(TIBDatabase &Database, TIBTransaction &Transaction, const ISC_QUAD &Id)
{
    IGDSLibrary &lib = Database.GDSLibrary();
    ISC_STATUS *status = ThreadStatusVector();
    TIBBlobHandle blob(lib, TIBBlobHandle::TMode::Read);
    ISC_QUAD id = Id;
    Transaction.Call(
        lib.isc_open_blob2(status, Database.HandlePtr(), Transaction.HandlePtr(), blob.Ptr(), &id, 0, nullptr), true);
    QByteArray content;
    char segment[32768];
    for (;;) {
        unsigned short got = 0;
        const ISC_STATUS r = lib.isc_get_segment(status, blob.Ptr(), &got, sizeof segment, segment);
        if (r == 0 || r == isc_segment) {
            content.append(segment, got);
            continue;
        }
        if (r == isc_segstr_eof)
            break;
        // The blob is closed as the error leaves.
        Transaction.Call(r, true);
    }
    Transaction.Call(blob.Close(status), true);
    return content;
}
