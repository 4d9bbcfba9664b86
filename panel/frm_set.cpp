#include "panel/frm_set.h"

#include "common/bus_routines.h"
#include "common/window_util.h"
#include "resources/own_pictures.h"
#include "sign/destination_sign.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

namespace {

const QColor kPanelGrey(64, 64, 64);
const QColor kSpeedText(255, 192, 128);
const QColor kSignOrange(255, 128, 0);
const QColor kOptionGrey(224, 224, 224);

const QString kMiddleDoorChoice = QStringLiteral("中扉動作");
const QString kSpeedDescription =
    QStringLiteral("一歩ごとの待ち時間。大きいほど扉はゆっくり動きます（1 から 30000）。");

void describe(QWidget *widget, const QString &name, const QString &description)
{
    widget->setAccessibleName(name);
    if (!description.isEmpty())
        widget->setAccessibleDescription(description);
}

QLabel *speedLabel(QWidget *parent, const TwipRect &rect)
{
    auto *label = new QLabel(QStringLiteral("0"), parent);
    placeTwips(label, rect);
    fillColours(label, Qt::black, kSpeedText);
    return label;
}

QPushButton *doorToggle(QWidget *parent, const TwipRect &rect, const QString &picture,
                        const QString &name, const QString &description)
{
    auto *toggle = new QPushButton(parent);
    placeTwips(toggle, rect);
    toggle->setCheckable(true);
    toggle->setIcon(QIcon(QPixmap::fromImage(ownPicture(picture).image)));
    toggle->setIconSize({50, 20});
    // The toggle shows only a picture: a screen reader needs its words.
    toggle->setAccessibleName(name);
    toggle->setAccessibleDescription(description);
    return toggle;
}

QScrollBar *speedBar(QWidget *parent, const TwipRect &rect, int value)
{
    auto *bar = new QScrollBar(Qt::Horizontal, parent);
    placeTwips(bar, rect);
    bar->setRange(1, 30000);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setValue(value);
    // A drag of the thumb counts only when it is released.
    bar->setTracking(false);
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

} // namespace

frmSet::frmSet(BusRoutines &form)
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      m_form(form)
{
    setWindowTitle(QStringLiteral("設定パネル"));
    setFixedSize(twipsToPixelSize(3945, 2565));
    // The panel's own captions in the proportional Japanese face the keys use too: one font
    // file for everything drawn at start instead of a fallback face for the Japanese words.
    setFont(japaneseFont(true, font().pointSizeF()));
    fillColours(this, kPanelGrey);

    buildDoorArea();
    buildSignController();

    Command3 = new QPushButton(QStringLiteral("バージョン情報"), this);
    placeTwips(Command3, {720, 2145, 1515, 360});
    describe(Command3, Command3->text(), QStringLiteral("ロルモのバージョン情報を開きます。"));
    connect(Command3, &QPushButton::clicked, this, [this] { m_form.MnuHelpVer_Click(); });

    setTabOrder();
}

void frmSet::buildDoorArea()
{
    FrameA = new QFrame(this);
    placeTwips(FrameA, {30, 30, 2190, 1965});
    FrameA->setFrameShape(QFrame::Box);
    fillColours(FrameA, Qt::black);

    Check1 = doorToggle(FrameA, {75, 165, 735, 510}, QStringLiteral("toggle_front"),
                        QStringLiteral("前扉"),
                        QStringLiteral("前扉を開けます。もう一度押すと閉めます。"));
    HScroll1 = speedBar(FrameA, {855, 195, 1260, 240}, 6000);
    lblMaeSpeed = speedLabel(FrameA, {885, 450, 1215, 240});
    Check2 = doorToggle(FrameA, {60, 840, 735, 525}, QStringLiteral("toggle_middle"),
                        QStringLiteral("中扉"),
                        QStringLiteral("ドアの音のあと中扉を開けます。もう一度押すと閉めます。"));
    HScroll2 = speedBar(FrameA, {840, 840, 1230, 240}, 10000);
    lblNakaSpeed = speedLabel(FrameA, {870, 1110, 1200, 240});
    describe(FrameA, QStringLiteral("扉"), QString());
    describe(HScroll1, QStringLiteral("前扉の速度"), kSpeedDescription);
    describe(HScroll2, QStringLiteral("中扉の速度"), kSpeedDescription);
    describe(lblMaeSpeed, QStringLiteral("前扉の速度の値"), QString());
    describe(lblNakaSpeed, QStringLiteral("中扉の速度の値"), QString());

    // The middle-door choice is stored with the settings but never shown.
    // Its caption is set once the panel is on the screen: measuring it would load the fonts,
    // which can wait until the bus has been drawn.
    Frame2 = new QGroupBox(FrameA);
    placeTwips(Frame2, {60, 1410, 2085, 480});
    fillColours(Frame2, kOptionGrey);
    const std::array<QString, 3> captions = {QStringLiteral("両方"), QStringLiteral("左"),
                                             QStringLiteral("右")};
    const std::array<TwipRect, 3> places = {
        TwipRect{60, 180, 735, 270}, TwipRect{795, 180, 570, 270}, TwipRect{1470, 165, 555, 270}};
    for (std::size_t i = 0; i < Option1.size(); ++i) {
        Option1[i] = new QRadioButton(captions[i], Frame2);
        placeTwips(Option1[i], places[i]);
        fillColours(Option1[i], kOptionGrey);
    }
    Option1[0]->setChecked(true);
    describe(Frame2, kMiddleDoorChoice, QString());
    Frame2->hide();

    connect(Check1, &QPushButton::clicked, this, [this] { m_form.Check1_Click(); });
    connect(Check2, &QPushButton::clicked, this, [this] { m_form.Check2_Click(); });
    connect(HScroll1, &QScrollBar::valueChanged, this, [this] { m_form.HScroll1_Change(); });
    connect(HScroll2, &QScrollBar::valueChanged, this, [this] { m_form.HScroll2_Change(); });
}

void frmSet::buildSignController()
{
    Frame1 = new QFrame(this);
    placeTwips(Frame1, {2265, 0, 1620, 2505});
    fillColours(Frame1, kPanelGrey);

    Label1 = new QLabel(Frame1);
    placeTwips(Label1, {90, 240, 1455, 315});
    fillColours(Label1, Qt::black, kSignOrange);
    Label1->setFont(japaneseFont(false, 14.25));
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    describe(Frame1, QStringLiteral("方向幕"), QString());
    describe(Label1, QStringLiteral("方向幕コード"),
             QStringLiteral("表示する方向幕の番号。0 がフォルダーの最初の画像です。"));

    // A telephone-style block: 7 8 9 / 4 5 6 / 1 2 3 / 0 C 設定.
    const std::array<int, 3> columns = {75, 570, 1065};
    const std::array<int, 4> rows = {600, 990, 1380, 1770};
    const std::array<std::array<int, 3>, 4> layout = {
        {{7, 8, 9},
         {4, 5, 6},
         {1, 2, 3},
         {0, DestinationSign::kKeypadClear, DestinationSign::kKeypadShow}}};
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (std::size_t column = 0; column < columns.size(); ++column) {
            const int index = layout[row][column];
            QString caption = index <= 9                               ? QString::number(index)
                              : index == DestinationSign::kKeypadClear ? QStringLiteral("C")
                                                                       : QStringLiteral("設定");
            auto *button = new QPushButton(caption, Frame1);
            placeTwips(button, {columns[column], rows[row], 510, 390});
            if (index <= 9) {
                button->setFont(japaneseFont(true, 12));
            } else {
                // Orange keys; a palette keeps the platform's button drawing.
                QPalette orange = button->palette();
                orange.setColor(QPalette::Button, kSignOrange);
                orange.setColor(QPalette::ButtonText, Qt::black);
                button->setPalette(orange);
            }
            if (index == DestinationSign::kKeypadClear)
                describe(button, QStringLiteral("クリア"),
                         QStringLiteral("方向幕コードを消します。"));
            else if (index == DestinationSign::kKeypadShow)
                describe(button, QStringLiteral("設定"),
                         QStringLiteral("方向幕コードの番号の画像を方向幕に表示します。"));
            else
                describe(button, caption, QStringLiteral("方向幕コードに数字を加えます。"));
            connect(button, &QPushButton::clicked, this, [this, index] { Command2_Click(index); });
            Command2[std::size_t(index)] = button;
        }
    }

    Command1 = new QPushButton(QStringLiteral("方向幕フォルダー"), Frame1);
    placeTwips(Command1, {75, 2190, 1530, 270});
    describe(Command1, Command1->text(),
             QStringLiteral("方向幕の画像があるフォルダーを選びます。"));
    connect(Command1, &QPushButton::clicked, this, [this] { m_form.MnuEditHkPic_Click(); });
}

void frmSet::setTabOrder()
{
    QWidget *previous = Command2[0];
    const auto chain = [&previous](QWidget *next) {
        QWidget::setTabOrder(previous, next);
        previous = next;
    };
    for (std::size_t i = 1; i < Command2.size(); ++i)
        chain(Command2[i]);
    chain(Check1);
    chain(Check2);
    chain(HScroll2);
    chain(HScroll1);
    chain(Command3);
    chain(Command1);
}

void frmSet::showEvent(QShowEvent *event)
{
    if (Frame2->title().isEmpty())
        Frame2->setTitle(kMiddleDoorChoice);
    QWidget::showEvent(event);
}

void frmSet::closeEvent(QCloseEvent *event)
{
    event->ignore(); // the panel stays
}

void frmSet::Command2_Click(int index)
{
    m_form.sign().keypadPress(index, *Label1);
}

bool frmSet::frontDoorOpen() const
{
    return Check1->isChecked();
}

bool frmSet::middleDoorOpen() const
{
    return Check2->isChecked();
}

int frmSet::frontSpeed() const
{
    return HScroll1->value();
}

int frmSet::middleSpeed() const
{
    return HScroll2->value();
}

namespace {
bool setSpeed(QScrollBar &bar, int value)
{
    if (value < bar.minimum() || value > bar.maximum())
        return false;
    bar.setValue(value);
    return true;
}
} // namespace

bool frmSet::setFrontSpeed(int value)
{
    return setSpeed(*HScroll1, value);
}

bool frmSet::setMiddleSpeed(int value)
{
    return setSpeed(*HScroll2, value);
}

void frmSet::showFrontSpeed()
{
    lblMaeSpeed->setText(QString::number(frontSpeed()));
}

void frmSet::showMiddleSpeed()
{
    lblNakaSpeed->setText(QString::number(middleSpeed()));
}

void frmSet::selectOption(int index)
{
    Option1.at(std::size_t(index))->setChecked(true);
}

int frmSet::selectedOption() const
{
    if (Option1[0]->isChecked())
        return 0;
    return Option1[1]->isChecked() ? 1 : 2;
}
