// The small windows as a user meets them: the version window, captions that fit, and a name for
// every control a screen reader reaches.

#include "about/frm_show_version.h"
#include "app/form1.h"
#include "common/module2.h"
#include "panel/frm_set.h"
#include "sign/frm_browse_dir.h"
#include "support/fakes.h"

#include <QAccessible>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

QString accessibleName(QWidget *widget)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name).trimmed() : QString();
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { Module2::reset(); }
    void versionWindow()
    {
        const QString model = QStringLiteral("型番・製造番号：");
        FakeServices fakes(QStringLiteral("/opt/rorumo/ロルモ.v2.exe"));
        Form1 form(fakes.services);
        QCOMPARE(form.showVersion().Label1[1]->text(),
                 model + "ロルモ.v2"); // only the last extension
        // The version line as the maker spells it.
        QCOMPARE(form.showVersion().Label2->text(), "Varsion　1.0.0");

        // Through the panel's routine, modal: Escape leaves it open, Enter on OK closes it.
        QPointer<frmShowVersion> first;
        bool stayedOpen = false;
        QTimer::singleShot(0, this, [&] {
            first = &form.showVersion();
            QTest::keyClick(first, Qt::Key_Escape);
            stayedOpen = first->isVisible();
            QTest::keyClick(first->Command1, Qt::Key_Return);
            if (first && first->isVisible())
                first->done(0); // do not hang when OK fails; the check below reports it
        });
        form.MnuHelpVer_Click();
        QVERIFY(stayedOpen);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());

        // The homepage link: a failure is reported, and each click asks the library again.
        frmShowVersion &dialog = form.showVersion();
        dialog.show();
        const QString description = QStringLiteral("Cannot load library libVLM3Res.so");
        fakes.maker->answer = {false, {}, description};
        QTest::mouseClick(dialog.Label5, Qt::LeftButton);
        QTest::mouseClick(dialog.Label5, Qt::LeftButton);
        QCOMPARE(fakes.maker->calls, 2);
        QCOMPARE(fakes.dialogs->messages.size(), std::size_t(2));
        const FakeDialogs::Message &message = fakes.dialogs->messages.back();
        QCOMPARE(message.title, QStringLiteral("Rakhpurl.dllのエラー"));
        QCOMPARE(message.text,
                 description + "\r\n\r\n 上記内容をラクトHP関係者まで報告してください。");
        QCOMPARE(message.icon, platform::MessageIcon::Critical);
        QVERIFY(fakes.shell->opened.isEmpty() && dialog.isVisible());

        // Each click asks again and opens what the library answers then.
        fakes.maker->answer = {true, QStringLiteral("https://example.org/a"), {}};
        QTest::mouseClick(dialog.Label5, Qt::LeftButton);
        fakes.maker->answer.address = QStringLiteral("file:///b");
        QTest::mouseClick(dialog.Label5, Qt::LeftButton);
        QCOMPARE(fakes.shell->opened, QStringList({"https://example.org/a", "file:///b"}));
        QCOMPARE(fakes.dialogs->messages.size(), std::size_t(2));
        QVERIFY(dialog.isVisible());
    }

    // A caption wider than its fixed-size control is cut off on the screen. The toggles show only
    // pictures and the keypad's display is a bare label: each needs a name a screen reader can
    // say, and the toggles are buttons it can press.
    void captionsFitAndControlsHaveNames()
    {
        FakeServices fakes(QStringLiteral("/opt/rorumo/rorumo"));
        Form1 form(fakes.services);
        frmShowVersion &about = form.showVersion();
        frmSet &panel = form.panel();
        QList<QWidget *> controls = {about.Label1[0], about.Label2,  about.Label3[0],
                                     about.Label3[1], about.Label5,  about.Command1,
                                     panel.Command1,  panel.Command3};
        for (QPushButton *key : panel.Command2)
            controls.append(key);
        for (QWidget *control : controls) {
            const auto *label = qobject_cast<QLabel *>(control);
            const auto *button = qobject_cast<QPushButton *>(control);
            const QString text = label ? label->text() : button->text();
            // Buttons keep a few pixels each side for their bevel.
            const int room = label ? label->contentsRect().width() : button->width() - 6;
            QVERIFY2(control->fontMetrics().horizontalAdvance(text) <= room, qPrintable(text));
        }
        // The keypad's C and 設定 in the panel's default face, as its other captions; not the
        // digits'.
        for (const std::size_t key : {10, 11})
            QCOMPARE(panel.Command2[key]->font(), panel.Command3->font());

        QAccessibleInterface *toggle = QAccessible::queryAccessibleInterface(panel.Check1);
        QVERIFY(toggle->actionInterface() && toggle->state().checkable);
        for (QWidget *named :
             std::initializer_list<QWidget *>{panel.Label1, about.Label5, about.Image1})
            QVERIFY(!accessibleName(named).isEmpty());
        for (QWidget *window : std::initializer_list<QWidget *>{&panel, &form.browseDir(), &about})
            for (QWidget *widget : window->findChildren<QWidget *>())
                if (widget->isVisibleTo(window) && widget->focusPolicy() != Qt::NoFocus)
                    QVERIFY2(!accessibleName(widget).isEmpty(), widget->metaObject()->className());
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
