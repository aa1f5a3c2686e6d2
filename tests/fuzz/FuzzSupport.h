#pragma once

// Helpers shared by the fuzz targets: turning bytes into text lines and
// reaching the stand-in client library.

#include "IBIntf.h"

#include <QLibrary>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>

// Lines of text from arbitrary bytes (invalid UTF-8 becomes replacement
// characters; NUL bytes stay).
inline QStringList FuzzLines(const uint8_t *Data, size_t Size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(Data), qsizetype(Size)).split(u'\n');
}

// Registers the stand-in client library once and returns its type name.
inline QString FuzzFakeType()
{
    static const QString name = [] {
        const QString type = QStringLiteral("FuzzFake");
        RegisterServerType(type, std::make_shared<TIBServerLibrary>(QStringLiteral(ABD_FAKE_DIR "/libfakefb_v63.so")));
        return type;
    }();
    return name;
}

template <typename F>
F FuzzFakeFunction(const char *Name)
{
    static QLibrary library(QStringLiteral(ABD_FAKE_DIR "/libfakefb_v63.so"));
    return reinterpret_cast<F>(library.resolve(Name));
}
