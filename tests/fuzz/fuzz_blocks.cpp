// The database, transaction and service parameter blocks from arbitrary
// parameter lines: a block or a clear error, never a corrupt block.
#include "FuzzSupport.h"
#include "IB.h"
#include "IBParamBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const TStringList lines(FuzzLines(Data, Size));
    try {
        QString characterSet;
        const QByteArray dpb = BuildDatabaseParamBlock(lines, characterSet);
        if (dpb.isEmpty() || dpb[0] != isc_dpb_version1)
            __builtin_trap();
    } catch (const Exception &) {
    }
    try {
        const QByteArray tpb = BuildTransactionParamBlock(lines);
        if (!tpb.isEmpty() && tpb[0] != isc_tpb_version3)
            __builtin_trap();
    } catch (const Exception &) {
    }
    try {
        const QByteArray spb = BuildServiceParamBlock(lines);
        if (spb.size() < 2 || spb[0] != isc_spb_version || spb[1] != isc_spb_current_version)
            __builtin_trap();
    } catch (const Exception &) {
    }
    return 0;
}
