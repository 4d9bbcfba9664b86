#include "platform/qt_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace platform {

bool installQtJapanese(QCoreApplication &application)
{
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    // Dates and file types in the file dialog follow the default locale.
    QLocale::setDefault(japanese);
    auto translator = std::make_unique<QTranslator>();
    for (const QString &folder :
         {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
          QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
        if (translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            // The application owns it from here on: it stays installed for the whole run.
            translator->setParent(&application);
            return QCoreApplication::installTranslator(translator.release());
        }
    }
    return false;
}

} // namespace platform
