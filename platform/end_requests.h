#pragma once

#include <QObject>

class QSocketNotifier;

namespace platform {

// The system's requests that the program end: SIGTERM (logout, shutdown), SIGHUP (the session or
// the terminal gone) and SIGINT (Ctrl+C). The signal handler only writes a byte into a socket
// pair; the byte arrives here on the user-interface thread as `endRequested`, also while a modal
// window or a door movement runs. A signal that was ignored when the program started (nohup)
// stays ignored.
//
// Requests often come in bursts (a closed terminal sends two hang-ups, a session's end a SIGTERM
// and a SIGHUP): those that follow the first within kPatience change nothing. A request that
// comes later means that the program could not end by itself: it ends at once, writing the save
// kept ready (save_at_exit.h) unless the normal one has run, with the status of that signal.
// The rule holds until the process ends, also after the object is gone. One object at a time.
class EndRequests : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPatienceSeconds = 3;

    explicit EndRequests(QObject *parent = nullptr);
    ~EndRequests() override;

Q_SIGNALS:
    void endRequested();

private:
    void drain();

    int m_readEnd = -1;
    int m_writeEnd = -1;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace platform
