#include "platform/file_save.h"

#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>
#endif

namespace platform {

namespace {

#ifdef Q_OS_UNIX
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
#endif

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
        return QStringLiteral("通常のファイルではないので、書き換えません。");

#ifdef Q_OS_UNIX
    const FileSizeSignalIgnored fileSizeSignal;
#endif
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // Unbuffered: each write reaches the file system at once and reports its own failure (a
    // buffered one would fail only inside commit(), which then still replaces the old file).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed(file, file.errorString());
    for (qsizetype written = 0; written < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0)
            return failed(file, file.errorString());
        written += n;
    }
#ifdef Q_OS_UNIX
    // A full disk or quota may show only now, when the file system allocates the blocks.
    if (::fsync(file.handle()) != 0)
        return failed(file, QString::fromLocal8Bit(std::strerror(errno)));
#endif
    if (!file.commit())
        return failed(file, file.errorString());
    return {};
}

} // namespace platform
