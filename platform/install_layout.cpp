#include "platform/install_layout.h"

#include "platform/file_names.h"

#include <QDir>

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
