#include "platform/standardstream.h"

#include <QString>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace Platform {

int completeUtf8Length(const QByteArray &bytes)
{
    // Look back over at most three continuation bytes for the lead byte of the last sequence.
    const int size = bytes.size();
    for (int back = 1; back <= 4 && back <= size; ++back) {
        const uchar byte = uchar(bytes.at(size - back));
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte
        const int needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return needed > back ? size - back : size;
    }
    return size; // not UTF-8 at the end: nothing is held back for ever
}

StandardStream::StandardStream(std::FILE *stream) : m_stream(stream)
{
#ifdef Q_OS_WIN
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode))
        m_console = handle;
    else
        _setmode(_fileno(stream), _O_BINARY); // "\n" stays "\n"; no code page in between
#endif
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 StandardStream::writeData(const char *data, qint64 size)
{
#ifdef Q_OS_WIN
    if (m_console) {
        m_unfinished.append(data, int(size));
        const int complete = completeUtf8Length(m_unfinished);
        const QString text = QString::fromUtf8(m_unfinished.constData(), complete);
        m_unfinished.remove(0, complete);
        const wchar_t *next = reinterpret_cast<const wchar_t *>(text.utf16());
        DWORD left = DWORD(text.size());
        while (left > 0) {
            DWORD written = 0;
            if (!WriteConsoleW(static_cast<HANDLE>(m_console), next, qMin<DWORD>(left, 8192),
                               &written, nullptr) ||
                written == 0)
                return -1;
            next += written;
            left -= written;
        }
        return size;
    }
#endif
    const size_t written = std::fwrite(data, 1, size_t(size), m_stream);
    std::fflush(m_stream);
    return written == size_t(size) ? size : -1;
}

} // namespace Platform
