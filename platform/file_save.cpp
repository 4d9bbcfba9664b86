#include "platform/file_save.h"

#include "platform/file_names.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QFileInfo>
#include <QSaveFile>
#endif

namespace platform {

namespace {

const QString kNotRegularFile = QStringLiteral("通常のファイルではないので、書き換えません。");

#ifdef Q_OS_UNIX
constexpr int kMaxLinks = 64;
constexpr int kRefused = -1; // the target is no regular file

// A file-size limit (ulimit -f) raises SIGXFSZ, which would end the program in the middle of the
// save; ignored, the write fails instead and the user hears why.
class FileSizeSignalIgnored
{
public:
    FileSizeSignalIgnored()
    {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        ::sigemptyset(&ignore.sa_mask);
        m_restore = ::sigaction(SIGXFSZ, &ignore, &m_old) == 0;
    }
    ~FileSizeSignalIgnored()
    {
        if (m_restore)
            ::sigaction(SIGXFSZ, &m_old, nullptr);
    }
    FileSizeSignalIgnored(const FileSizeSignalIgnored &) = delete;
    FileSizeSignalIgnored &operator=(const FileSizeSignalIgnored &) = delete;

private:
    struct sigaction m_old = {};
    bool m_restore = false;
};

// Where a chain of links leads (a dangling one included).
QByteArray linkTarget(QByteArray path)
{
    for (int depth = 0; depth < kMaxLinks; ++depth) {
        struct stat status;
        if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            break;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.constData(), target.data(), target.size());
        if (length <= 0 || length >= target.size())
            break;
        target.truncate(length);
        path = target.startsWith('/') ? target : path.left(path.lastIndexOf('/') + 1) + target;
    }
    return path;
}

// Writes `size` bytes to `temporary`, makes sure they reached the disk, then renames it over
// `target`. System calls only. Returns 0, kRefused or the errno of the failure.
int replaceWhole(const char *target, const char *temporary, const char *data,
                 std::size_t size) noexcept
{
    struct stat status;
    const bool exists = ::stat(target, &status) == 0;
    if (exists && !S_ISREG(status.st_mode))
        return kRefused;
    ::unlink(temporary);
    const int fd = ::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return errno;
    int error = 0;
    // The new file keeps the old one's permissions.
    if (exists && ::fchmod(fd, status.st_mode & 07777) != 0)
        error = errno;
    for (std::size_t done = 0; done < size && error == 0;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0)
            done += std::size_t(n);
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    // A full disk or quota may show only now, when the file system allocates the blocks.
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary, target) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temporary);
    return error;
}
#endif

} // namespace

PreparedSave::PreparedSave(const QString &path, const QByteArray &bytes)
    : m_path(path), m_bytes(bytes)
{
#ifdef Q_OS_UNIX
    m_target = linkTarget(encodeFileName(path));
    m_temporary = m_target + ".saving-" + QByteArray::number(qint64(::getpid()));
#endif
}

PreparedSave PreparedSave::withBytes(const QByteArray &bytes) const
{
    PreparedSave save = *this;
    save.m_bytes = bytes;
    return save;
}

#ifdef Q_OS_UNIX

bool PreparedSave::write() const noexcept
{
    return replaceWhole(m_target.constData(), m_temporary.constData(), m_bytes.constData(),
                        std::size_t(m_bytes.size())) == 0;
}

QString saveFileWhole(const QString &path, const QByteArray &bytes)
{
    const PreparedSave save(path, bytes);
    const FileSizeSignalIgnored fileSizeSignal;
    const int error = replaceWhole(save.m_target.constData(), save.m_temporary.constData(),
                                   bytes.constData(), std::size_t(bytes.size()));
    if (error == 0)
        return {};
    return error == kRefused ? kNotRegularFile : QString::fromLocal8Bit(std::strerror(error));
}

#else

bool PreparedSave::write() const noexcept
{
    return saveFileWhole(m_path, m_bytes).isEmpty();
}

namespace {
QString failed(QSaveFile &file, const QString &reason)
{
    file.cancelWriting();
    return reason.isEmpty() ? QStringLiteral("Unknown error") : reason;
}
} // namespace

QString saveFileWhole(const QString &path, const QByteArray &bytes)
{
    // Where a link leads, as the save would follow it.
    QFileInfo target(path);
    for (int depth = 0; target.isSymLink() && depth < 64; ++depth)
        target.setFile(target.symLinkTarget());
    if (target.exists() && !target.isFile())
        return kNotRegularFile;
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // Unbuffered: each write reports its own failure (a buffered one would fail only inside
    // commit(), which then still replaces the old file).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed(file, file.errorString());
    for (qsizetype written = 0; written < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0)
            return failed(file, file.errorString());
        written += n;
    }
    if (!file.commit())
        return failed(file, file.errorString());
    return {};
}

#endif

} // namespace platform
