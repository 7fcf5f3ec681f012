#include "OnTop.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#ifdef DIVADEDADI_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace {

#ifdef DIVADEDADI_HAVE_XCB
xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}
#endif

// Asks the window manager to put a shown X11 window above the others, or to
// take it back, through the standard _NET_WM_STATE request. The native window
// stays the same, so it neither blinks nor moves. False where this is not
// possible (another window system, a window not shown).
bool requestAboveOnX11(QWidget* window, bool onTop)
{
#ifdef DIVADEDADI_HAVE_XCB
    // The offscreen platform answers for X11 too, without a connection.
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !window->isVisible() || !window->windowHandle())
        return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    const auto id = xcb_window_t(window->winId());
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, id), nullptr);
    if (!tree)
        return false;
    const xcb_window_t root = tree->root;
    std::free(tree);
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t above = internAtom(connection, "_NET_WM_STATE_ABOVE");
    if (state == XCB_ATOM_NONE || above == XCB_ATOM_NONE)
        return false;

    constexpr uint32_t Remove = 0, Add = 1, SourceApplication = 1;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = id;
    event.type = state;
    event.data.data32[0] = onTop ? Add : Remove;
    event.data.data32[1] = above;
    event.data.data32[3] = SourceApplication;
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    return true;
#else
    Q_UNUSED(window);
    Q_UNUSED(onTop);
    return false;
#endif
}

} // namespace

bool onTopWanted(const QVariant& value)
{
    if (!value.isValid())
        return true;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::LongLong:
    case QMetaType::Long:
        return value.toLongLong() == -1;
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble() == -1.0;
    default:
        return false;
    }
}

void SetOnTop(QWidget* window, const QVariant& value)
{
    if (!window)
        return;
    const bool onTop = onTopWanted(value);
    const bool isOnTop = window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    // A window already made topmost through its flags is returned through them too.
    if ((isOnTop || !requestAboveOnX11(window, onTop)) && onTop != isOnTop) {
        // Changing the flags re-creates the native window and hides it.
        const bool wasVisible = window->isVisible();
        const QPoint position = window->pos();
        window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        window->move(position);
        if (wasVisible)
            window->show();
    }
    if (window->isVisible()) {
        window->raise();
        window->activateWindow();
    }
}
