#pragma once

#include "common/button_closed_dialog.h"

#include <array>

class BusRoutines;
class QLabel;
class QLineEdit;
class QPushButton;

// The sign-folder chooser "画像の位置": a path field, a browse button, OK and cancel. It is
// created for each opening and destroyed when it closes.
class frmBrowseDir : public ButtonClosedDialog
{
    Q_OBJECT
public:
    explicit frmBrowseDir(BusRoutines &form);

    QLineEdit *Text1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *Command1 = nullptr;
    std::array<QPushButton *, 2> Command2{};

    // "参照(&B)...": the folder browser.
    void Command1_Click();
    // 0 "OK", 1 "キャンセル".
    void Command2_Click(int index);

    static const QString kNotFoundMessage;

private:
    BusRoutines &m_form;
};
