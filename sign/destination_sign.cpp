#include "sign/destination_sign.h"

#include "common/module2.h"
#include "controls/file_list.h"
#include "controls/image_control.h"

#include <QDir>
#include <QLabel>
#include <limits>

DestinationSign::DestinationSign(FileList &list, ImageControl &sign,
                                 std::shared_ptr<platform::HelperStarter> pictureWorkers)
    : m_list(list), m_sign(sign), m_pictures(std::move(pictureWorkers))
{}

void DestinationSign::applySeparator()
{
    const QChar separator = QDir::separator();
    if (!Module2::HkPicDir.endsWith(separator))
        Module2::setHkPicDir(Module2::HkPicDir + separator);
}

bool DestinationSign::showFileAt(qint32 position)
{
    // List positions are 16-bit.
    if (position < 0 || position > std::numeric_limits<qint16>::max())
        return false;
    const QString name = m_list.list(position);
    if (name.isEmpty())
        return false;
    // The sign box clips the sign at its right and bottom edges: only that much is loaded.
    const QWidget *box = m_sign.parentWidget();
    const QSize visible = box ? box->size() : QSize();
    m_pictures.request(
        Module2::HkPicDir + name, m_sign.devicePixelRatioF(),
        [this](std::optional<Picture> picture) {
            if (picture && !picture->isEmpty())
                m_sign.setPicture(std::move(*picture));
        },
        visible);
    return true;
}

void DestinationSign::keypadPress(int index, QLabel &display)
{
    if (index >= 0 && index <= 9) {
        const QString code = display.text();
        if (code.size() < kMaxCodeDigits)
            display.setText(code + QChar(u'0' + index));
    } else if (index == kKeypadClear) {
        display.clear();
    } else if (index == kKeypadShow) {
        applySeparator();
        const QString code = display.text();
        bool ok = true;
        // Six digits at most, so the number always fits; an empty display counts as 0.
        const qint64 position = code.isEmpty() ? 0 : code.toLongLong(&ok);
        if (!ok || position > std::numeric_limits<qint16>::max())
            return;
        showFileAt(qint32(position));
    }
}

void DestinationSign::keyDown(int keyCode)
{
    applySeparator();
    if (keyCode == kKeyUp) {
        if (Module2::HkPicIndex == 0)
            return;
        --Module2::HkPicIndex;
        showFileAt(Module2::HkPicIndex);
    } else if (keyCode == kKeyDown) {
        if (Module2::HkPicIndex == m_list.listCount() - 1)
            return;
        if (Module2::HkPicIndex == std::numeric_limits<qint32>::max())
            return;
        ++Module2::HkPicIndex;
        showFileAt(Module2::HkPicIndex);
    }
}
