// The database, transaction and service parameter blocks from arbitrary
// parameter lines: a block or a clear error, never a corrupt block.
#include "FuzzSupport.h"
#include "IBDatabase.h"
#include "IBServices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const TStringList lines(FuzzLines(Data, Size));
    TIBDatabase db;
    try {
        const QByteArray dpb = db.BuildDPB(lines);
        if (dpb.isEmpty() || dpb[0] != 1)
            __builtin_trap();
    } catch (const Exception &) {
    }
    try {
        const QByteArray tpb = TIBTransaction::BuildTPB(lines);
        if (!tpb.isEmpty() && tpb[0] != 3)
            __builtin_trap();
    } catch (const Exception &) {
    }
    TIBServerProperties service;
    try {
        service.SetParams(lines.Lines());
        const QByteArray spb = service.BuildSPB();
        if (spb.size() < 2)
            __builtin_trap();
    } catch (const Exception &) {
    }
    return 0;
}
