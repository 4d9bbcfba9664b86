#include "platform/file_names.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef Q_OS_UNIX
namespace {

constexpr char16_t kEscapeBase = 0xDC00; // U+DC80..U+DCFF stand for the bytes 0x80..0xFF
constexpr char16_t kEscapeFirst = 0xDC80;
constexpr char16_t kEscapeLast = 0xDCFF;

// The length of the well-formed UTF-8 sequence at `i`, or 0 when the byte there starts none.
qsizetype utf8SequenceLength(QByteArrayView bytes, qsizetype i)
{
    const auto byteAt = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = byteAt(i);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned char low = 0x80;  // range of the second byte, which rules out overlong forms,
    unsigned char high = 0xBF; // surrogates and values above U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() - i < length || byteAt(i + 1) < low || byteAt(i + 1) > high)
        return 0;
    for (qsizetype k = 2; k < length; ++k) {
        if (byteAt(i + k) < 0x80 || byteAt(i + k) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

QString decodeFileName(QByteArrayView bytes)
{
    QString result;
    result.reserve(bytes.size());
    qsizetype runStart = 0;
    qsizetype i = 0;
    while (i < bytes.size()) {
        if (const qsizetype length = utf8SequenceLength(bytes, i)) {
            i += length;
            continue;
        }
        if (i > runStart)
            result += QString::fromUtf8(bytes.sliced(runStart, i - runStart));
        result += QChar(char16_t(kEscapeBase + static_cast<unsigned char>(bytes[i])));
        runStart = ++i;
    }
    result += QString::fromUtf8(bytes.sliced(runStart));
    return result;
}

QByteArray encodeFileName(QStringView name)
{
    QByteArray result;
    result.reserve(name.size());
    qsizetype runStart = 0;
    qsizetype i = 0;
    while (i < name.size()) {
        const char16_t unit = name[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            i += 2; // a character beyond U+FFFF, whatever its low half
            continue;
        }
        if (unit < kEscapeFirst || unit > kEscapeLast) {
            ++i;
            continue;
        }
        if (i > runStart)
            result += name.sliced(runStart, i - runStart).toUtf8();
        result += char(unit - kEscapeBase);
        runStart = ++i;
    }
    result += name.sliced(runStart).toUtf8();
    return result;
}

QString fileSystemPath(const QString &path)
{
    if (!path.contains(QChar::ReplacementCharacter))
        return path;
    const QStringList names = path.split(u'/');
    QString result = names.front(); // empty for an absolute path
    for (qsizetype i = 1; i < names.size(); ++i) {
        QString name = names[i];
        DIR *dir = name.contains(QChar::ReplacementCharacter)
                       ? ::opendir(result.isEmpty() ? "/" : encodeFileName(result).constData())
                       : nullptr;
        if (dir) {
            QStringList matches;
            while (const dirent *entry = ::readdir(dir)) {
                if (QFile::decodeName(entry->d_name) == name)
                    matches << decodeFileName(entry->d_name);
            }
            ::closedir(dir);
            if (matches.size() == 1)
                name = matches.front();
        }
        result += u'/' + name;
    }
    return result;
}

bool openRegularFile(QFile &file, const QString &path)
{
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    const int fd =
        ::open(encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool isFolder(const QString &path)
{
    struct stat status;
    return ::stat(encodeFileName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool isFile(const QString &path)
{
    struct stat status;
    return ::stat(encodeFileName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

bool isWritableFolder(const QString &path)
{
    return isFolder(path) && ::access(encodeFileName(path).constData(), W_OK) == 0;
}

QString executablePath()
{
#ifdef Q_OS_LINUX
    QByteArray bytes(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", bytes.data(), bytes.size());
    if (length > 0 && length < bytes.size()) {
        bytes.truncate(length);
        // The file replaced under the running program (an upgrade): its name, without the mark.
        constexpr QByteArrayView kReplaced = " (deleted)";
        if (bytes.endsWith(kReplaced) && ::access(bytes.constData(), F_OK) != 0)
            bytes.chop(kReplaced.size());
        return decodeFileName(bytes);
    }
#endif
    return QCoreApplication::applicationFilePath();
}

#else

QString decodeFileName(QByteArrayView bytes)
{
    return QString::fromLocal8Bit(bytes);
}

QByteArray encodeFileName(QStringView name)
{
    return name.toLocal8Bit();
}

QString fileSystemPath(const QString &path)
{
    return path;
}

bool openRegularFile(QFile &file, const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly);
}

bool isFolder(const QString &path)
{
    return QFileInfo(path).isDir();
}

bool isFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

bool isWritableFolder(const QString &path)
{
    const QFileInfo folder(path);
    return folder.isDir() && folder.isWritable();
}

QString executablePath()
{
    return QCoreApplication::applicationFilePath();
}

#endif

} // namespace platform
