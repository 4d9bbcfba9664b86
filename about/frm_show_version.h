#pragma once

#include "common/button_closed_dialog.h"

#include <array>

class BusRoutines;
class QLabel;
class QPushButton;

// The version window "ロルモのバージョン情報": icon, name, model line, version, credits and the
// link to the maker's homepage. Created afresh at each opening; only "OK" closes it.
class frmShowVersion : public ButtonClosedDialog
{
    Q_OBJECT
public:
    explicit frmShowVersion(BusRoutines &form);

    QLabel *Image1 = nullptr;
    std::array<QLabel *, 2> Label1{};
    QLabel *Label2 = nullptr;
    std::array<QLabel *, 2> Label3{};
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QPushButton *Command1 = nullptr;

    void Form_Load();
    void Label5_Click();
    void Command1_Click();

    static const QString kErrorTitle;
    static const QString kErrorReportLine;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    BusRoutines &m_form;
};
