#pragma once

#include <QWidget>
#include <array>

class BusRoutines;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QScrollBar;

// The control panel "設定パネル": door toggles and speeds on the left, the roll-sign keypad on the
// right. It has no logic of its own: every event goes on to a routine of the bus window.
class frmSet : public QWidget
{
    Q_OBJECT
public:
    explicit frmSet(BusRoutines &form);

    QFrame *FrameA = nullptr;
    QFrame *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Check1 = nullptr;
    QPushButton *Check2 = nullptr;
    QScrollBar *HScroll1 = nullptr;
    QScrollBar *HScroll2 = nullptr;
    QLabel *lblMaeSpeed = nullptr;
    QLabel *lblNakaSpeed = nullptr;
    std::array<QRadioButton *, 3> Option1{};
    QLabel *Label1 = nullptr;
    std::array<QPushButton *, 12> Command2{};
    QPushButton *Command1 = nullptr;

    // The keypad's one handler.
    void Command2_Click(int index);

    // What the bus window asks of the panel.
    // Whether the front (middle) door's toggle is down.
    bool frontDoorOpen() const;
    bool middleDoorOpen() const;
    // The doors' speeds: the wait per step. Setting one outside the bars' range fails.
    int frontSpeed() const;
    int middleSpeed() const;
    bool setFrontSpeed(int value);
    bool setMiddleSpeed(int value);
    // The numbers under the speed bars.
    void showFrontSpeed();
    void showMiddleSpeed();
    // The selected element of the middle-door choice: 0, 1 or 2.
    int selectedOption() const;
    void selectOption(int index);

protected:
    void showEvent(QShowEvent *event) override;
    // The panel stays for the whole run: its frame offers no close, and a close that the window
    // manager offers anyway (a close button, Alt+F4) changes nothing.
    void closeEvent(QCloseEvent *event) override;

private:
    void buildDoorArea();
    void buildSignController();
    void setTabOrder();

    BusRoutines &m_form;
};
