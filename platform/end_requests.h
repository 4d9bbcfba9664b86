#pragma once

#include <QObject>

class QSocketNotifier;

namespace platform {

// The system's requests that the program end: SIGTERM (logout, shutdown), SIGHUP (the session or
// the terminal gone) and SIGINT (Ctrl+C). The signal handler only writes a byte into a socket
// pair; the byte arrives here on the user-interface thread as `endRequested`, also while a modal
// window or a door movement runs. A signal that was ignored when the program started (nohup)
// stays ignored, and a second signal of the same kind ends the program at once. One object at a
// time.
class EndRequests : public QObject
{
    Q_OBJECT
public:
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
