#include "pictures/picture_requests.h"

#include "pictures/picture_loader.h"

#include <QCoreApplication>

namespace platform {

PictureRequests::PictureRequests()
{
    m_pool.setMaxThreadCount(1);
}

PictureRequests::~PictureRequests()
{
    abandon();
    m_pool.waitForDone();
}

void PictureRequests::abandon()
{
    ++m_latest;
    if (m_abandonLatest)
        m_abandonLatest->store(true);
    m_abandonLatest.reset();
    m_pool.clear();
}

void PictureRequests::request(const QString &path, qreal devicePixelRatio, Answer answer)
{
    abandon();
    const quint64 ticket = m_latest;
    if (path.isEmpty()) {
        answer(Picture{});
        Q_EMIT answered();
        return;
    }
    auto abandon = std::make_shared<std::atomic_bool>(false);
    m_abandonLatest = abandon;
    m_pool.start([this, ticket, path, devicePixelRatio, answer = std::move(answer), abandon] {
        // The deadline counts from when the work starts, not from when it was asked for.
        auto picture = loadPicture(path, devicePixelRatio,
                                   {QDeadlineTimer(kPictureDeadlineMs), abandon.get()});
        // `this` outlives the task: the destructor waits for it, and drops what it posted.
        QMetaObject::invokeMethod(
            this,
            [this, ticket, answer, picture = std::move(picture)]() mutable {
                if (ticket != m_latest)
                    return;
                answer(std::move(picture));
                Q_EMIT answered();
            },
            Qt::QueuedConnection);
    });
}

void PictureRequests::waitForAnswer()
{
    m_pool.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

} // namespace platform
