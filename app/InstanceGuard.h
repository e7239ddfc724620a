#pragma once

// The single-copy guard: whether another copy of the program already runs for this user.

#include <memory>
#include <string>

// Tells whether another copy of the program is already running for this user.
//
// On Linux the first copy takes an exclusive lock (flock) on a lock file in a folder that only this
// user can enter: the session's runtime folder ($XDG_RUNTIME_DIR), or without one a folder of the
// user's own in the temporary folder. No other user can create or lock anything in that folder. On
// Windows it creates a named mutex in the session's namespace whose name carries the user's SID and
// the key.
//
// Either way, taking it is atomic, so of two copies started at the same moment exactly one gets it,
// and the kernel releases it when the process ends in any way, a crash or a kill included, so a dead
// copy never blocks the next start. Where no private folder can be had, the copy holds an abstract
// socket named for the user instead and takes every later copy's connection. A copy counts another
// holder only when the kernel says it runs as this user and its queue lets the copy in within two
// seconds: nobody else can keep it from starting, or keep it waiting for good. A name another user
// holds sends every copy of this user's on to the same next one, so one copy per user still holds. Only
// someone who takes the folder and all four names first leaves the copies of a user unguarded.
class InstanceGuard
{
public:
    // The name this user's copies of the program share.
    static std::string defaultKey();

    // The folder the lock file goes in, or empty when there is none that only this user can enter, and
    // on Windows, which needs none.
    static std::string privateFolder();

    explicit InstanceGuard(std::string key);
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // True when this process now holds the lock (or already held it), or when there is nowhere private
    // to hold it; false when another process of this user holds it.
    bool acquire();

private:
    struct Held; // what the guard holds, as each system holds it: InstanceGuardPosix.cpp, InstanceGuardWin32.cpp
    std::unique_ptr<Held> m_held;
};
