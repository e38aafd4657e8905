#pragma once

// Shared by the fuzzing targets: each target's file includes this once.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Qt warns about broken input by the thousand during a run; the warnings only slow it down.
// Fatal messages still abort after the handler returns.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

inline QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// Decoded as the program decodes a tool's output or a feed: UTF-8, invalid bytes replaced.
inline QString fuzzText(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
}

// A broken property is a finding like a crash: libFuzzer keeps the input that caused it.
inline void require(bool property)
{
    if (!property)
        std::abort();
}
