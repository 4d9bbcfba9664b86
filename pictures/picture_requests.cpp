#include "pictures/picture_requests.h"

#include "platform/file_names.h"
#include "platform/processes.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <algorithm>
#include <span>
#include <utility>

namespace pictures {

namespace {
// How long the end of the program waits, in all, for killed workers to be gone; one held in the
// kernel (a read from a dead mount) is left to the system rather than holding the end.
constexpr int kEndWaitMs = 300;
// Older requests share the machine with a newer one this long before they are held: a quick
// picture asked for just before is done by then, and shows as soon as it would have.
constexpr int kHoldOlderAfterMs = 200;
} // namespace

struct PictureRequests::Worker
{
    std::unique_ptr<QProcess> process;
    QTimer deadline;
    // While a request is out: the request, its answer as it comes in, and who gets it.
    wire::Request sent;
    std::optional<wire::AnswerReader> reader;
    Answer answer;
    // Whether it has answered a request: a worker that has is one that can run.
    bool answeredBefore = false;
    // Held still while a newer request loads: what was left of its deadline.
    std::optional<int> heldWithMs;
};

PictureRequests::PictureRequests(const QString &worker)
    : PictureRequests(
          std::make_shared<platform::HelperStarter>(QList<platform::HelperCommand>{{worker, {}}}))
{}

PictureRequests::PictureRequests(std::shared_ptr<platform::HelperStarter> workers)
    : m_workers(std::move(workers))
{
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setInterval(kHoldOlderAfterMs);
    connect(&m_holdTimer, &QTimer::timeout, this, [this] {
        for (auto &busy : m_busy)
            hold(*busy, busy != m_busy.back());
    });
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(kWorkerIdleMs);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (m_idle)
            retire(std::move(m_idle), false);
    });
}

PictureRequests::~PictureRequests()
{
    // Nothing waits for a picture: every worker is killed.
    std::vector<std::unique_ptr<Worker>> all = std::move(m_ending);
    for (auto &worker : m_busy)
        all.push_back(std::move(worker));
    if (m_idle)
        all.push_back(std::move(m_idle));
    for (const auto &worker : all) {
        worker->process->disconnect(this);
        if (worker->process->state() != QProcess::NotRunning)
            worker->process->kill();
    }
    const QDeadlineTimer end(kEndWaitMs);
    for (auto &worker : all) {
        if (worker->process->state() != QProcess::NotRunning &&
            !worker->process->waitForFinished(int(end.remainingTime())))
            (void)worker->process.release(); // QProcess's destructor would wait 30 s for it
    }
}

std::unique_ptr<PictureRequests::Worker> PictureRequests::startWorker()
{
    auto worker = std::make_unique<Worker>();
    worker->process = m_workers ? m_workers->start() : nullptr;
    if (!worker->process)
        return nullptr;
    QProcess &process = *worker->process;
    Worker *raw = worker.get();
    connect(&process, &QProcess::readyReadStandardOutput, this, [this, raw] { output(raw); });
    connect(&process, &QProcess::finished, this, [this, raw] { ended(raw); });
    connect(&process, &QProcess::errorOccurred, this, [this, raw](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(raw);
    });
    worker->deadline.setSingleShot(true);
    connect(&worker->deadline, &QTimer::timeout, this,
            [this, raw] { finish(raw, std::nullopt, false); });
    return worker;
}

void PictureRequests::request(const QString &path, qreal devicePixelRatio, Answer answer,
                              QSize visible)
{
    const quint32 ticket = ++m_lastTicket;
    if (path.isEmpty()) {
        dropBusy();
        answer(Picture{});
        Q_EMIT answered();
        return;
    }
    // Earlier requests go on: when this one fails, one of them is what the user sees.
    if (m_busy.size() >= std::size_t(kMaxBusyWorkers))
        finish(m_busy.front().get(), std::nullopt, false);
    std::unique_ptr<Worker> worker;
    if (m_idle) {
        m_idleTimer.stop();
        worker = std::move(m_idle);
    } else {
        worker = startWorker();
    }
    if (!worker) {
        answer(std::nullopt);
        if (m_busy.empty())
            Q_EMIT answered();
        return;
    }
    worker->answer = std::move(answer);
    // The deadline counts from the request: a worker's start-up is part of the picture's cost.
    send(*worker, {ticket, platform::encodeFileName(path), devicePixelRatio, visible},
         kPictureDeadlineMs);
    m_busy.push_back(std::move(worker));
    m_holdTimer.start();
}

void PictureRequests::send(Worker &worker, wire::Request request, int deadlineMs)
{
    worker.reader.emplace(request);
    worker.process->write(wire::encodeRequest(request));
    worker.sent = std::move(request);
    worker.deadline.start(deadlineMs);
}

bool PictureRequests::restart(Worker *worker)
{
    const auto found = std::ranges::find(m_busy, worker, &std::unique_ptr<Worker>::get);
    if (found == m_busy.end() || worker->heldWithMs || worker->answeredBefore || !m_workers ||
        !m_workers->forgetIfCouldNotRun(*worker->process))
        return false;
    std::unique_ptr<Worker> next = startWorker();
    if (!next)
        return false;
    next->answer = std::move(worker->answer);
    send(*next, std::move(worker->sent),
         int(std::max<qint64>(0, worker->deadline.remainingTime())));
    retire(std::exchange(*found, std::move(next)), true);
    return true;
}

void PictureRequests::output(Worker *worker)
{
    const QByteArray bytes = worker->process->readAllStandardOutput();
    if (!worker->reader) { // an idle worker has nothing to say
        retire(take(worker), true);
        return;
    }
    switch (worker->reader->feed(bytes)) {
    case wire::AnswerReader::State::Reading:
        return;
    case wire::AnswerReader::State::Bad:
        finish(worker, std::nullopt, false);
        return;
    case wire::AnswerReader::State::Done: {
        // A file that holds nothing to draw is, to the controls, one that cannot be loaded.
        auto picture = worker->reader->take();
        if (picture && picture->isEmpty())
            picture.reset();
        finish(worker, std::move(picture), true);
        return;
    }
    }
}

void PictureRequests::ended(Worker *worker)
{
    if (!worker->reader) {
        retire(take(worker), true);
        return;
    }
    // A complete answer has been read before the end is told, so a busy worker failed, unless
    // it could not run at all: then the next way of starting one takes the request over.
    if (!restart(worker))
        finish(worker, std::nullopt, false);
}

void PictureRequests::finish(Worker *worker, std::optional<Picture> picture, bool keepWorker)
{
    const auto found = std::ranges::find(m_busy, worker, &std::unique_ptr<Worker>::get);
    if (found == m_busy.end())
        return;
    const auto earlier = found - m_busy.begin();
    const bool newest = found + 1 == m_busy.end();
    std::unique_ptr<Worker> done = std::move(*found);
    m_busy.erase(found);
    hold(*done, false); // its whole answer may have come before it was held
    done->answeredBefore = done->answeredBefore || keepWorker;
    done->deadline.stop();
    done->reader.reset();
    Answer answer = std::move(done->answer);
    if (keepWorker)
        park(std::move(done));
    else
        retire(std::move(done), true);
    // Earlier requests would only replace this picture with an older one.
    if (picture) {
        for (auto &older : std::span(m_busy).first(earlier))
            retire(std::move(older), true);
        m_busy.erase(m_busy.begin(), m_busy.begin() + earlier);
    } else if (newest && !m_busy.empty()) {
        hold(*m_busy.back(), false);
    }
    answer(std::move(picture));
    if (m_busy.empty())
        Q_EMIT answered();
}

std::unique_ptr<PictureRequests::Worker> PictureRequests::take(Worker *worker)
{
    if (m_idle.get() == worker) {
        m_idleTimer.stop();
        return std::move(m_idle);
    }
    const auto found = std::ranges::find(m_busy, worker, &std::unique_ptr<Worker>::get);
    if (found == m_busy.end())
        return nullptr;
    std::unique_ptr<Worker> taken = std::move(*found);
    m_busy.erase(found);
    return taken;
}

void PictureRequests::park(std::unique_ptr<Worker> worker)
{
    if (m_idle) {
        retire(std::move(worker), false);
        return;
    }
    m_idle = std::move(worker);
    m_idleTimer.start();
}

void PictureRequests::retire(std::unique_ptr<Worker> worker, bool kill)
{
    if (!worker)
        return;
    worker->deadline.stop();
    worker->deadline.disconnect(this);
    QProcess &process = *worker->process;
    process.disconnect(this);
    if (process.state() != QProcess::NotRunning) {
        if (kill) {
            process.kill();
        } else {
            // The worker ends at the end of its input; one that does not is killed.
            process.closeWriteChannel();
            connect(&worker->deadline, &QTimer::timeout, &process, &QProcess::kill);
            worker->deadline.start(kWorkerEndGraceMs);
        }
        const auto gone = [this] {
            QMetaObject::invokeMethod(this, &PictureRequests::sweep, Qt::QueuedConnection);
        };
        connect(&process, &QProcess::finished, this, gone);
        connect(&process, &QProcess::errorOccurred, this, gone);
    }
    // Deleted later, from the event loop: this may run inside the worker's own signals.
    m_ending.push_back(std::move(worker));
    QMetaObject::invokeMethod(this, &PictureRequests::sweep, Qt::QueuedConnection);
}

void PictureRequests::sweep()
{
    std::erase_if(m_ending, [](const std::unique_ptr<Worker> &worker) {
        return worker->process->state() == QProcess::NotRunning;
    });
}

void PictureRequests::hold(Worker &worker, bool still)
{
    if (still == worker.heldWithMs.has_value())
        return;
    const qint64 pid = worker.process->processId();
    if (still) {
        worker.heldWithMs = int(std::max<qint64>(0, worker.deadline.remainingTime()));
        worker.deadline.stop();
        platform::holdProcess(pid, true);
    } else {
        platform::holdProcess(pid, false);
        worker.deadline.start(*std::exchange(worker.heldWithMs, std::nullopt));
    }
}

void PictureRequests::dropBusy()
{
    for (auto &worker : m_busy)
        retire(std::move(worker), true);
    m_busy.clear();
}

void PictureRequests::abandon()
{
    const bool wasBusy = !m_busy.empty();
    dropBusy();
    if (wasBusy)
        Q_EMIT answered();
}

void PictureRequests::waitForAnswer()
{
    if (m_busy.empty())
        return;
    QEventLoop loop;
    connect(this, &PictureRequests::answered, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace pictures
