// Every control a user can reach must tell a screen reader what it is: the toggles show only
// pictures and the keypad's display is a bare label.
#include "about/frm_show_version.h"
#include "app/form1.h"
#include "panel/frm_set.h"
#include "sign/frm_browse_dir.h"
#include "support/fakes.h"

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
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
    // The toggles are buttons a screen reader can press; the labels that act or inform have names.
    void togglesAndLabels()
    {
        QAccessibleInterface *toggle = QAccessible::queryAccessibleInterface(m_form.panel().Check1);
        QVERIFY(toggle->actionInterface());
        QVERIFY(toggle->state().checkable);
        for (QWidget *label : std::initializer_list<QWidget *>{
                 m_form.panel().Label1, m_form.showVersion().Label5, m_form.showVersion().Image1})
            QVERIFY(!accessibleText(label, QAccessible::Name).isEmpty());
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
