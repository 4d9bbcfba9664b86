#include "platform/maker_library.h"

#include "platform/elf_check.h"
#include "platform/install_layout.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>

namespace platform {

VLM3ResLibrary::VLM3ResLibrary(QString executableFolder) : m_folder(std::move(executableFolder)) {}

QString VLM3ResLibrary::fileName()
{
    return makerLibraryFileName();
}

QString VLM3ResLibrary::loadedFile() const
{
    return m_library ? m_library->fileName() : QString();
}

MakerLibrary::Answer VLM3ResLibrary::homepageAddress()
{
    // A folder that is not absolute would be taken from the working folder, where a library of
    // the same name may have been planted.
    if (!QDir::isAbsolutePath(m_folder))
        return {false,
                {},
                QStringLiteral("Cannot load library %1: the program's folder is unknown")
                    .arg(fileName())};
    // A library that did not load is looked for afresh at the next call: the user may have
    // installed it meanwhile.
    if (!m_library || !m_library->isLoaded()) {
        const QStringList folders = makerLibraryFolders(m_folder);
        QString file = QDir(folders.front()).absoluteFilePath(fileName());
        for (const QString &folder : folders) {
            const QString candidate = QDir(folder).absoluteFilePath(fileName());
            if (QFileInfo(candidate).isFile()) {
                file = candidate;
                break;
            }
        }
        // Qt would try other names for a file that is not there and report the last one tried;
        // name the file the user can look for instead.
        if (!QFileInfo(file).isFile())
            return {false,
                    {},
                    QStringLiteral("Cannot load library %1: (%2)")
                        .arg(QDir::toNativeSeparators(file), qt_error_string(ENOENT))};
        // Loading an interrupted copy would end the program with SIGBUS.
        if (const QString broken = incompleteSharedObject(file); !broken.isEmpty())
            return {false,
                    {},
                    QStringLiteral("Cannot load library %1: (%2)")
                        .arg(QDir::toNativeSeparators(file), broken)};
        m_library = std::make_unique<QLibrary>(file);
    }
    using UrlFunction = const char *(*)();
    // resolve() loads the library when it is not loaded yet.
    auto function = reinterpret_cast<UrlFunction>(m_library->resolve("RakutoHpURL"));
    if (!function && !m_library->isLoaded())
        return {false, {}, m_library->errorString()};
    // Qt has no description of its own for a function the library lacks.
    if (!function)
        return {false,
                {},
                QStringLiteral("Cannot resolve symbol \"RakutoHpURL\" in %1")
                    .arg(QDir::toNativeSeparators(m_library->fileName()))};
    const char *address = function();
    if (!address)
        return {false, {}, QStringLiteral("RakutoHpURL returned no address")};
    QString text = QString::fromLocal8Bit(address);
    // A local document comes as its path. Its address is built from the path, so that a folder
    // name with '#', '?' or '%' still names that folder.
    if (QDir::isAbsolutePath(text))
        text = QUrl::fromLocalFile(text).toString(QUrl::FullyEncoded);
    return {true, text, {}};
}

} // namespace platform
