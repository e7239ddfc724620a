#pragma once

// The one place the traces talk to the user's session bus, where the desktop's activity logs and
// search indexes offer to forget a file. Every step is bounded in time: a bus or a service that never
// answers costs at most the time given, and the run goes on.

#include <chrono>
#include <memory>
#include <string>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GMainContext GMainContext;
typedef struct _GVariant GVariant;

class SessionBus
{
public:
    using Clock = std::chrono::steady_clock;

    // Connects to the session bus the environment names ($DBUS_SESSION_BUS_ADDRESS, else the socket
    // $XDG_RUNTIME_DIR/bus). No bus is started where there is none. Nothing takes past `deadline`.
    explicit SessionBus(Clock::time_point deadline);
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    // Whether a bus was named and answered.
    bool connected() const;
    // Why a bus that was named could not be reached; empty when it was, or none was named.
    const std::string& failure() const;
    // When every step must be over.
    Clock::time_point deadline() const
    {
        return m_deadline;
    }

    // Whether `name` has an owner now, or the bus can start the service that owns it.
    enum class Presence
    {
        Absent,
        Running,
        Startable,
    };
    Presence presence(const std::string& name);

    // The reply to one method call, or why there is none.
    struct Reply
    {
        std::shared_ptr<GVariant> value; // null when there is no reply
        std::string error;               // empty when there is one
    };
    // Calls `method` of `interface` at `path` of `name` with `arguments` (floating references are
    // taken), waiting at most `timeout` and never past the deadline. A service that is not running is
    // started by the bus, as for any of its clients.
    Reply call(const std::string& name,
               const std::string& path,
               const std::string& interface,
               const std::string& method,
               GVariant* arguments,
               std::chrono::milliseconds timeout = std::chrono::seconds(2));

private:
    // Runs the private main context until `done` or the deadline; false when the deadline came first.
    template <typename Done> bool waitFor(Done done, Clock::time_point until);

    Clock::time_point m_deadline;
    GMainContext* m_context = nullptr;
    GDBusConnection* m_connection = nullptr;
    std::string m_failure;
};
