// The single-copy guard on its own: exclusive, and released when its holder lets go. (That a killed
// holder releases it is the kernel's part; TestStartup kills real copies on Linux.)
#include "app/InstanceGuard.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {
std::string uniqueKey(const char* name)
{
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    return "zorvik-test-guard-" + std::string(name) + "-" + std::to_string(pid);
}
} // namespace

TEST(InstanceGuard, ExclusiveAndReleasedByItsHolder)
{
    const std::string key = uniqueKey("release");
    auto first = std::make_unique<InstanceGuard>(key);
    ASSERT_TRUE(first->acquire());
    EXPECT_TRUE(first->acquire()); // asking again does not refuse the holder
    InstanceGuard second(key);
    EXPECT_FALSE(second.acquire());
    InstanceGuard other(key + "-other");
    EXPECT_TRUE(other.acquire()); // another name is another program
    first.reset();
    EXPECT_TRUE(second.acquire());
}

#ifndef _WIN32
// Without a folder only the user can enter, a user's copies still keep each other out.
TEST(InstanceGuard, ExclusiveWithoutAPrivateFolder)
{
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    ::setenv("TMPDIR", "/proc/no-such-folder", 1);
    ASSERT_EQ(InstanceGuard::privateFolder(), "");
    const std::string key = uniqueKey("no-folder");
    auto first = std::make_unique<InstanceGuard>(key);
    ASSERT_TRUE(first->acquire());
    EXPECT_TRUE(first->acquire());
    InstanceGuard second(key);
    EXPECT_FALSE(second.acquire());
    first.reset();
    EXPECT_TRUE(second.acquire());
}

// Takes this user's guard name for `key` as another program would, never letting anyone in, with
// its queue already full when `full`.
static int squat(const std::string& key, bool full)
{
    static const std::string name = "zorvik-" + std::to_string(geteuid()) + "-" + key + ".lock"; // before a setuid
    sockaddr_un address{AF_UNIX, {}};
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto* named = reinterpret_cast<const sockaddr*>(&address);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_TRUE(::bind(fd, named, size) == 0 && ::listen(fd, 0) == 0);
    while (full && ::connect(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0), named, size) == 0) {
    }
    return fd;
}

// Copies started one after another all find the first and none waits; a holder that lets no one in,
// or another user's, keeps no copy out. (Hanging here fails by the suite's time limit.)
TEST(InstanceGuard, WithoutAPrivateFolderNoCopyHangsOrIsKeptOutByAStranger)
{
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    ::setenv("TMPDIR", "/proc/no-such-folder", 1);
    const std::string key = uniqueKey("queue");
    {
        InstanceGuard first(key);
        ASSERT_TRUE(first.acquire());
        for (int later = 0; later < 40; ++later) { // more than the holder's queue keeps
            EXPECT_FALSE(InstanceGuard(key).acquire()) << "copy " << later;
        }
    }
    const int squatter = squat(key, true);
    EXPECT_TRUE(InstanceGuard(key).acquire());
    ::close(squatter);
    if (geteuid() != 0) {
        GTEST_SKIP() << "another user's holder needs root to become one";
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t stranger = ::fork();
    if (stranger == 0) {
        if (::setuid(65534) == 0 && squat(key, false) >= 0 && ::write(ready[1], "x", 1) == 1) {
            ::pause();
        }
        _exit(1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_TRUE(InstanceGuard(key).acquire());
    ::kill(stranger, SIGKILL);
    ::waitpid(stranger, nullptr, 0);
}
#endif
