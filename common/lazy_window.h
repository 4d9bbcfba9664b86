#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

// One of the program's single-instance windows: created the first time any code touches it,
// destroyed when it closes (and created afresh on the next touch), and destroyed with its owner
// when it is still open then.
template<class Window> class LazyWindow
{
public:
    explicit LazyWindow(std::function<Window *()> create) : m_create(std::move(create)) {}
    LazyWindow(const LazyWindow &) = delete;
    LazyWindow &operator=(const LazyWindow &) = delete;
    ~LazyWindow() { delete m_window.data(); }

    Window &get()
    {
        if (!m_window) {
            m_window = m_create();
            m_window->setAttribute(Qt::WA_DeleteOnClose);
        }
        return *m_window;
    }
    bool exists() const { return !m_window.isNull(); }
    Window *peek() const { return m_window.data(); }

private:
    std::function<Window *()> m_create;
    QPointer<Window> m_window;
};
