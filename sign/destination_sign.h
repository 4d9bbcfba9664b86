#pragma once

#include "pictures/picture_requests.h"

#include <QString>

class FileList;
class ImageControl;
class QLabel;

// Chooses the picture of the destination sign: by the code typed on the panel's keypad, or by
// stepping through the sign list with the arrow keys. Nothing here ever reports a failure: a sign
// that cannot be shown leaves the sign as it was.
class DestinationSign
{
public:
    DestinationSign(FileList &list, ImageControl &sign,
                    std::shared_ptr<platform::HelperStarter> pictureWorkers);

    // The keypad: 0-9 append a digit (six at most), 10 "C" clears, 11 "設定" shows the sign at
    // the position the display holds.
    void keypadPress(int index, QLabel &display);

    // A key pressed on the sign box; only Up (38) and Down (40) choose a sign.
    void keyDown(int keyCode);

    // Makes sure the sign folder ends in the path separator, and keeps it so.
    static void applySeparator();

    // Asks for the file at a 16-bit list position; the sign shows it once it has loaded, and
    // stays as it was when it cannot be loaded. False when there is no file at the position.
    bool showFileAt(qint32 position);

    pictures::PictureRequests &pictures() { return m_pictures; }

    static constexpr int kMaxCodeDigits = 6;
    // The keypad's two keys after the digits 0-9.
    static constexpr int kKeypadClear = 10;
    static constexpr int kKeypadShow = 11;
    // The key codes of the sign box's arrow keys, as the design has them.
    static constexpr int kKeyLeft = 37;
    static constexpr int kKeyUp = 38;
    static constexpr int kKeyRight = 39;
    static constexpr int kKeyDown = 40;

private:
    FileList &m_list;
    ImageControl &m_sign;
    pictures::PictureRequests m_pictures;
};
