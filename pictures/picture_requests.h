#pragma once

#include "pictures/picture.h"
#include "pictures/worker_protocol.h"
#include "platform/helper_process.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QProcess;

namespace pictures {

// A worker left without a picture to load ends after this long.
inline constexpr int kWorkerIdleMs = 10000;
// A worker told to end (its input closed) is killed when it has not ended after this long.
inline constexpr int kWorkerEndGraceMs = 1000;
// At most this many pictures load at once; a request beyond it ends the oldest.
inline constexpr int kMaxBusyWorkers = 3;

// Loads the pictures of one control in worker processes (the picture worker executable), so
// that no picture file, however costly or hostile, holds the bus, the panel, the doors, the
// user's next choice or the end of the program. A worker opens the file itself: a file on a
// dead mount stalls the worker, never the user-interface thread.
//
// The answers come back on this object's thread as the user would have seen them had each
// picture been shown in turn: a picture is handed over as soon as it has loaded unless a later
// request's picture has already been; a picture that cannot be loaded (not a picture, beyond
// the deadline, a worker that crashed or answered nonsense) keeps the one before it.
//
// The newest request has the machine: the workers of older ones still loading a moment later are
// held still meanwhile, and go on, their deadlines with them, only when every newer one has
// failed. So the user's latest choice shows in about its own time.
class PictureRequests : public QObject
{
    Q_OBJECT

public:
    using Answer = std::function<void(std::optional<Picture>)>;

    // `workers`: how picture workers are started, shared by the requests of every control so
    // that a worker that cannot be started is tried once; without one no picture can be loaded.
    explicit PictureRequests(std::shared_ptr<platform::HelperStarter> workers);
    // `worker`: the picture worker executable.
    explicit PictureRequests(const QString &worker);
    ~PictureRequests() override;

    // Asks for the picture at `path`; `answer` gets it once it has loaded, unless a later
    // request's picture came first, or std::nullopt when it cannot be loaded. The empty path is
    // answered at once with the empty picture. With a `visible` size only what a box of that
    // size shows from the picture's top-left corner is loaded (loadPicture).
    void request(const QString &path, qreal devicePixelRatio, Answer answer, QSize visible = {});

    // Whether a request is still unanswered.
    bool busy() const { return !m_busy.empty(); }

    // Drops every request not yet answered.
    void abandon();

    // Waits until no request is left unanswered (at most the deadline).
    void waitForAnswer();

Q_SIGNALS:
    // No request is left unanswered.
    void answered();

private:
    struct Worker;

    std::unique_ptr<Worker> startWorker();
    void output(Worker *worker);
    void ended(Worker *worker);
    void send(Worker &worker, wire::Request request, int deadlineMs);
    // Gives a busy worker's request to a new one when the worker could not run at all.
    bool restart(Worker *worker);
    // The request `worker` was loading has its answer.
    void finish(Worker *worker, std::optional<Picture> picture, bool keepWorker);
    std::unique_ptr<Worker> take(Worker *worker);
    void park(std::unique_ptr<Worker> worker);
    // Ends a worker: at once, or by closing its input when it is idle (and killing it when it
    // does not end by itself).
    void retire(std::unique_ptr<Worker> worker, bool kill);
    void sweep();
    void dropBusy();
    // Holds a busy worker still, or lets it go on with the rest of its deadline.
    void hold(Worker &worker, bool still);

    std::shared_ptr<platform::HelperStarter> m_workers;
    quint32 m_lastTicket = 0;
    std::vector<std::unique_ptr<Worker>> m_busy; // in the order of their requests
    std::unique_ptr<Worker> m_idle;
    std::vector<std::unique_ptr<Worker>> m_ending; // ended or told to, until they are gone
    QTimer m_idleTimer;
    QTimer m_holdTimer; // holds the older workers a little after a newer request
};

} // namespace pictures
