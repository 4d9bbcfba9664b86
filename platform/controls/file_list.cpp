#include "platform/controls/file_list.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <dirent.h>
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

QString describeFolderError(const QString &folder)
{
#ifdef Q_OS_UNIX
    if (DIR *dir = ::opendir(QFile::encodeName(folder).constData())) {
        ::closedir(dir);
        return {};
    }
    return QString::fromLocal8Bit(std::strerror(errno));
#else
    return QDir(folder).isReadable() ? QString() : QStringLiteral("Access denied");
#endif
}

} // namespace

FileList::FileList(QString pattern) : m_pattern(std::move(pattern)) {}

FileList::Result FileList::setPath(const QString &folder)
{
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir())
        return {Failure::PathNotFound, QStringLiteral("Path not found")};
    if (const QString error = describeFolderError(folder); !error.isEmpty())
        return {Failure::Other, error};

    const PatternMatcher matcher(m_pattern);
    QStringList names;
    // Files only: no folders, no hidden dot-files, no FIFOs, sockets or devices.
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString name = it.nextFileInfo().fileName();
        if (matcher.matches(name))
            names << name;
    }
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
