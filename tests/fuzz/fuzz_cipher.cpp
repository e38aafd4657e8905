// Stored literals decoded with the program's key, as raw bytes and as base64 text.
#include "fuzzsupport.h"
#include "support/literalcipher.h"
#include "support/programkey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const LiteralCipher cipher(ProgramKey::Low, ProgramKey::High);
    const QByteArray stored = fuzzBytes(data, size);
    cipher.decodeBytes(stored);
    cipher.decodeText(QString::fromLatin1(stored));
    return 0;
}
