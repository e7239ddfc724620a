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
#endif
