// Reads the window manager's close requests from X11 messages while a run holds the window.

#include "app/TitleBarCloseWatch.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <cstdlib>
#include <cstring>

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define ZORVIK_HAS_XCB 1
#endif

TitleBarCloseWatch::TitleBarCloseWatch(QWidget* window)
    : m_window(window)
{
#ifdef ZORVIK_HAS_XCB
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 && QGuiApplication::platformName() == "xcb" ? x11->connection() : nullptr;
    if (!connection) {
        return;
    }
    const auto atom = [connection](const char* name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, std::strlen(name), name), nullptr);
        const unsigned found = reply ? reply->atom : 0;
        std::free(reply);
        return found;
    };
    m_protocols = atom("WM_PROTOCOLS");
    m_deleteWindow = atom("WM_DELETE_WINDOW");
    QCoreApplication::instance()->installNativeEventFilter(this);
#endif
}

TitleBarCloseWatch::~TitleBarCloseWatch()
{
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

void TitleBarCloseWatch::watch(bool on)
{
    m_watching = on;
    if (on) {
        m_asked = false;
    }
}

bool TitleBarCloseWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
#ifdef ZORVIK_HAS_XCB
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) == XCB_DESTROY_NOTIFY) {
        // Qt forgets a window it destroys itself before the news comes back: one it still holds was
        // destroyed by someone else.
        const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
        if (m_window->internalWinId() != 0 && destroyed->window == m_window->internalWinId() && !m_gone) {
            m_gone = true;
            if (!m_watching) {
                QMetaObject::invokeMethod(m_window, &QWidget::close, Qt::QueuedConnection);
            }
        }
        return false;
    }
    if (!m_watching || (event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) {
        return false;
    }
    const auto* request = static_cast<const xcb_client_message_event_t*>(message);
    if (request->format == 32 && request->type == m_protocols && request->data.data32[0] == m_deleteWindow &&
        request->window == m_window->winId()) {
        m_asked = true;
        return true;
    }
#else
    (void)eventType;
    (void)message;
#endif
    return false;
}
