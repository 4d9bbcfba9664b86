#pragma once

#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QList>

// A dialog that only its own buttons close: the title bar's close button does nothing, and
// neither do the keys that would otherwise close or accept it.
class ButtonClosedDialog : public QDialog
{
public:
    ButtonClosedDialog(Qt::WindowFlags flags, QList<int> ignoredKeys)
        : QDialog(nullptr, flags), m_ignoredKeys(std::move(ignoredKeys))
    {}

protected:
    // What the dialog's closing buttons call.
    void closeByButton()
    {
        m_closing = true;
        hide();
        close();
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (m_ignoredKeys.contains(event->key())) {
            event->accept();
            return;
        }
        QDialog::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent *event) override
    {
        if (!m_closing) {
            event->ignore();
            return;
        }
        QDialog::closeEvent(event);
    }

private:
    QList<int> m_ignoredKeys;
    bool m_closing = false;
};
