#pragma once

#include "platform/services.h"

#include <QLibrary>
#include <memory>

namespace platform {

// The maker's library VLM3Res, loaded on first use from the executable's own folder only, so
// that a library of the same name in the working folder is never picked up.
class VLM3ResLibrary final : public MakerLibrary
{
public:
    explicit VLM3ResLibrary(QString folder);
    Answer homepageAddress() override;

    // The library's file name on this platform.
    static QString fileName();

private:
    QString m_folder;
    std::unique_ptr<QLibrary> m_library;
};

} // namespace platform
