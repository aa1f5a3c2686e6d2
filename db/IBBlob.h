#pragma once

// Blobs: reading one whole, writing one from bytes, and the owner of an open
// blob handle.

#include "IBIntf.h"

#include <QByteArray>

class TIBDatabase;
class TIBTransaction;

// An open blob of the client library. One still open when its owner goes
// (an error left the read or the write) is closed when it was opened for
// reading, cancelled when it was created for writing; the thread's status
// vector, which holds the error, is not touched.
class TIBBlobHandle {
public:
    enum class TMode { Read, Write };

    TIBBlobHandle(IGDSLibrary &Library, TMode Mode) : FLibrary(Library), FMode(Mode) {}
    ~TIBBlobHandle();
    TIBBlobHandle(const TIBBlobHandle &) = delete;
    TIBBlobHandle &operator=(const TIBBlobHandle &) = delete;

    isc_blob_handle *Ptr() { return &FHandle; }
    // Closes the blob; the handle is given up whatever the client answers.
    ISC_STATUS Close(ISC_STATUS *Status);

private:
    IGDSLibrary &FLibrary;
    TMode FMode;
    isc_blob_handle FHandle = 0;
};

// The whole content of a blob, read in the transaction's attachment.
QByteArray IBReadBlob(TIBDatabase &Database, TIBTransaction &Transaction, const ISC_QUAD &Id);
