#pragma once

#include "platform/helper_process.h"

#include <QByteArray>
#include <QString>
#include <memory>

class QWidget;

// Everything the program asks of the operating system goes through these small interfaces, so
// that tests can stand in fakes for sound, dialogs, message boxes and the shell.
namespace platform {

class SoundOutput
{
public:
    virtual ~SoundOutput() = default;
    // Plays a complete RIFF WAVE image and returns when it has been heard. Failures are silent.
    virtual void playWave(const QByteArray &riffImage) = 0;
};

enum class MessageIcon
{
    None,
    Critical
};

class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // An OK-only message box; returns when it has been closed.
    virtual void message(QWidget *parent, const QString &title, const QString &text,
                         MessageIcon icon) = 0;
    // The folder browser. Returns the chosen folder, or an empty string when cancelled.
    virtual QString chooseFolder(QWidget *owner, const QString &title,
                                 const QString &startFolder) = 0;
    // The open-file dialog. Returns the chosen file, or an empty string when cancelled.
    virtual QString chooseOpenFile(QWidget *owner, const QString &nameFilter,
                                   const QString &lastFile) = 0;
};

class Shell
{
public:
    virtual ~Shell() = default;
    // Opens an address in the user's web browser; the result is not looked at.
    virtual void openUrl(const QString &address) = 0;
};

class MakerLibrary
{
public:
    virtual ~MakerLibrary() = default;
    struct Answer
    {
        bool ok = false;
        QString address; // the homepage address when ok
        QString error;   // the platform's description of the failure otherwise
    };
    // Asks the maker's library for its homepage address, loading the library on first use.
    virtual Answer homepageAddress() = 0;
};

class WindowSystem
{
public:
    virtual ~WindowSystem() = default;
    // Keeps a top-level window above all ordinary windows without moving or resizing it. The
    // program's modal windows stay above it, and come back at once when minimised.
    virtual void makeTopmost(QWidget *window) = 0;
};

// The set of services one run of the program uses.
struct Services
{
    std::unique_ptr<SoundOutput> sound;
    std::unique_ptr<Dialogs> dialogs;
    std::unique_ptr<Shell> shell;
    std::unique_ptr<MakerLibrary> maker;
    std::unique_ptr<WindowSystem> windows;
    // The running executable; its folder and name decide the caption and the settings file.
    QString executablePath;
    // Starts the picture workers the windows load their pictures with: the picture worker
    // executable where it is installed or beside the program, else the program itself.
    std::shared_ptr<HelperStarter> pictureWorkers;

    // The real implementations for this platform.
    static Services real(const QString &executablePath);
};

} // namespace platform
