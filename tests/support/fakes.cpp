#include "support/fakes.h"

#include "common/module2.h"
#include "controls/picture_box.h"
#include "platform/file_names.h"
#include "platform/file_save.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <algorithm>

// Puts a new fake of type T into the service slot and returns it.
template<typename T, typename Slot> static T *install(std::unique_ptr<Slot> &slot)
{
    auto fake = std::make_unique<T>();
    T *raw = fake.get();
    slot = std::move(fake);
    return raw;
}

FakeServices::FakeServices(const QString &executablePath)
    : sound(install<FakeSound>(services.sound)), dialogs(install<FakeDialogs>(services.dialogs)),
      shell(install<FakeShell>(services.shell)), maker(install<FakeMaker>(services.maker)),
      windows(install<FakeWindowSystem>(services.windows))
{
    services.executablePath = executablePath;
    services.pictureWorkers = std::make_shared<platform::HelperStarter>(
        QList<platform::HelperCommand>{{QStringLiteral(RORUMO_TEST_PICTURE_WORKER), {}}});
}

static QString clearedGlobals(const QString &executable)
{
    Module2::reset();
    return executable;
}

FakeBus::FakeBus(const QString &executable)
    : fakes(clearedGlobals(executable.isEmpty() ? dir.filePath(QStringLiteral("rorumo"))
                                                : executable)),
      form(fakes.services)
{}

std::array<TwipRect, 3> FakeBus::frame() const
{
    return {form.shpK_Waku[0].twips(), form.shpK_Waku[1].twips(), form.shpK_Waku[2].twips()};
}

std::array<TwipRect, 3> FakeBus::fittedFrame() const
{
    const TwipRect b = form.PicKanban->twips();
    return {TwipRect{b.left - 75, b.top, 75, b.height + 15},
            TwipRect{b.left + b.width, b.top, 75, b.height + 15},
            TwipRect{b.left - 75, b.top + b.height, b.width + 150, 60}};
}

int FakeBus::framePiecesShown() const
{
    return int(std::count_if(form.shpK_Waku.begin(), form.shpK_Waku.end(),
                             [](const ShapeRect &piece) { return piece.isVisible(); }));
}

bool putFile(const QString &path, const QByteArray &bytes)
{
    const QString folder = QFileInfo(path).absolutePath();
    return (platform::isFolder(folder) || QDir().mkpath(folder)) &&
           platform::saveFileWhole(path, bytes).isEmpty();
}

QByteArray fileBytes(const QString &path)
{
    QFile file;
    return platform::openRegularFile(file, path) ? file.readAll() : QByteArray();
}

bool putPicture(const QString &path, QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && image.save(path, "BMP");
}
