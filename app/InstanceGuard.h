#pragma once

#include <string>

// Tells whether another copy of the program is already running for this user.
//
// The first copy binds a Unix socket in Linux's abstract namespace under a per-user name. The binding
// is atomic, so of two copies started at the same moment exactly one gets it, and it lives exactly as
// long as the process: the kernel releases it when the process ends in any way, a crash or a kill
// included, so a dead copy never blocks the next start. Nothing is created in the file system.
class InstanceGuard
{
public:
    // The name this user's copies of the program share.
    static std::string defaultKey();

    explicit InstanceGuard(std::string key);
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // True when this process now holds the name (or already held it); false when another process does.
    bool acquire();

private:
    std::string m_key;
    int m_socket = -1;
};
