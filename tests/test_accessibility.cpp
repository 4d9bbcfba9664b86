// Every control a user can reach must tell a screen reader what it is: the toggles show only
// pictures and the keypad's display is a bare label.
#include "about/frm_show_version.h"
#include "app/form1.h"
#include "app/module2.h"
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

// Walks a window's accessible tree and lists the visible, focusable controls without a name.
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
private Q_SLOTS:
    void init()
    {
        Module2::reset();
        m_fakes = std::make_unique<FakeServices>(m_folder.filePath(QStringLiteral("rorumo")));
        m_form = std::make_unique<Form1>(m_fakes->services);
    }
    void cleanup()
    {
        m_form.reset();
        m_fakes.reset();
    }

    void panelNames_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::newRow("front toggle") << "Check1"
                                      << "前扉";
        QTest::newRow("middle toggle") << "Check2"
                                       << "中扉";
        QTest::newRow("front speed") << "HScroll1"
                                     << "前扉の速度";
        QTest::newRow("middle speed") << "HScroll2"
                                      << "中扉の速度";
        QTest::newRow("code display") << "Label1"
                                      << "方向幕コード";
        QTest::newRow("clear key") << "Command2(10)"
                                   << "クリア";
        QTest::newRow("show key") << "Command2(11)"
                                  << "設定";
        QTest::newRow("digit key") << "Command2(7)"
                                   << "7";
        QTest::newRow("folder button") << "Command1"
                                       << "方向幕フォルダー";
        QTest::newRow("version button") << "Command3"
                                        << "バージョン情報";
    }
    void panelNames()
    {
        QFETCH(QString, control);
        QFETCH(QString, name);
        frmSet &panel = m_form->panel();
        const QHash<QString, QWidget *> controls = {
            {QStringLiteral("Check1"), panel.Check1},
            {QStringLiteral("Check2"), panel.Check2},
            {QStringLiteral("HScroll1"), panel.HScroll1},
            {QStringLiteral("HScroll2"), panel.HScroll2},
            {QStringLiteral("Label1"), panel.Label1},
            {QStringLiteral("Command2(10)"), panel.Command2[10]},
            {QStringLiteral("Command2(11)"), panel.Command2[11]},
            {QStringLiteral("Command2(7)"), panel.Command2[7]},
            {QStringLiteral("Command1"), panel.Command1},
            {QStringLiteral("Command3"), panel.Command3},
        };
        QWidget *widget = controls.value(control);
        QVERIFY(widget);
        QCOMPARE(accessibleText(widget, QAccessible::Name), name);
    }

    void speedsAndTogglesAreDescribed()
    {
        frmSet &panel = m_form->panel();
        for (QWidget *widget :
             {static_cast<QWidget *>(panel.Check1), static_cast<QWidget *>(panel.Check2),
              static_cast<QWidget *>(panel.HScroll1), static_cast<QWidget *>(panel.HScroll2)})
            QVERIFY(!accessibleText(widget, QAccessible::Description).isEmpty());
        // The toggles are buttons a screen reader can press.
        QAccessibleInterface *toggle = QAccessible::queryAccessibleInterface(panel.Check1);
        QVERIFY(toggle->actionInterface());
        QVERIFY(toggle->state().checkable);
    }

    void everyReachableControlHasAName()
    {
        QCOMPARE(unnamedControls(&m_form->panel()), QStringList());
        QCOMPARE(unnamedControls(&m_form->browseDir()), QStringList());
        QCOMPARE(unnamedControls(&m_form->showVersion()), QStringList());
    }

    void chooserAndAboutNames()
    {
        frmBrowseDir &chooser = m_form->browseDir();
        QCOMPARE(accessibleText(chooser.Text1, QAccessible::Name),
                 QStringLiteral("方向幕フォルダーの位置"));
        QCOMPARE(accessibleText(chooser.Command1, QAccessible::Name), QStringLiteral("参照"));
        frmShowVersion &about = m_form->showVersion();
        QCOMPARE(accessibleText(about.Label5, QAccessible::Name),
                 QStringLiteral("ここをクリックするとラクトHPが開きます。"));
        QVERIFY(!accessibleText(about.Label5, QAccessible::Description).isEmpty());
        QCOMPARE(accessibleText(about.Image1, QAccessible::Name),
                 QStringLiteral("ロルモのアイコン"));
    }

private:
    QTemporaryDir m_folder;
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
