#pragma once

#include <QFile>
#include <QString>

#ifdef Q_OS_UNIX
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// A named pipe put where a file was. A reader that opens it waits for a writer for ever, so
// from `patienceMs` on a watch opens it for writing now and then: a reader caught in it ends
// (and the test fails on lettingGo()) instead of hanging the run.
class PipeInPlace
{
public:
    explicit PipeInPlace(const QString &path, int patienceMs = 3000)
        : m_path(QFile::encodeName(path))
    {
        QFile::remove(path);
        m_made = ::mkfifo(m_path.constData(), 0600) == 0;
        m_watch = std::thread([this, patienceMs] { watch(patienceMs); });
    }
    ~PipeInPlace()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopped = true;
        }
        m_wake.notify_all();
        m_watch.join();
    }
    PipeInPlace(const PipeInPlace &) = delete;
    PipeInPlace &operator=(const PipeInPlace &) = delete;

    bool made() const { return m_made; }
    // How often a reader was found waiting in the pipe and let go.
    int lettingGo() const { return m_letGo; }

private:
    void watch(int patienceMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto next = std::chrono::milliseconds(patienceMs);
        while (!m_wake.wait_for(lock, next, [this] { return m_stopped; })) {
            // Succeeds only while a reader has it open.
            const int writer = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                ::close(writer);
                ++m_letGo;
            }
            next = std::chrono::milliseconds(200);
        }
    }

    QByteArray m_path;
    bool m_made = false;
    std::atomic<int> m_letGo{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopped = false;
    std::thread m_watch;
};
#endif
