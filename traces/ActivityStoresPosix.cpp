// The activity logs and search indexes, asked on the session bus to forget each deleted file.

#include "traces/ActivityStores.h"
#include "traces/Thumbnails.h"
#include "traces/TraceFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gio/gio.h>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
// Every URI a program may have recorded a deleted file under: its paths as GLib and as Qt escape them.
std::vector<std::string> urisOf(const DeletedNames& deleted)
{
    std::vector<std::string> uris;
    for (const std::string& path : deleted.paths()) {
        for (const std::string& uri : {ThumbnailUri(path), QtThumbnailUri(path)}) {
            if (std::find(uris.begin(), uris.end(), uri) == uris.end()) {
                uris.push_back(uri);
            }
        }
    }
    return uris;
}

std::string couldNotAsk(const char* store, const DeletedNames& deleted, const std::string& why)
{
    return std::string(store) + " may still name " + deleted.given + ": it could not be asked to forget it (" + why +
           ")";
}

// Zeitgeist's wildcard for every field of an event but its subject's URI.
GVariant* eventTemplate(const std::string& uri)
{
    GVariantBuilder data;
    g_variant_builder_init(&data, G_VARIANT_TYPE("as"));
    for (int field = 0; field < 6; ++field) { // id, time, interpretation, manifestation, actor, origin
        g_variant_builder_add(&data, "s", "");
    }
    GVariantBuilder subject;
    g_variant_builder_init(&subject, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&subject, "s", uri.c_str());
    for (int field = 1; field < 9; ++field) {     // then interpretation, manifestation, origin, mime type,
        g_variant_builder_add(&subject, "s", ""); // text, storage, current URI and current origin
    }
    GVariantBuilder subjects;
    g_variant_builder_init(&subjects, G_VARIANT_TYPE("aas"));
    g_variant_builder_add_value(&subjects, g_variant_builder_end(&subject));
    return g_variant_new("(asaas@ay)", &data, &subjects, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, nullptr, 0, 1));
}

// Whether the database at `path`, or its journal, still holds any of `texts`.
bool holdsAnyOf(const std::string& path, const std::vector<std::string>& texts)
{
    for (const std::string& file : {path, path + "-wal"}) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const std::optional<std::string> bytes = ReadAll(fd);
        ::close(fd);
        for (const std::string& text : texts) {
            if (bytes && bytes->find(text) != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

// Runs `arguments`, the program first and looked up on PATH, with no input and no output, until it
// ends or `until` comes. Empty when it ended well, else why not; ENOENT when it is not installed.
std::string runTool(const std::vector<std::string>& arguments, SessionBus::Clock::time_point until, int& notStarted)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    for (const int fd : {0, 1, 2}) {
        posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    pid_t pid = 0;
    notStarted = posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (notStarted != 0) {
        return arguments[0] + " could not be run";
    }
    int status = 0;
    for (pid_t ended = 0; (ended = ::waitpid(pid, &status, WNOHANG)) != pid;) {
        if (ended < 0 && errno != EINTR) {
            return arguments[0] + " was lost";
        }
        if (SessionBus::Clock::now() >= until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return arguments[0] + " did not end in time";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return {};
    }
    return arguments[0] + " ended with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}
} // namespace

std::vector<std::string> ForgetInZeitgeist(SessionBus& bus, const std::vector<DeletedNames>& deleted)
{
    constexpr char kName[] = "org.gnome.zeitgeist.Engine";
    constexpr char kPath[] = "/org/gnome/zeitgeist/log/activity";
    constexpr char kLog[] = "org.gnome.zeitgeist.Log";
    constexpr char kStore[] = "The activity log (zeitgeist)";
    std::vector<std::string> lines;
    if (bus.presence(kName) == SessionBus::Presence::Absent) {
        return lines;
    }
    for (const DeletedNames& file : deleted) {
        GVariantBuilder templates;
        g_variant_builder_init(&templates, G_VARIANT_TYPE("a(asaasay)"));
        for (const std::string& uri : urisOf(file)) {
            g_variant_builder_add_value(&templates, eventTemplate(uri));
        }
        // Over all time, in any storage state, every event, most recent first.
        const SessionBus::Reply found =
            bus.call(kName,
                     kPath,
                     kLog,
                     "FindEventIds",
                     g_variant_new("((xx)a(asaasay)uuu)", gint64{0}, G_MAXINT64, &templates, 2u, 0u, 0u));
        if (!found.value) {
            lines.push_back(couldNotAsk(kStore, file, found.error));
            continue;
        }
        GVariant* ids = g_variant_get_child_value(found.value.get(), 0);
        const SessionBus::Reply deletedEvents =
            g_variant_n_children(ids) == 0 ? SessionBus::Reply{found.value, {}}
                                           : bus.call(kName, kPath, kLog, "DeleteEvents", g_variant_new_tuple(&ids, 1));
        g_variant_unref(ids);
        if (!deletedEvents.value) {
            lines.push_back(std::string(kStore) + " still names " + file.given + ": its events could not be deleted (" +
                            deletedEvents.error + ")");
        }
    }
    return lines;
}

std::vector<std::string>
ForgetInActivityManager(SessionBus& bus, const std::string& dataHome, const std::vector<DeletedNames>& deleted)
{
    constexpr char kName[] = "org.kde.ActivityManager";
    constexpr char kStore[] = "KDE's activity manager";
    std::vector<std::string> lines;
    if (bus.presence(kName) == SessionBus::Presence::Absent) {
        return lines;
    }
    const std::string database = dataHome + "/kactivitymanagerd/resources/database";
    for (const DeletedNames& file : deleted) {
        std::string failure;
        // It knows a file by its plain path: a URI removes nothing.
        for (const std::string& path : file.paths()) {
            const auto call = [&] {
                return bus.call(kName,
                                "/ActivityManager/Resources/Scoring",
                                "org.kde.ActivityManager.ResourcesScoring",
                                "DeleteStatsForResource",
                                g_variant_new("(sss)", ":any", ":any", path.c_str()));
            };
            // Started by the call, it takes its name a moment before it shows its objects.
            const auto starting = SessionBus::Clock::now() + std::chrono::seconds(2);
            SessionBus::Reply reply = call();
            while (!reply.value && reply.error.find(".UnknownObject") != std::string::npos &&
                   SessionBus::Clock::now() < starting) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                reply = call();
            }
            if (!reply.value && failure.empty()) {
                failure = reply.error;
            }
        }
        if (!failure.empty()) {
            lines.push_back(couldNotAsk(kStore, file, failure));
        } else if (holdsAnyOf(database, file.paths())) {
            lines.push_back(std::string(kStore) + " keeps the path of " + file.given +
                            " in its list of resources, which it offers no way to remove; its events and scores "
                            "were deleted");
        }
    }
    return lines;
}

std::vector<std::string> ForgetInTracker(SessionBus& bus, const std::vector<DeletedNames>& deleted)
{
    constexpr char kMiner[] = "org.freedesktop.Tracker3.Miner.Files";
    constexpr char kControl[] = "org.freedesktop.Tracker3.Miner.Files.Control";
    constexpr char kStore[] = "The search index (tracker)";
    std::vector<std::string> lines;
    if (bus.presence(kMiner) == SessionBus::Presence::Absent ||
        bus.presence(kControl) == SessionBus::Presence::Absent) {
        return lines;
    }
    // A running miner forgets a deleted file by itself, unless it watches no folder. One that is stopped
    // is started, as any of its clients starts it: its first crawl forgets what is gone.
    if (bus.presence(kMiner) == SessionBus::Presence::Startable) {
        const SessionBus::Reply started =
            bus.call(kMiner, "/org/freedesktop/Tracker3/Miner/Files", "org.freedesktop.DBus.Peer", "Ping", nullptr);
        if (!started.value) {
            for (const DeletedNames& file : deleted) {
                lines.push_back(couldNotAsk(kStore, file, started.error));
            }
            return lines;
        }
    }
    // And every folder is crawled again at once. Asked of the file's own URI, it does nothing.
    std::set<std::string> asked;
    for (const DeletedNames& file : deleted) {
        for (const std::string& path : file.paths()) {
            const std::string folder = ThumbnailUri(FolderOfPath(path));
            if (!asked.insert(folder).second) {
                continue;
            }
            const gchar* const none[] = {nullptr}; // no graphs named, no flags
            const SessionBus::Reply reply = bus.call(kControl,
                                                     "/org/freedesktop/Tracker3/Miner/Files/Index",
                                                     "org.freedesktop.Tracker3.Miner.Files.Index",
                                                     "IndexLocation",
                                                     g_variant_new("(s^as^as)", folder.c_str(), none, none));
            if (!reply.value) {
                lines.push_back(couldNotAsk(kStore, file, reply.error));
            }
        }
    }
    return lines;
}

std::vector<std::string>
ForgetInBaloo(SessionBus& bus, const std::string& dataHome, const std::vector<DeletedNames>& deleted)
{
    constexpr char kStore[] = "KDE's search index (baloo)";
    std::vector<std::string> lines;
    struct stat index
    {
    };
    // A running indexer forgets a deleted file by itself; a stopped one keeps it until it runs again.
    if (dataHome.empty() || ::stat((dataHome + "/baloo/index").c_str(), &index) != 0 ||
        (bus.connected() && bus.presence("org.kde.baloo") == SessionBus::Presence::Running)) {
        return lines;
    }
    for (const DeletedNames& file : deleted) {
        // Its tool clears a path that no longer exists; one that names a file again is not the shredded one.
        std::vector<std::string> clear;
        for (const std::string& path : file.paths()) {
            struct stat now
            {
            };
            if (path.starts_with('/') && ::lstat(path.c_str(), &now) != 0 && errno == ENOENT) {
                clear.push_back(path);
            }
        }
        if (clear.empty()) {
            continue;
        }
        std::string failure;
        int notStarted = ENOENT;
        for (const char* tool : {"balooctl6", "balooctl"}) {
            clear.insert(clear.begin(), {tool, "clear"});
            failure = runTool(clear, bus.deadline(), notStarted);
            clear.erase(clear.begin(), clear.begin() + 2);
            if (notStarted != ENOENT) {
                break;
            }
        }
        if (!failure.empty()) {
            lines.push_back(std::string(kStore) + " may still name " + file.given + ": it is stopped, and " +
                            (notStarted == ENOENT ? std::string("its tool balooctl is not installed") : failure));
        }
    }
    return lines;
}

std::vector<std::string>
ForgetInActivityStores(SessionBus& bus, const std::string& dataHome, const std::vector<DeletedNames>& deleted)
{
    std::vector<std::string> lines;
    if (deleted.empty()) {
        return lines;
    }
    // An index that is stopped is cleared without the bus.
    lines = ForgetInBaloo(bus, dataHome, deleted);
    if (!bus.connected()) {
        // Without a session no store has been running; a session whose bus does not answer is named.
        if (!bus.failure().empty()) {
            lines.push_back("The activity logs and search indexes of this session could not be asked to forget the "
                            "shredded files: its bus could not be reached (" +
                            bus.failure() + ")");
        }
        return lines;
    }
    for (std::vector<std::string> more : {ForgetInZeitgeist(bus, deleted),
                                          ForgetInActivityManager(bus, dataHome, deleted),
                                          ForgetInTracker(bus, deleted)}) {
        lines.insert(lines.end(), more.begin(), more.end());
    }
    return lines;
}
