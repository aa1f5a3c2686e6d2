#include "IBInfoReply.h"

TIBInfoReply::TIBInfoReply(IGDSLibrary &Library, const char *Data, int Size, int32_t OverrunError)
    : FLibrary(Library), FData(Data), FSize(Size < 0 ? 0 : Size), FOverrunError(OverrunError)
{
}

void TIBInfoReply::Overrun() const
{
    RaiseClientError(FOverrunError);
}

void TIBInfoReply::Need(int Length) const
{
    if (Length < 0 || FPos < 0 || FPos > FSize - Length)
        Overrun();
}

uint8_t TIBInfoReply::ReadByte()
{
    Need(1);
    return uint8_t(FData[FPos++]);
}

void TIBInfoReply::ExpectByte(uint8_t Value)
{
    if (ReadByte() != Value)
        Overrun();
}

int32_t TIBInfoReply::ReadInteger(int Length)
{
    if (Length < 0 || Length > 4)
        Overrun();
    Need(Length);
    const int32_t v = Length == 0 ? 0 : int32_t(FLibrary.isc_vax_integer(FData + FPos, short(Length)));
    FPos += Length;
    return v;
}

int TIBInfoReply::ReadLength()
{
    return int(uint16_t(ReadInteger(2)));
}

int64_t TIBInfoReply::ReadItemInteger(int MaxLength)
{
    const int len = ReadLength();
    if (len > MaxLength)
        Overrun();
    return ReadInteger64(len);
}

int64_t TIBInfoReply::ReadInteger64(int Length)
{
    if (Length > 8)
        Overrun();
    if (Length <= 4)
        return ReadInteger(Length);
    Need(Length);
    const uint32_t low = uint32_t(ReadInteger(4));
    const int64_t high = ReadInteger(Length - 4);
    return int64_t((uint64_t(high) << 32) | low);
}

QByteArray TIBInfoReply::ReadText(int Length)
{
    Need(Length);
    const char *data = FData + FPos;
    FPos += Length;
    return QByteArray(data, qsizetype(qstrnlen(data, size_t(Length))));
}

QString TIBInfoReply::ReadString()
{
    const int len = ReadLength();
    if (len == 0)
        return QString();
    return QString::fromLocal8Bit(ReadText(len));
}
