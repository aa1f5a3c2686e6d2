// Service replies crafted from the input, through the stand-in client
// library: every reader answers a value or client error 95, never reads
// past its buffer.
#include "FuzzSupport.h"
#include "IBServices.h"

namespace {

class Service : public TIBBackupService {
public:
    using TIBBackupService::BuildStartParams;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size < 2)
        return 0;
    static auto setReply = FuzzFakeFunction<void (*)(const char *, int)>("fake_set_service_reply");
    const QString type = FuzzFakeType();
    const uint8_t reader = Data[0];
    const int bufferSize = 1 + Data[1] * 4;
    setReply(reinterpret_cast<const char *>(Data + 2), int(Size - 2));

    try {
        if (reader % 2 == 0) {
            TIBServerProperties p;
            p.SetServerType(type);
            p.SetServerName("fuzz");
            p.SetLoginPrompt(false);
            p.SetActive(true);
            switch (reader / 2 % 4) {
            case 0: p.FetchDatabaseInfo(); break;
            case 1: p.FetchVersionInfo(); break;
            case 2: p.FetchConfigParams(); break;
            default: p.IsServiceRunning(); break;
            }
            if (p.DatabaseInfo().DbName.size() > qMax(0, p.DatabaseInfo().NoOfDatabases))
                __builtin_trap();
        } else {
            Service b;
            b.SetServerType(type);
            b.SetServerName("fuzz");
            b.SetLoginPrompt(false);
            b.SetBufferSize(bufferSize);
            b.SetDatabaseName("d");
            b.SetActive(true);
            b.ServiceStart();
            for (int i = 0; i < 4 && !b.Eof(); ++i) {
                if (reader & 4)
                    b.GetNextChunk();
                else if (reader & 8)
                    b.GetNextLines();
                else
                    b.GetNextLine();
            }
        }
    } catch (const Exception &) {
    }
    return 0;
}
