// The statement's parameter scan on arbitrary text.
#include "FuzzSupport.h"
#include "IBSQL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size == 0)
        return 0;
    TIBSQL q;
    q.SetGenerateParamNames(Data[0] & 1);
    q.SQL().SetText(QString::fromUtf8(reinterpret_cast<const char *>(Data + 1), qsizetype(Size - 1)));
    try {
        q.PreprocessSQL();
        for (int i = 0; i < q.ParamArea().Count(); ++i)
            (void)q.ParamArea().Vars(i).Name();
    } catch (const EIBClientError &) {
    }
    return 0;
}
