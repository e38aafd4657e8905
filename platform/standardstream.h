#pragma once

#include <QByteArray>
#include <QIODevice>

#include <cstdio>

namespace Platform {

// The process's standard output or error as a device for UTF-8 text. A Windows console gets
// the text as UTF-16 (WriteConsoleW), so every letter shows whatever code page the console
// uses; anything else (a pipe, a file, every other system) gets the UTF-8 bytes unchanged, with
// no line-end translation.
class StandardStream : public QIODevice
{
public:
    explicit StandardStream(std::FILE *stream);

    // True when the stream is a Windows console written with WriteConsoleW.
    bool isConsole() const { return m_console != nullptr; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    std::FILE *m_stream;
    void *m_console = nullptr;
    QByteArray m_unfinished; // the start of a UTF-8 sequence whose end comes with the next write
};

// The length of the longest prefix of `bytes` that does not end inside a UTF-8 sequence.
int completeUtf8Length(const QByteArray &bytes);

} // namespace Platform
