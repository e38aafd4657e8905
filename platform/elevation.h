#pragma once

#include <QString>
#include <QStringList>

// Running a program with administrator rights. On Windows that is the shell's "runas" verb: the
// system asks the user to consent, and the program runs elevated in a console of its own, so
// its output cannot be read here; only its exit status comes back. Elsewhere nothing is
// elevated from here, and elevationAdvice() says what applies instead.
namespace Platform {

struct ElevatedRun
{
    bool started = false;  // false: refused by the user, or it could not be started
    bool finished = false; // false when it was still running at the time limit
    int exitCode = -1;
    QString error; // why it did not start, in words
};

class Elevator
{
public:
    virtual ~Elevator() = default;
    // True where this system can start a program elevated from here.
    virtual bool available() const = 0;
    // Starts the program elevated and waits at most `timeoutMs` for it to end. Blocks: call it
    // from a worker thread, never from the window's.
    virtual ElevatedRun run(const QString &program, const QStringList &arguments,
                            int timeoutMs) = 0;
};

// The system's elevator, or the one a test put in its place.
Elevator &elevator();
// Tests put a fake in place (not owned); nullptr brings back the system's.
void setElevatorForTesting(Elevator *fake);

// Where nothing can be elevated from here: how to run `command` with administrator rights, or
// why that would not help, in words for the user.
QString elevationAdvice(const QString &command);

} // namespace Platform
