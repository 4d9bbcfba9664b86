#pragma once

#include "controls/file_list.h"
#include "platform/services.h"

#include <QString>

class DestinationSign;
class QWidget;

// What the other windows (the panel, the sign-folder chooser, the version window) may ask of the
// bus window. They know it only through this interface, so none of them depends on the bus window.
class BusRoutines
{
public:
    virtual ~BusRoutines() = default;

    virtual void Check1_Click() = 0;
    virtual void Check2_Click() = 0;
    virtual void HScroll1_Change() = 0;
    virtual void HScroll2_Change() = 0;
    virtual void MnuEditHkPic_Click() = 0;
    virtual void MnuHelpVer_Click() = 0;
    virtual FileList::Result picDir() = 0;

    virtual platform::Services &services() = 0;
    virtual DestinationSign &sign() = 0;
    // The executable's name without folder and extension.
    virtual QString executableName() const = 0;
    // The bus window itself, as owner of the dialogs the routines open.
    virtual QWidget *busWindow() = 0;
};
