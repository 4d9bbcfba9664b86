#pragma once

#include "app/form1.h"
#include "doors/step_pacer.h"
#include "platform/services.h"

#include <QColor>
#include <QSize>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <array>
#include <functional>
#include <vector>

// Fakes for the outside world: they record what the program asked for and answer as told.

class FakeSound final : public platform::SoundOutput
{
public:
    void playWave(const QByteArray &riffImage) override
    {
        played.push_back(riffImage);
        if (onPlay)
            onPlay();
    }
    std::vector<QByteArray> played;
    std::function<void()> onPlay; // runs inside each play, e.g. to record ordering
};

class FakeDialogs final : public platform::Dialogs
{
public:
    struct Message
    {
        QString title;
        QString text;
        platform::MessageIcon icon;
    };
    void message(QWidget *, const QString &title, const QString &text,
                 platform::MessageIcon icon) override
    {
        messages.push_back({title, text, icon});
    }
    QString chooseFolder(QWidget *, const QString &, const QString &startFolder) override
    {
        folderStarts << startFolder;
        return folderAnswer;
    }
    QString chooseOpenFile(QWidget *, const QString &nameFilter, const QString &lastFile) override
    {
        lastFilterAsked = nameFilter;
        lastFileAsked = lastFile;
        return fileAnswer;
    }

    std::vector<Message> messages;
    QString folderAnswer;     // what the folder browser returns ("" = cancelled)
    QString fileAnswer;       // what the open-file dialog returns ("" = cancelled)
    QStringList folderStarts; // where the browser was asked to open
    QString lastFileAsked;
    QString lastFilterAsked;
};

class FakeShell final : public platform::Shell
{
public:
    void openUrl(const QString &address) override { opened << address; }
    QStringList opened;
};

class FakeMaker final : public platform::MakerLibrary
{
public:
    Answer homepageAddress() override
    {
        ++calls;
        return answer;
    }
    Answer answer;
    int calls = 0;
};

class FakeWindowSystem final : public platform::WindowSystem
{
public:
    void makeTopmost(QWidget *window) override
    {
        window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
};

// Records every door step instead of waiting.
class RecordingPacer final : public StepPacer
{
public:
    void begin() override { ++movements; }
    bool wait(int units) override
    {
        waits.push_back(units);
        if (onWait)
            onWait();
        return true;
    }
    void end() override {}
    std::vector<int> waits;
    int movements = 0;
    std::function<void()> onWait; // runs after each wait is recorded
};

struct FakeServices
{
    platform::Services services; // first: the pointers below are made into it
    FakeSound *sound;
    FakeDialogs *dialogs;
    FakeShell *shell;
    FakeMaker *maker;
    FakeWindowSystem *windows;

    explicit FakeServices(const QString &executablePath);
};

// A bus window on the fakes, made after the program's globals are cleared; its program lies in a
// temporary folder unless `executable` names another.
struct FakeBus
{
    explicit FakeBus(const QString &executable = {});
    QTemporaryDir dir;
    FakeServices fakes;
    Form1 form;

    QString path(const QString &name) const { return dir.filePath(name); }
    // The three frame pieces around the signboard, where they are and where a re-fit puts them.
    std::array<TwipRect, 3> frame() const;
    std::array<TwipRect, 3> fittedFrame() const;
    int framePiecesShown() const;
};

// Files for the tests, their folders made as needed; false when they cannot be written.
bool putFile(const QString &path, const QByteArray &bytes);
QByteArray fileBytes(const QString &path); // empty when it cannot be read
bool putPicture(const QString &path, QSize size, QColor colour = Qt::darkCyan);
