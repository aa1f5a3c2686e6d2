#pragma once

// Reading the reply of an information call (database, transaction,
// statement or service): bytes, integers in the client's byte order and
// counted items, never past the reply's end.

#include "IB.h"
#include "IBIntf.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

class TIBInfoReply {
public:
    // A read past Size raises the client error OverrunError.
    TIBInfoReply(IGDSLibrary &Library, const char *Data, int Size, int32_t OverrunError);

    int Pos() const { return FPos; }
    int Size() const { return FSize; }

    uint8_t ReadByte();
    // Reads a byte that must be Value: the overrun error otherwise.
    void ExpectByte(uint8_t Value);
    // An integer of Length bytes (at most 4).
    int32_t ReadInteger(int Length = 4);
    // A length of two bytes.
    int ReadLength();
    // An integer of Length bytes (at most 8; past 4 bytes the rest is the
    // high part).
    int64_t ReadInteger64(int Length);
    // An item's value: its two-byte length, then an integer of that many
    // bytes, at most MaxLength.
    int64_t ReadItemInteger(int MaxLength = 4);
    // Text of a two-byte length: the bytes up to the first zero, in the
    // system's code page.
    QString ReadString();
    // Length bytes as they are, up to the first zero.
    QByteArray ReadText(int Length);
    // Length bytes are there to be read.
    void Need(int Length) const;
    [[noreturn]] void Overrun() const;

private:
    IGDSLibrary &FLibrary;
    const char *FData;
    int FSize;
    int32_t FOverrunError;
    int FPos = 0;
};
