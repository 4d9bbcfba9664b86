#pragma once

#include "platform/services.h"

#include <QLibrary>
#include <memory>

namespace platform {

// The maker's library VLM3Res, loaded on first use by absolute path: from the executable's own
// folder, or else from the program's private library folder (see install_layout.h), so that a
// library of the same name in the working folder is never picked up.
class VLM3ResLibrary final : public MakerLibrary
{
public:
    // executableFolder: the folder that holds the running executable.
    explicit VLM3ResLibrary(QString executableFolder);
    Answer homepageAddress() override;

    // The library's file name on this platform.
    static QString fileName();

    // The file loaded (or tried) by the last homepageAddress(); empty before the first.
    QString loadedFile() const;

private:
    QString m_folder;
    std::unique_ptr<QLibrary> m_library;
};

} // namespace platform
