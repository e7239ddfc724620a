// Ends a test that hangs, with a message naming what hung.

#include "tests/support/HangWatchdog.h"

#include <cstdio>
#include <cstdlib>

HangWatchdog::HangWatchdog(std::string what, std::chrono::milliseconds limit)
    : m_watcher([this, what = std::move(what), limit] {
        std::unique_lock lock(m_mutex);
        if (!m_returned.wait_for(lock, limit, [this] { return m_done; })) {
            std::fprintf(stderr,
                         "FAIL!  : %s did not return within %lld ms: it hangs\n",
                         what.c_str(),
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
        }
    })
{
}

HangWatchdog::~HangWatchdog()
{
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_returned.notify_one();
    m_watcher.join();
}
