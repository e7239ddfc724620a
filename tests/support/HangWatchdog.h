#pragma once

// Ends a test that hangs, with a message naming what hung, instead of leaving CI waiting.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Ends the test process with a clear message when the code under test has not come back within a
// time limit: a call that hangs (a FIFO opened without a reader, a lock never released) fails the
// test instead of holding it until the test runner's own time-out. Armed for its lifetime.
class HangWatchdog
{
public:
    HangWatchdog(std::string what, std::chrono::milliseconds limit);
    ~HangWatchdog();
    HangWatchdog(const HangWatchdog&) = delete;
    HangWatchdog& operator=(const HangWatchdog&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_returned;
    bool m_done = false;
    std::thread m_watcher;
};
