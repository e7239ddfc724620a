#pragma once

// Keeps a title-bar close that arrives during a run, so that it is honoured when the run ends.

#include <QAbstractNativeEventFilter>

class QWidget;

// Notices the window manager's request to close a window (its title bar's close button) while a run
// holds it. Qt drops such a request when it arrives while a box of the run is open over the window; the
// run honours it once it is over instead. Only X11 sends these requests as messages of their own.
// It also notices another program destroying the window: a process without its window would hold the
// single-copy guard for good, so the window is closed, at once or when the run is over.
class TitleBarCloseWatch : public QAbstractNativeEventFilter
{
public:
    explicit TitleBarCloseWatch(QWidget* window);
    ~TitleBarCloseWatch() override;
    TitleBarCloseWatch(const TitleBarCloseWatch&) = delete;
    TitleBarCloseWatch& operator=(const TitleBarCloseWatch&) = delete;

    // While watching, a close request is taken here and kept; otherwise it goes to Qt as usual.
    void watch(bool on);
    // Whether a close was requested while watching.
    bool asked() const
    {
        return m_asked;
    }
    // Whether another program destroyed the window.
    bool windowGone() const
    {
        return m_gone;
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QWidget* m_window;
    bool m_watching = false;
    bool m_asked = false;
    bool m_gone = false;
    unsigned m_protocols = 0;
    unsigned m_deleteWindow = 0;
};
