// The session bus through GLib's GDBus, on a main context of its own, each step bounded in time.

#include "traces/SessionBus.h"

#include <algorithm>
#include <cstdlib>
#include <gio/gio.h>
#include <sys/stat.h>
#include <utility>

namespace {
// What an asynchronous step leaves for the waiting side. Shared with the step's callback, which may
// come after the waiting side has given up.
template <typename Result> struct Pending
{
    explicit Pending(void (*release)(Result))
        : release(release)
    {
    }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
    ~Pending()
    {
        if (result) {
            release(result);
        }
    }

    void (*release)(Result);
    bool done = false;
    Result result{};
    std::string error;
};

void releaseConnection(GDBusConnection* connection)
{
    g_object_unref(connection);
}

// The bus the environment names, without starting one: GLib would launch a bus of its own for a
// process outside any session, and leave it running. A bus named but disabled is none.
std::string sessionBusAddress()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        // "disabled:" is the bus library's own word for a session that has none.
        return std::string(address) == "disabled:" ? std::string() : std::string(address);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat status
    {
    };
    if (runtime && *runtime == '/') {
        const std::string socket = std::string(runtime) + "/bus";
        if (::stat(socket.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) {
            return "unix:path=" + socket;
        }
    }
    return {};
}

std::string messageOf(GError* error)
{
    if (!error) {
        return "unknown error";
    }
    gchar* remote = g_dbus_error_get_remote_error(error);
    g_dbus_error_strip_remote_error(error);
    std::string text = error->message;
    if (remote) {
        text += " (" + std::string(remote) + ")";
        g_free(remote);
    }
    g_error_free(error);
    return text;
}

constexpr char kNoAnswer[] = "it did not answer in time";

// A little past the deadline, for a cancelled step to report itself.
constexpr std::chrono::milliseconds kCancelGrace(500);
} // namespace

template <typename Done> bool SessionBus::waitFor(Done done, Clock::time_point until)
{
    while (!done()) {
        if (Clock::now() >= until) {
            return false;
        }
        // A blocking iteration would not notice the deadline: wake at least every 10 ms.
        if (!g_main_context_iteration(m_context, FALSE)) {
            g_usleep(10000);
        }
    }
    return true;
}

SessionBus::SessionBus(Clock::time_point deadline)
    : m_deadline(deadline)
    , m_context(g_main_context_new())
{
    const std::string address = sessionBusAddress();
    if (address.empty()) {
        return;
    }
    g_main_context_push_thread_default(m_context);
    auto pending = std::make_shared<Pending<GDBusConnection*>>(&releaseConnection);
    GCancellable* cancel = g_cancellable_new();
    g_dbus_connection_new_for_address(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr,
        cancel,
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<Pending<GDBusConnection*>>> held(
                static_cast<std::shared_ptr<Pending<GDBusConnection*>>*>(data));
            Pending<GDBusConnection*>& step = **held;
            GError* error = nullptr;
            step.result = g_dbus_connection_new_for_address_finish(result, &error);
            if (!step.result) {
                step.error = messageOf(error);
            }
            step.done = true;
        },
        new std::shared_ptr<Pending<GDBusConnection*>>(pending));
    const bool answered = waitFor([&] { return pending->done; }, m_deadline);
    if (!answered) {
        g_cancellable_cancel(cancel);
        waitFor([&] { return pending->done; }, Clock::now() + kCancelGrace);
    }
    g_object_unref(cancel);
    m_connection = std::exchange(pending->result, nullptr);
    if (!m_connection) {
        m_failure = answered ? pending->error : kNoAnswer;
    }
    g_main_context_pop_thread_default(m_context);
}

SessionBus::~SessionBus()
{
    if (m_connection) {
        // Closed without waiting: a bus that stopped reading would hold a flush for ever.
        g_main_context_push_thread_default(m_context);
        g_dbus_connection_close(m_connection, nullptr, nullptr, nullptr);
        g_object_unref(m_connection);
        g_main_context_pop_thread_default(m_context);
    }
    // Whatever is still queued for the context is run once, so that no callback is left owning state.
    while (g_main_context_iteration(m_context, FALSE)) {
    }
    g_main_context_unref(m_context);
}

bool SessionBus::connected() const
{
    return m_connection != nullptr;
}

const std::string& SessionBus::failure() const
{
    return m_failure;
}

SessionBus::Presence SessionBus::presence(const std::string& name)
{
    const Reply owner = call("org.freedesktop.DBus",
                             "/org/freedesktop/DBus",
                             "org.freedesktop.DBus",
                             "NameHasOwner",
                             g_variant_new("(s)", name.c_str()));
    gboolean running = FALSE;
    if (owner.value) {
        g_variant_get(owner.value.get(), "(b)", &running);
    }
    if (running) {
        return Presence::Running;
    }
    const Reply startable =
        call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListActivatableNames", nullptr);
    if (startable.value) {
        GVariantIter* names = nullptr;
        const gchar* each = nullptr;
        g_variant_get(startable.value.get(), "(as)", &names);
        bool listed = false;
        while (g_variant_iter_next(names, "&s", &each)) {
            listed = listed || name == each;
        }
        g_variant_iter_free(names);
        if (listed) {
            return Presence::Startable;
        }
    }
    return Presence::Absent;
}

SessionBus::Reply SessionBus::call(const std::string& name,
                                   const std::string& path,
                                   const std::string& interface,
                                   const std::string& method,
                                   GVariant* arguments,
                                   std::chrono::milliseconds timeout)
{
    if (arguments) {
        g_variant_ref_sink(arguments);
    }
    const auto until = std::min(m_deadline, Clock::now() + timeout);
    if (!m_connection || Clock::now() >= until) {
        if (arguments) {
            g_variant_unref(arguments);
        }
        return {nullptr, m_connection ? "no time was left to ask" : "the session bus could not be reached"};
    }
    g_main_context_push_thread_default(m_context);
    auto pending = std::make_shared<Pending<GVariant*>>(&g_variant_unref);
    GCancellable* cancel = g_cancellable_new();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    g_dbus_connection_call(
        m_connection,
        name.c_str(),
        path.c_str(),
        interface.c_str(),
        method.c_str(),
        arguments,
        nullptr,
        G_DBUS_CALL_FLAGS_NONE,
        static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 1)),
        cancel,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<Pending<GVariant*>>> held(
                static_cast<std::shared_ptr<Pending<GVariant*>>*>(data));
            Pending<GVariant*>& step = **held;
            GError* error = nullptr;
            step.result = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (!step.result) {
                step.error = messageOf(error);
            }
            step.done = true;
        },
        new std::shared_ptr<Pending<GVariant*>>(pending));
    // GDBus ends the call at its time-out; the cancellation is for a bus that stopped reading.
    const bool answered = waitFor([&] { return pending->done; }, until + std::chrono::milliseconds(100));
    if (!answered) {
        g_cancellable_cancel(cancel);
        waitFor([&] { return pending->done; }, Clock::now() + kCancelGrace);
    }
    g_object_unref(cancel);
    if (arguments) {
        g_variant_unref(arguments);
    }
    g_main_context_pop_thread_default(m_context);
    if (!answered) {
        return {nullptr, kNoAnswer};
    }
    if (!pending->result) {
        return {nullptr, pending->error};
    }
    GVariant* value = std::exchange(pending->result, nullptr);
    return {std::shared_ptr<GVariant>(value, &g_variant_unref), {}};
}
