#pragma once

#include "pictures/picture.h"

#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

// How long a picture may take to load before it counts as a picture that cannot be loaded.
inline constexpr int kPictureDeadlineMs = 4000;

// Loads the pictures of one control away from the user-interface thread, so the bus, the panel
// and the doors keep going while a big picture loads. The answer comes back on this object's
// thread, and only for the latest request: a later request wins over an earlier one still
// loading, which is abandoned.
class PictureRequests : public QObject
{
    Q_OBJECT

public:
    using Answer = std::function<void(std::optional<Picture>)>;

    PictureRequests();
    ~PictureRequests() override;

    // Asks for the picture at `path`; `answer` gets it (std::nullopt when it cannot be loaded)
    // unless another request comes first. The empty path is answered at once with the empty
    // picture.
    void request(const QString &path, qreal devicePixelRatio, Answer answer);

    // Drops every request not yet answered.
    void abandon();

    // Waits until the latest request is answered.
    void waitForAnswer();

Q_SIGNALS:
    void answered();

private:
    QThreadPool m_pool; // its one thread starts with the first picture and ends when idle
    quint64 m_latest = 0;
    std::shared_ptr<std::atomic_bool> m_abandonLatest;
};

} // namespace platform
