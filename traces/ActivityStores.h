#pragma once

// The desktop's activity logs and search indexes, which keep a file's path, its name and, for the
// indexes, the words of its text. Each offers a way to forget one file on the session bus: zeitgeist's
// log and KDE's activity manager never forget by themselves, and GNOME's tracker and KDE's baloo forget
// only while they run. A store that is not installed is passed over in silence.

#include "traces/DeletedNames.h"
#include "traces/SessionBus.h"

#include <string>
#include <vector>

// Asks every store on `bus` to forget each of `deleted` under every name it had; `dataHome` is the
// user's data folder, where the stores keep their databases. Returns a line for each store that may
// still name one and could not be asked, or keeps what it offers no way to remove.
std::vector<std::string>
ForgetInActivityStores(SessionBus& bus, const std::string& dataHome, const std::vector<DeletedNames>& deleted);

// Each store on its own: zeitgeist's activity log, KDE's activity manager, tracker's file index and
// baloo's, which is cleared by its own tool while it is stopped.
std::vector<std::string> ForgetInZeitgeist(SessionBus& bus, const std::vector<DeletedNames>& deleted);
std::vector<std::string>
ForgetInActivityManager(SessionBus& bus, const std::string& dataHome, const std::vector<DeletedNames>& deleted);
std::vector<std::string> ForgetInTracker(SessionBus& bus, const std::vector<DeletedNames>& deleted);
std::vector<std::string>
ForgetInBaloo(SessionBus& bus, const std::string& dataHome, const std::vector<DeletedNames>& deleted);
