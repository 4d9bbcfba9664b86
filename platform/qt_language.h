#pragma once

class QCoreApplication;

namespace platform {

// The program speaks Japanese whatever the user's locale, and so do the parts Qt draws for it: the
// file and folder dialogs, the standard buttons and the text fields' context menus. Installs
// Qt's own Japanese translation, from Qt's translations folder or a "translations" folder beside
// the executable; without one Qt keeps its English. Dates and file types follow the Japanese
// locale either way. Returns whether the translation was found.
bool installQtJapanese(QCoreApplication &application);

} // namespace platform
