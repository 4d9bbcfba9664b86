#include "platform/file_names.h"
#include "platform/install_layout.h"
#include "platform/maker_library.h"
#include "platform/services.h"
#include "platform/sound.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

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
        // A folder named in bytes that are not UTF-8 is one Qt's dialog cannot enter: it opens
        // at the nearest folder above it that it can name.
        const QString start = !startFolder.isEmpty() && isFolder(startFolder)
                                  ? QFile::decodeName(encodeFileName(startFolder))
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

// Keeps the program's modal windows in sight: each one the user must answer is shown transient for
// the topmost window (window managers keep a transient above its parent, in the parent's layer),
// unless it already stands over another modal window; and one minimised all the same (some window
// managers offer the button whatever the window asks for) comes straight back, since the program
// waits for its answer with nothing else to click.
class ModalWindowKeeper final : public QObject
{
public:
    explicit ModalWindowKeeper(QWidget &topmost) : QObject(&topmost), m_topmost(&topmost)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Show && event->type() != QEvent::WindowStateChange)
            return false;
        auto *window = qobject_cast<QWidget *>(watched);
        if (!window || !window->isWindow() || !window->isModal() || window == m_topmost)
            return false;
        if (event->type() == QEvent::Show)
            keepAbove(*window);
        else if (window->windowState() & Qt::WindowMinimized)
            QMetaObject::invokeMethod(
                window, [window] { restore(*window); }, Qt::QueuedConnection);
        return false;
    }

private:
    void keepAbove(QWidget &window) const
    {
        QWindow *handle = window.windowHandle();
        if (!handle || !m_topmost || !m_topmost->isVisible() || !m_topmost->windowHandle())
            return;
        const QWindow *owner = handle->transientParent();
        if (!owner || owner->modality() == Qt::NonModal)
            handle->setTransientParent(m_topmost->windowHandle());
    }

    static void restore(QWidget &window)
    {
        if (!window.isVisible() || !(window.windowState() & Qt::WindowMinimized))
            return;
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    }

    QPointer<QWidget> m_topmost;
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
        if (!m_keeper)
            m_keeper = new ModalWindowKeeper(*window); // owned by the window
    }

private:
    QPointer<ModalWindowKeeper> m_keeper;
};

// The picture worker executable where there is one, then the program itself: the worker comes
// first because it is the smaller process (no widgets, no sound), the quicker to start and to
// hold, with less code where the bytes of a hostile picture are read.
std::shared_ptr<HelperStarter> pictureWorkerStarter(const QString &executablePath)
{
    QList<HelperCommand> commands;
    std::shared_ptr<QFile> held;
    const QString worker = findPictureWorker(QFileInfo(executablePath).absolutePath());
    if (!worker.isEmpty())
        commands.append({worker, {}});
#if defined(Q_OS_LINUX)
    // Qt hands a program's path to the system in UTF-8; the system runs the open file as well.
    if (!worker.isEmpty() && QFile::encodeName(worker) != encodeFileName(worker)) {
        auto file = std::make_shared<QFile>();
        if (openRegularFile(*file, worker)) {
            commands.front().program = QStringLiteral("/proc/self/fd/%1").arg(file->handle());
            held = std::move(file);
        } else {
            commands.clear();
        }
    }
    // The running program's own file, whatever its folder is named and even once it is gone.
    commands.append(
        {QStringLiteral("/proc/self/exe"), {QString::fromLatin1(kPictureWorkerArgument)}});
#else
    commands.append(
        {QCoreApplication::applicationFilePath(), {QString::fromLatin1(kPictureWorkerArgument)}});
#endif
    return std::make_shared<HelperStarter>(std::move(commands), std::move(held));
}

} // namespace

Services Services::real(const QString &executablePath)
{
    Services services;
    services.sound = makeSystemSound();
    services.dialogs = std::make_unique<QtDialogs>();
    services.shell = std::make_unique<DesktopShell>();
    services.maker = std::make_unique<VLM3ResLibrary>(QFileInfo(executablePath).absolutePath());
    services.windows = std::make_unique<QtWindowSystem>();
    services.executablePath = executablePath;
    services.pictureWorkers = pictureWorkerStarter(executablePath);
    return services;
}

} // namespace platform
