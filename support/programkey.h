#pragma once

#include <QtGlobal>

// The fixed key every LiteralCipher in the program is built with, as two 32-bit halves.
// The build-time encipher tool reads it from here too, so both sides always agree.
namespace ProgramKey {
constexpr quint32 Low = 0x9D24B6F1u;
constexpr quint32 High = 0x5A17C3E8u;
} // namespace ProgramKey
