// The process settings on Linux: no settings file, no signal for a file size limit, and as many
// descriptors as the system allows.

#include "app/ProcessSettings.h"

#include <QString>

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>

void applyProcessSettings()
{
    keepSettingsOffTheDisk(QStringLiteral("/dev/null"));

    // A file size limit must turn into an error the shred run reports, not a signal that kills it.
    std::signal(SIGXFSZ, SIG_IGN);

    // A batch holds each of its files' folders open from the measuring to the deletion: the program
    // takes as many descriptors as the hard limit lets it have, not the thousand or so it starts with.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void chooseWindowSystem()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    if (!set("QT_QPA_PLATFORM") && set("WAYLAND_DISPLAY") && set("DISPLAY")) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}
