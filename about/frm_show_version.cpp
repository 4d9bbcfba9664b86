#include "about/frm_show_version.h"

#include "common/bus_routines.h"
#include "common/window_util.h"
#include "platform/services.h"
#include "resources/own_pictures.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>

const QString frmShowVersion::kErrorTitle = QStringLiteral("Rakhpurl.dllのエラー");
const QString frmShowVersion::kErrorReportLine =
    QStringLiteral(" 上記内容をラクトHP関係者まで報告してください。");

namespace {

const QColor kBand(78, 78, 78);

QLabel *bandLabel(QWidget *parent, const QString &text, const TwipRect &rect, const QColor &ink)
{
    auto *label = new QLabel(text, parent);
    placeTwips(label, rect);
    fillColours(label, kBand, ink);
    return label;
}

QFont boldFont(qreal pointSize)
{
    QFont font = japaneseFont(true, pointSize);
    font.setBold(true);
    return font;
}

} // namespace

frmShowVersion::frmShowVersion(BusRoutines &form)
    : ButtonClosedDialog(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::MSWindowsFixedSizeDialogHint,
                         {Qt::Key_Escape}),
      m_form(form)
{
    setWindowTitle(QStringLiteral("ロルモのバージョン情報"));
    setFixedSize(twipsToPixelSize(4995, 3345));
    // The proportional Japanese face, as on the panel: the credit lines are narrow bands.
    setFont(japaneseFont(true, font().pointSizeF()));
    fillColours(this, Qt::white);

    Image1 = new QLabel(this);
    placeTwips(Image1, {285, 165, 480, 480});
    Image1->setPixmap(QPixmap::fromImage(ownPicture(QStringLiteral("icon")).image));

    const QColor yellow(255, 255, 0);
    Label1[0] = bandLabel(this, QStringLiteral("ロルモ"), {900, 240, 3840, 330}, yellow);
    Label1[0]->setFont(boldFont(14.25));
    Label1[1] = bandLabel(this, QStringLiteral("型番・製造番号："), {165, 720, 4605, 270}, yellow);
    Label1[1]->setFont(boldFont(9.75));
    Label2 = bandLabel(this, QStringLiteral("Varsion　1.0.0"), {165, 1035, 3225, 225}, yellow);
    Label3[0] = bandLabel(this, QStringLiteral("Drawn and built by the ロルモ team"),
                          {165, 1290, 3225, 240}, Qt::white);
    Label3[1] = bandLabel(this, QStringLiteral("Free software for every bus lover"),
                          {165, 1545, 3225, 240}, Qt::white);

    Label4 = new QLabel(this);
    placeTwips(Label4, {15, 2835, 4965, 60});
    Label4->setFrameShape(QFrame::HLine);
    Label4->setFrameShadow(QFrame::Sunken);

    Label5 = new QLabel(QStringLiteral("ここをクリックするとラクトHPが開きます。"), this);
    placeTwips(Label5, {240, 2985, 3315, 225});
    QFont linkFont = japaneseFont(true, 9);
    linkFont.setUnderline(true);
    Label5->setFont(linkFont);
    QPalette linkPalette = Label5->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label5->setPalette(linkPalette);
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->installEventFilter(this);
    Image1->setAccessibleName(QStringLiteral("ロルモのアイコン"));
    Label5->setAccessibleName(Label5->text());
    Label5->setAccessibleDescription(QStringLiteral("ラクトHPをブラウザーで開きます。"));
    Label4->setAccessibleName(QStringLiteral("区切り線"));

    Command1 = new QPushButton(QStringLiteral("OK"), this);
    placeTwips(Command1, {3570, 2940, 1230, 345});
    // As a focused push button does on Windows, OK answers Enter as well as Space.
    Command1->setAutoDefault(true);
    Command1->setAccessibleDescription(QStringLiteral("バージョン情報を閉じます。"));
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    Form_Load();
}

void frmShowVersion::Form_Load()
{
    Label1[1]->setText(QStringLiteral("型番・製造番号：") + m_form.executableName());
}

void frmShowVersion::Label5_Click()
{
    const platform::MakerLibrary::Answer answer = m_form.services().maker->homepageAddress();
    if (answer.ok) {
        m_form.services().shell->openUrl(answer.address);
        return;
    }
    m_form.services().dialogs->message(this, kErrorTitle,
                                       answer.error + QStringLiteral("\r\n\r\n") + kErrorReportLine,
                                       platform::MessageIcon::Critical);
}

void frmShowVersion::Command1_Click()
{
    closeByButton();
}

bool frmShowVersion::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label5 && event->type() == QEvent::MouseButtonRelease) {
        const auto *release = static_cast<QMouseEvent *>(event);
        if (release->button() == Qt::LeftButton &&
            Label5->rect().contains(release->position().toPoint())) {
            Label5_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
