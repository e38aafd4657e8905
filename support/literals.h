#pragma once

// The program's stored literals, enciphered at build time from tools/encipher/literals.txt.
// Decode them at the point of use with storedLiteral() (support/literalcipher.h).
#include "literals_generated.h"
