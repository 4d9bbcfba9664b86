#include "controls/file_list.h"

#include "platform/file_names.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace {

// "*.bmp;*.JPG" → the lower-case extensions ".bmp", ".jpg". Patterns of other shapes fall back to
// wildcard matching.
struct PatternMatcher
{
    QStringList suffixes;
    QStringList wildcards;

    explicit PatternMatcher(const QString &pattern)
    {
        for (const QString &part : pattern.split(u';', Qt::SkipEmptyParts)) {
            const QString item = part.trimmed();
            const QStringView rest = QStringView(item).mid(1);
            if (item.startsWith(u'*') && !rest.contains(u'*') && !rest.contains(u'?'))
                suffixes << rest.toString().toLower();
            else
                wildcards << item;
        }
    }

    bool matches(const QString &name) const
    {
        for (const QString &suffix : suffixes) {
            if (name.size() > suffix.size() - 1 && name.endsWith(suffix, Qt::CaseInsensitive))
                return true;
        }
        return !wildcards.isEmpty() && QDir::match(wildcards, name);
    }
};

#ifdef Q_OS_UNIX
// Reads the folder with readdir: the entry's type comes with its name, so only names that match
// and whose type the file system does not tell (or that are links) need a stat. Returns the
// platform's description of a failure to open the folder.
QString readFolder(const QString &folder, const PatternMatcher &matcher, QStringList &names)
{
    DIR *dir = ::opendir(platform::encodeFileName(folder).constData());
    if (!dir)
        return QString::fromLocal8Bit(std::strerror(errno));
    const int fd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        // Hidden dot-files, "." and "..".
        if (entry->d_name[0] == '.')
            continue;
        if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            continue;
        QString name = platform::decodeFileName(entry->d_name);
        if (!matcher.matches(name))
            continue;
        if (entry->d_type != DT_REG) {
            // Links count when they lead to a regular file.
            struct stat status;
            if (::fstatat(fd, entry->d_name, &status, 0) != 0 || !S_ISREG(status.st_mode))
                continue;
        }
        names << std::move(name);
    }
    ::closedir(dir);
    return {};
}
#else
QString readFolder(const QString &folder, const PatternMatcher &matcher, QStringList &names)
{
    if (!QDir(folder).isReadable())
        return QStringLiteral("Access denied");
    // Files only: no folders, no hidden files, no devices.
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        QString name = it.nextFileInfo().fileName();
        if (matcher.matches(name))
            names << std::move(name);
    }
    return {};
}
#endif

} // namespace

FileList::FileList(QString pattern) : m_pattern(std::move(pattern)) {}

FileList::Result FileList::setPath(const QString &folder)
{
    if (folder.isEmpty() || !platform::isFolder(folder))
        return {Failure::PathNotFound, QStringLiteral("Path not found")};

    // Regular files (or links to them) only: no folders, no hidden dot-files, no FIFOs, sockets
    // or devices.
    const PatternMatcher matcher(m_pattern);
    QStringList names;
    if (const QString error = readFolder(folder, matcher, names); !error.isEmpty())
        return {Failure::Other, error};
    // Name order without regard to case; the exact name breaks ties so the order is stable.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    m_path = folder;
    m_names = std::move(names);
    return {};
}

QString FileList::list(int position) const
{
    if (position < 0 || position >= m_names.size())
        return {};
    return m_names.at(position);
}
