#include "platform/install_layout.h"

#include "platform/file_names.h"

#include <QDir>
#include <QFile>

#ifndef RORUMO_PRIVATE_LIBDIR_FROM_BIN
#define RORUMO_PRIVATE_LIBDIR_FROM_BIN "../lib/rorumo"
#endif

namespace platform {

QString makerLibraryFileName()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("VLM3Res.dll");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("libVLM3Res.dylib");
#else
    return QStringLiteral("libVLM3Res.so");
#endif
}

QString privateLibraryFolder(const QString &executableFolder)
{
    return QDir::cleanPath(
        QDir(executableFolder).absoluteFilePath(QStringLiteral(RORUMO_PRIVATE_LIBDIR_FROM_BIN)));
}

QStringList makerLibraryFolders(const QString &executableFolder)
{
    QStringList folders{QDir::cleanPath(QDir(executableFolder).absolutePath())};
    const QString privateFolder = privateLibraryFolder(executableFolder);
    if (privateFolder != folders.front())
        folders << privateFolder;
    return folders;
}

QString findPictureWorker(const QString &executableFolder)
{
    // A folder that is not absolute would be taken from the working folder.
    if (!QDir::isAbsolutePath(executableFolder))
        return {};
#if defined(Q_OS_WIN)
    const QString name = QStringLiteral("rorumo-picture-worker.exe");
#else
    const QString name = QStringLiteral("rorumo-picture-worker");
#endif
    // Looked at by the name's bytes: the program's folder may be named in Latin-1 or Shift_JIS.
    for (const QString &folder : makerLibraryFolders(executableFolder)) {
        const QString candidate = QDir(folder).filePath(name);
        QFile file;
        if (openRegularFile(file, candidate))
            return candidate;
    }
    return {};
}

bool isInstalledProgram(const QString &executableFolder)
{
    const QString name = makerLibraryFileName();
    const QString privateFolder = privateLibraryFolder(executableFolder);
    if (privateFolder == QDir::cleanPath(QDir(executableFolder).absolutePath()))
        return false;
    return isFile(QDir(privateFolder).filePath(name)) &&
           !isFile(QDir(executableFolder).filePath(name));
}

} // namespace platform
