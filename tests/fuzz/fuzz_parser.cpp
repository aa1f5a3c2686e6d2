// Script parser: any bytes, any terminator. Must end, with events or errors.
#include "FuzzSupport.h"
#include "IBSQLParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size == 0)
        return 0;
    static const char *const terminators[] = {";", "^", "", "!!", " ", "\t", "go", "'"};
    const uint8_t mode = Data[0];
    TIBSQLParser parser;
    parser.SetTerminator(QString::fromLatin1(terminators[mode % 8]));
    int events = 0;
    parser.SetOnParse([&](QObject *, TIBParseKind, const QString &) {
        // Now and then the owner pauses and resumes, as a script does.
        if (++events % 7 == 0 && (mode & 0x10)) {
            parser.SetPaused(true);
        }
    });
    parser.SetOnError([&](QObject *, const QString &, const QString &, int32_t) {
        if (mode & 0x20)
            parser.SetPaused(true);
    });
    parser.SetScript(FuzzLines(Data + 1, Size - 1));
    parser.Parse();
    for (int i = 0; i < 1000 && parser.Paused(); ++i)
        parser.SetPaused(false);
    (void)parser.CurrentTokens();
    return 0;
}
