// The activity logs and search indexes, asked on the session bus to forget each deleted file.

#include "traces/ActivityStores.h"
#include "traces/Thumbnails.h"

#include <algorithm>
#include <gio/gio.h>
#include <set>

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

std::vector<std::string> ForgetInActivityManager(SessionBus& bus, const std::vector<DeletedNames>& deleted)
{
    constexpr char kName[] = "org.kde.ActivityManager";
    constexpr char kStore[] = "KDE's activity manager";
    std::vector<std::string> lines;
    const SessionBus::Presence presence = bus.presence(kName);
    if (presence == SessionBus::Presence::Absent) {
        return lines;
    }
    for (const DeletedNames& file : deleted) {
        std::string failure;
        // It knows a file by its plain path: a URI removes nothing.
        for (const std::string& path : file.paths()) {
            const SessionBus::Reply reply = bus.call(kName,
                                                     "/ActivityManager/Resources/Scoring",
                                                     "org.kde.ActivityManager.ResourcesScoring",
                                                     "DeleteStatsForResource",
                                                     g_variant_new("(sss)", ":any", ":any", path.c_str()));
            if (!reply.value && failure.empty()) {
                failure = reply.error;
            }
        }
        if (!failure.empty()) {
            lines.push_back(couldNotAsk(kStore, file, failure));
        } else if (presence == SessionBus::Presence::Running) {
            lines.push_back(std::string(kStore) + " keeps the path of " + file.given +
                            " in its list of resources, which it offers no way to remove; its events and scores "
                            "were deleted");
        }
    }
    return lines;
}

std::vector<std::string> ForgetInTracker(SessionBus& bus, const std::vector<DeletedNames>& deleted)
{
    constexpr char kControl[] = "org.freedesktop.Tracker3.Miner.Files.Control";
    constexpr char kStore[] = "The search index (tracker)";
    std::vector<std::string> lines;
    if (bus.presence("org.freedesktop.Tracker3.Miner.Files") == SessionBus::Presence::Absent ||
        bus.presence(kControl) == SessionBus::Presence::Absent) {
        return lines;
    }
    // A running miner forgets a deleted file by itself; one that is stopped is started by this call, and
    // crawls the folder again at once. Asked of the file's own URI, it does nothing: its folder's it is.
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

std::vector<std::string> ForgetInActivityStores(SessionBus& bus, const std::vector<DeletedNames>& deleted)
{
    std::vector<std::string> lines;
    if (deleted.empty()) {
        return lines;
    }
    if (!bus.connected()) {
        // Without a session no store has been running; a session whose bus does not answer is named.
        if (!bus.failure().empty()) {
            lines.push_back("The activity logs and search indexes of this session could not be asked to forget the "
                            "shredded files: its bus could not be reached (" +
                            bus.failure() + ")");
        }
        return lines;
    }
    for (auto* store : {&ForgetInZeitgeist, &ForgetInActivityManager, &ForgetInTracker}) {
        std::vector<std::string> more = store(bus, deleted);
        lines.insert(lines.end(), more.begin(), more.end());
    }
    return lines;
}
