#pragma once

#include <QString>
#include <QStringList>

// A hidden file list: the names of the regular files of one folder that match a pattern such as
// "*.bmp;*.jpg", sorted by name. It reads the folder only when its path is set.
class FileList
{
public:
    enum class Failure
    {
        None,
        PathNotFound,
        Other
    };
    struct Result
    {
        Failure failure = Failure::None;
        QString description; // the platform's words for a failure
    };

    explicit FileList(QString pattern);

    const QString &path() const { return m_path; }
    // Points the list at a folder and reads it. On failure the list keeps its folder and names.
    Result setPath(const QString &folder);

    const QString &pattern() const { return m_pattern; }
    int listCount() const { return int(m_names.size()); }
    // The name at a position; empty for a position outside the list.
    QString list(int position) const;
    const QStringList &names() const { return m_names; }

private:
    QString m_pattern;
    QString m_path;
    QStringList m_names;
};
