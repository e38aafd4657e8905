#include "updates/versioncompare.h"

#include <cstdint>

namespace {
// Folds one component starting at cursor into a wrapping 32-bit value; stops at "." or the end.
int32_t readComponent(const QByteArray &s, int &cursor)
{
    uint32_t value = 0; // unsigned arithmetic wraps where signed would be undefined
    while (cursor < s.size() && s.at(cursor) != '.') {
        const int8_t byte = static_cast<int8_t>(s.at(cursor));
        value = value * 10u + static_cast<uint32_t>(int32_t(byte) - 48);
        ++cursor;
    }
    return static_cast<int32_t>(value);
}
} // namespace

int compareVersions(const QByteArray &a, const QByteArray &b)
{
    int i = 0;
    int j = 0;
    for (;;) {
        int32_t x = 0;
        int32_t y = 0;
        if (i < a.size()) {
            x = readComponent(a, i);
            if (j < b.size())
                y = readComponent(b, j);
        } else {
            if (j >= b.size())
                return 0;
            y = readComponent(b, j);
        }
        if (x > y)
            return 1;
        if (x < y)
            return -1;
        ++i;
        ++j;
    }
}
