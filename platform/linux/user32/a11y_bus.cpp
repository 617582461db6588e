/*
 * a11y_bus.cpp - whether the desktop wants its programs on the
 * accessibility bus, found as toolkits find it. AT_SPI_BUS_ADDRESS names
 * the bus outright; in an X11 session the bus launcher writes AT_SPI_BUS
 * on the root window. In a Wayland session (Strellan then runs under
 * XWayland) it writes neither: the launcher is asked on the session bus
 * (org.a11y.Bus), and its org.a11y.Status says whether accessibility or a
 * screen reader is enabled, at start or later (GNOME's Super+Alt+S), by
 * its PropertiesChanged signal. GIO, for the session bus, is opened only
 * when there is a session bus to ask; it is never started for us, and
 * neither is the launcher.
 */
#include "platform/linux/user32/accessible.h"
#include "platform/linux/user32/display.h"

#include <dlfcn.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <type_traits>

namespace strellan {

namespace {

constexpr const char* kGioLibrary = "libgio-2.0.so.0";
constexpr const char* kBusName = "org.a11y.Bus";
constexpr const char* kBusPath = "/org/a11y/bus";
constexpr const char* kStatus = "org.a11y.Status";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
/* The launcher answers at once when it is there; the signal still comes
   when it is late. */
constexpr int kStatusTimeoutMs = 2000;

struct Gio {
    decltype(&g_dbus_connection_new_for_address) connect;
    decltype(&g_dbus_connection_new_for_address_finish) connectFinish;
    decltype(&g_dbus_connection_signal_subscribe) subscribe;
    decltype(&g_dbus_connection_signal_unsubscribe) unsubscribe;
    decltype(&g_dbus_connection_call) call;
    decltype(&g_dbus_connection_call_finish) callFinish;
};

/* GIO's calls that the watch makes, from the library opened now. */
bool OpenGio(Gio* gio)
{
    void* library = dlopen(kGioLibrary, RTLD_NOW | RTLD_LOCAL);
    auto find = [library](auto* call, const char* name) {
        *call = reinterpret_cast<std::remove_pointer_t<decltype(call)>>(dlsym(library, name));
        return *call != nullptr;
    };
    return library && find(&gio->connect, "g_dbus_connection_new_for_address") &&
           find(&gio->connectFinish, "g_dbus_connection_new_for_address_finish") &&
           find(&gio->subscribe, "g_dbus_connection_signal_subscribe") &&
           find(&gio->unsubscribe, "g_dbus_connection_signal_unsubscribe") &&
           find(&gio->call, "g_dbus_connection_call") &&
           find(&gio->callFinish, "g_dbus_connection_call_finish");
}

struct Watch {
    Gio gio{};
    GDBusConnection* connection = nullptr;
    guint subscription = 0;
    void (*enabled)() = nullptr;
    bool watching = false;
};

Watch g_watch;

/* The session bus's address, as the session gives it; never one that
   would have to be started (dbus-launch's autolaunch). */
std::string SessionBusAddress()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return address;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        const std::string socket = std::string(runtime) + "/bus";
        struct stat st {};
        if (stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
            return "unix:path=" + socket;
    }
    return {};
}

gboolean Release(gpointer object)
{
    g_object_unref(object);
    return G_SOURCE_REMOVE;
}

/* From the connection's own callbacks too: it is let go once they are
   over. */
void StopWatching()
{
    if (g_watch.subscription)
        g_watch.gio.unsubscribe(g_watch.connection, g_watch.subscription);
    if (g_watch.connection)
        g_idle_add(Release, g_watch.connection);
    g_watch.subscription = 0;
    g_watch.connection = nullptr;
    g_watch.watching = false;
}

/* org.a11y.Status's properties, or those that changed: on when either
   says so. */
void Consider(GVariant* properties)
{
    gboolean on = FALSE;
    for (const char* name : {"IsEnabled", "ScreenReaderEnabled"}) {
        gboolean value = FALSE;
        if (g_variant_lookup(properties, name, "b", &value) && value)
            on = TRUE;
    }
    if (!on || !g_watch.watching)
        return;
    void (*enabled)() = g_watch.enabled;
    StopWatching();
    enabled();
}

void OnChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer)
{
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)")))
        return;
    GVariant* changed = g_variant_get_child_value(parameters, 1);
    Consider(changed);
    g_variant_unref(changed);
}

void OnStatus(GObject*, GAsyncResult* result, gpointer)
{
    GError* error = nullptr;
    GVariant* reply = g_watch.gio.callFinish(g_watch.connection, result, &error);
    if (!reply) {
        /* No launcher (yet), or it did not answer: the signal may still
           come. */
        g_error_free(error);
        return;
    }
    GVariant* properties = g_variant_get_child_value(reply, 0);
    Consider(properties);
    g_variant_unref(properties);
    g_variant_unref(reply);
}

void OnConnected(GObject*, GAsyncResult* result, gpointer)
{
    GError* error = nullptr;
    g_watch.connection = g_watch.gio.connectFinish(result, &error);
    if (!g_watch.connection) {
        g_error_free(error); /* no session bus to ask: no screen reader either */
        g_watch.watching = false;
        return;
    }
    /* By path, not by sender: GDBus matches a well-known sender name only
       once it has learnt the name's owner, and a change that comes first
       would be missed. */
    g_watch.subscription = g_watch.gio.subscribe(
        g_watch.connection, nullptr, kProperties, "PropertiesChanged", kBusPath, kStatus,
        G_DBUS_SIGNAL_FLAGS_NONE, OnChanged, nullptr, nullptr);
    g_watch.gio.call(g_watch.connection, kBusName, kBusPath, kProperties, "GetAll",
                     g_variant_new("(s)", kStatus), G_VARIANT_TYPE("(a{sv})"),
                     G_DBUS_CALL_FLAGS_NO_AUTO_START, kStatusTimeoutMs, nullptr, OnStatus, nullptr);
}

} // namespace

bool AccessibilityBusNamed()
{
    if (std::getenv("AT_SPI_BUS_ADDRESS"))
        return true;
    return RootWindowHas("AT_SPI_BUS");
}

void WatchAccessibilityStatus(void (*enabled)())
{
    const std::string address = SessionBusAddress();
    if (g_watch.watching || address.empty())
        return;
    if (!OpenGio(&g_watch.gio))
        return; /* GLib without GIO: a desktop with no D-Bus at all */
    Gio& gio = g_watch.gio;
    g_watch.enabled = enabled;
    g_watch.watching = true;
    gio.connect(address.c_str(),
                GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                     G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, OnConnected, nullptr);
}

bool AccessibilityStatusWatched()
{
    return g_watch.watching;
}

} // namespace strellan
