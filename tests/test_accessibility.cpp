// Every control a user can reach must tell a screen reader what it is: the toggles show only
// pictures and the keypad's display is a bare label.
#include "about/frm_show_version.h"
#include "app/form1.h"
#include "panel/frm_set.h"
#include "sign/frm_browse_dir.h"
#include "support/fakes.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString accessibleText(QWidget *widget, QAccessible::Text kind)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(kind) : QString();
}

// The visible, focusable controls of a window that have no accessible name.
QStringList unnamedControls(QWidget *window)
{
    QStringList unnamed;
    const auto widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (!widget->isVisibleTo(window) || widget->focusPolicy() == Qt::NoFocus)
            continue;
        if (accessibleText(widget, QAccessible::Name).trimmed().isEmpty())
            unnamed << QString::fromLatin1(widget->metaObject()->className());
    }
    return unnamed;
}

} // namespace

class AccessibilityTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    FakeServices m_fakes{m_folder.filePath(QStringLiteral("rorumo"))};
    Form1 m_form{m_fakes.services};

private Q_SLOTS:
    void names()
    {
        frmSet &panel = m_form.panel();
        frmBrowseDir &chooser = m_form.browseDir();
        frmShowVersion &about = m_form.showVersion();
        const std::pair<QWidget *, const char *> expected[] = {
            {panel.Check1, "前扉"},
            {panel.Check2, "中扉"},
            {panel.HScroll1, "前扉の速度"},
            {panel.HScroll2, "中扉の速度"},
            {panel.Label1, "方向幕コード"},
            {panel.Command2[10], "クリア"},
            {panel.Command2[11], "設定"},
            {panel.Command2[7], "7"},
            {panel.Command1, "方向幕フォルダー"},
            {panel.Command3, "バージョン情報"},
            {chooser.Text1, "方向幕フォルダーの位置"},
            {chooser.Command1, "参照"},
            {about.Label5, "ここをクリックするとラクトHPが開きます。"},
            {about.Image1, "ロルモのアイコン"},
        };
        for (const auto &[widget, name] : expected)
            QCOMPARE(accessibleText(widget, QAccessible::Name), QString::fromUtf8(name));
    }

    void descriptionsAndToggles()
    {
        frmSet &panel = m_form.panel();
        for (QWidget *widget :
             std::initializer_list<QWidget *>{panel.Check1, panel.Check2, panel.HScroll1,
                                              panel.HScroll2, m_form.showVersion().Label5})
            QVERIFY(!accessibleText(widget, QAccessible::Description).isEmpty());
        // The toggles are buttons a screen reader can press.
        QAccessibleInterface *toggle = QAccessible::queryAccessibleInterface(panel.Check1);
        QVERIFY(toggle->actionInterface());
        QVERIFY(toggle->state().checkable);
    }

    void everyReachableControlHasAName()
    {
        QCOMPARE(unnamedControls(&m_form.panel()), QStringList());
        QCOMPARE(unnamedControls(&m_form.browseDir()), QStringList());
        QCOMPARE(unnamedControls(&m_form.showVersion()), QStringList());
    }
};

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
