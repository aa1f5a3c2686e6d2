// Status vectors: the search for codes on raw words, and the interpretation
// of vectors whose strings point into the input.
#include "FuzzSupport.h"
#include "IB.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    ISC_STATUS raw[ISC_STATUS_LENGTH] = {};
    std::memcpy(raw, Data, std::min(Size, sizeof raw));
    (void)StatusVectorContains(raw, {isc_lost_db_connection, isc_net_read_err, isc_net_write_err, raw[1]});
    (void)StatusErrorCodes(raw);

    // A well-formed vector built from the input's clusters.
    static TIBServerLibrary lib(QStringLiteral(ABD_FAKE_DIR "/libfakefb_v63.so"));
    lib.CheckIBLoaded();
    std::vector<std::string> texts;
    texts.reserve(ISC_STATUS_LENGTH);
    ISC_STATUS *sv = ThreadStatusVector();
    std::fill(sv, sv + ISC_STATUS_LENGTH, 0);
    size_t pos = 0;
    int w = 0;
    while (pos < Size && w + 3 < ISC_STATUS_LENGTH - 1) {
        const uint8_t kind = Data[pos++] % 4;
        const size_t len = pos < Size ? Data[pos++] % 64 : 0;
        const size_t take = std::min(len, Size - pos);
        texts.emplace_back(reinterpret_cast<const char *>(Data + pos), take);
        pos += take;
        switch (kind) {
        case 0:
            sv[w++] = isc_arg_gds;
            sv[w++] = ISC_STATUS(take * 1000003);
            break;
        case 1:
            sv[w++] = isc_arg_number;
            sv[w++] = ISC_STATUS(take);
            break;
        case 2:
            sv[w++] = isc_arg_string;
            sv[w++] = ISC_STATUS(texts.back().c_str());
            break;
        default:
            sv[w++] = isc_arg_cstring;
            sv[w++] = ISC_STATUS(texts.back().size());
            sv[w++] = ISC_STATUS(texts.back().c_str());
            break;
        }
    }
    sv[w] = isc_arg_end;
    try {
        RaiseStatusError(lib);
    } catch (const EIBError &) {
    }
    return 0;
}
