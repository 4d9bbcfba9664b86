#include "platform/file_names.h"
#include "platform/maker_library.h"
#include "platform/services.h"
#include "platform/sound.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>
#include <QWidget>

namespace platform {

namespace {

class QtDialogs final : public Dialogs
{
public:
    void message(QWidget *parent, const QString &title, const QString &text,
                 MessageIcon icon) override
    {
        QMessageBox box(icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                        title, text, QMessageBox::Ok, parent);
        box.exec();
    }

    QString chooseFolder(QWidget *owner, const QString &title, const QString &startFolder) override
    {
        const QString start = !startFolder.isEmpty() && QFileInfo(startFolder).isDir()
                                  ? startFolder
                                  : QDir::homePath();
        return fileSystemPath(
            QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly));
    }

    QString chooseOpenFile(QWidget *owner, const QString &nameFilter,
                           const QString &lastFile) override
    {
        return fileSystemPath(QFileDialog::getOpenFileName(owner, QString(), lastFile, nameFilter));
    }
};

class DesktopShell final : public Shell
{
public:
    void openUrl(const QString &address) override
    {
        QDesktopServices::openUrl(QUrl::fromUserInput(address));
    }
};

class QtWindowSystem final : public WindowSystem
{
public:
    void makeTopmost(QWidget *window) override
    {
        const bool wasVisible = window->isVisible();
        const QPoint place = window->pos();
        window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        // Changing a window's flags unmaps it; bring it back where it was.
        if (wasVisible) {
            window->move(place);
            window->show();
        }
    }
};

} // namespace

Services Services::real(const QString &executablePath)
{
    Services services;
    services.sound = std::make_unique<SystemSound>();
    services.dialogs = std::make_unique<QtDialogs>();
    services.shell = std::make_unique<DesktopShell>();
    services.maker = std::make_unique<VLM3ResLibrary>(QFileInfo(executablePath).absolutePath());
    services.windows = std::make_unique<QtWindowSystem>();
    services.executablePath = executablePath;
    return services;
}

} // namespace platform
