#include "sign/frm_browse_dir.h"

#include "common/bus_routines.h"
#include "common/module2.h"
#include "common/window_util.h"
#include "platform/services.h"

#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

const QString frmBrowseDir::kNotFoundMessage =
    QStringLiteral("指定したパスが見つかりません。再度指定しなおしてください。");

frmBrowseDir::frmBrowseDir(BusRoutines &form)
    : ButtonClosedDialog(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::MSWindowsFixedSizeDialogHint,
                         {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}),
      m_form(form)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("画像の位置"));
    setFixedSize(twipsToPixelSize(6900, 1215));

    Label2 = new QLabel(QStringLiteral("方向幕のあるフォルダを指定してください"), this);
    placeTwips(Label2, {135, 60, 3945, 225});
    Label1 = new QLabel(QStringLiteral("位置："), this);
    placeTwips(Label1, {75, 465, 885, 210});
    Text1 = new QLineEdit(this);
    placeTwips(Text1, {555, 405, 5070, 300});
    Command1 = new QPushButton(QStringLiteral("参照(&B)..."), this);
    placeTwips(Command1, {5655, 405, 1020, 345});
    Command2[0] = new QPushButton(QStringLiteral("OK"), this);
    placeTwips(Command2[0], {4200, 825, 1230, 345});
    Command2[1] = new QPushButton(QStringLiteral("キャンセル"), this);
    placeTwips(Command2[1], {5520, 825, 1230, 345});
    Label1->setBuddy(Text1);
    Text1->setAccessibleName(QStringLiteral("方向幕フォルダーの位置"));
    Text1->setAccessibleDescription(QStringLiteral("方向幕の画像があるフォルダーのパス"));
    Command1->setAccessibleName(QStringLiteral("参照"));
    Command1->setAccessibleDescription(QStringLiteral("フォルダーを選ぶ画面を開きます。"));
    Command2[0]->setAccessibleDescription(QStringLiteral("このフォルダーを方向幕に使います。"));
    Command2[1]->setAccessibleDescription(QStringLiteral("何も変えずに閉じます。"));

    // Neither Enter nor Escape presses a button here.
    for (QPushButton *button : {Command1, Command2[0], Command2[1]}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2[0]);
    setTabOrder(Command2[0], Command2[1]);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2[0], &QPushButton::clicked, this, [this] { Command2_Click(0); });
    connect(Command2[1], &QPushButton::clicked, this, [this] { Command2_Click(1); });
}

void frmBrowseDir::Command1_Click()
{
    QString folder = m_form.services().dialogs->chooseFolder(
        m_form.busWindow(), QStringLiteral("方向幕のあるフォルダを選択してください"),
        Text1->text());
    if (folder.isEmpty())
        return;
#ifdef Q_OS_WIN
    // Folder names do not differ by case there.
    folder = folder.toLower();
#endif
    Text1->setText(QDir::toNativeSeparators(folder));
}

void frmBrowseDir::Command2_Click(int index)
{
    if (index == 0) {
        const QString folderInUse = Module2::HkPicDir;
        Module2::setHkPicDir(Text1->text());
        const FileList::Result result = m_form.picDir();
        if (result.failure == FileList::Failure::PathNotFound) {
            // The list stays on its folder, and so does the sign folder: the keys and 設定 go on
            // working, and キャンセル (or the session ending meanwhile) keeps the folder in use.
            // The typed text waits in the field for a correction.
            Module2::setHkPicDir(folderInUse);
            m_form.services().dialogs->message(this, kAppTitle, kNotFoundMessage,
                                               platform::MessageIcon::None);
            return; // stays open with the text kept, for another try
        }
        if (result.failure == FileList::Failure::Other) {
            m_form.services().dialogs->message(this, kAppTitle, result.description,
                                               platform::MessageIcon::None);
        }
    }
    closeByButton();
}
