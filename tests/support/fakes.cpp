#include "support/fakes.h"

#include <QWidget>

void FakeSound::playWave(const QByteArray &riffImage)
{
    played.push_back(riffImage);
    if (onPlay)
        onPlay();
}

void FakeDialogs::message(QWidget *, const QString &title, const QString &text,
                          platform::MessageIcon icon)
{
    messages.push_back({title, text, icon});
    if (onMessage)
        onMessage();
}

QString FakeDialogs::chooseFolder(QWidget *, const QString &, const QString &startFolder)
{
    folderStarts << startFolder;
    return folderAnswer;
}

QString FakeDialogs::chooseOpenFile(QWidget *, const QString &nameFilter, const QString &lastFile)
{
    lastFilterAsked = nameFilter;
    lastFileAsked = lastFile;
    return fileAnswer;
}

void FakeWindowSystem::makeTopmost(QWidget *window)
{
    ++topmostCalls;
    window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

FakeServices::FakeServices(const QString &executablePath)
{
    auto soundFake = std::make_unique<FakeSound>();
    auto dialogsFake = std::make_unique<FakeDialogs>();
    auto shellFake = std::make_unique<FakeShell>();
    auto makerFake = std::make_unique<FakeMaker>();
    auto windowsFake = std::make_unique<FakeWindowSystem>();
    sound = soundFake.get();
    dialogs = dialogsFake.get();
    shell = shellFake.get();
    maker = makerFake.get();
    windows = windowsFake.get();
    services.sound = std::move(soundFake);
    services.dialogs = std::move(dialogsFake);
    services.shell = std::move(shellFake);
    services.maker = std::move(makerFake);
    services.windows = std::move(windowsFake);
    services.executablePath = executablePath;
}
