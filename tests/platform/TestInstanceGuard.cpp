// The single-copy guard on its own: exclusive, released when its holder lets go or is killed.
#include "app/InstanceGuard.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
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

// Another process holding the guard under `key` until it is killed.
class Holder
{
public:
    explicit Holder(const std::string& key)
    {
#ifdef _WIN32
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE write = nullptr;
        CreatePipe(&m_output, &write, &inherit, 0);
        SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(self) + L"\" --hold " + std::wstring(key.begin(), key.end());
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            m_process = process.hProcess;
            CloseHandle(process.hThread);
        }
        CloseHandle(write);
#else
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(pipeEnds[0]);
            InstanceGuard guard(key);
            const char answer = guard.acquire() ? '1' : '0';
            (void)!write(pipeEnds[1], &answer, 1);
            pause();
            _exit(0);
        }
        close(pipeEnds[1]);
        m_output = pipeEnds[0];
#endif
    }

    // Whether the other process said it took the guard.
    bool holding()
    {
        char answer = 0;
#ifdef _WIN32
        DWORD read = 0;
        return m_process && ReadFile(m_output, &answer, 1, &read, nullptr) && read == 1 && answer == '1';
#else
        return m_pid > 0 && read(m_output, &answer, 1) == 1 && answer == '1';
#endif
    }

    // Kills it without any clean-up of its own, and waits until it is gone.
    void kill()
    {
#ifdef _WIN32
        TerminateProcess(m_process, 9);
        WaitForSingleObject(m_process, INFINITE);
        CloseHandle(m_process);
        CloseHandle(m_output);
        m_process = nullptr;
#else
        ::kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        close(m_output);
        m_pid = -1;
#endif
    }

    ~Holder()
    {
#ifdef _WIN32
        if (m_process) {
            kill();
        }
#else
        if (m_pid > 0) {
            kill();
        }
#endif
    }

private:
#ifdef _WIN32
    HANDLE m_process = nullptr;
    HANDLE m_output = nullptr;
#else
    pid_t m_pid = -1;
    int m_output = -1;
#endif
};
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

TEST(InstanceGuard, HeldByAnotherProcessUntilItIsKilled)
{
    const std::string key = uniqueKey("killed");
    Holder holder(key);
    ASSERT_TRUE(holder.holding());
    EXPECT_FALSE(InstanceGuard(key).acquire());
    holder.kill();
    EXPECT_TRUE(InstanceGuard(key).acquire());
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--hold") == 0) {
        InstanceGuard guard(argv[2]);
        std::fputc(guard.acquire() ? '1' : '0', stdout);
        std::fflush(stdout);
        for (;;) {
#ifdef _WIN32
            Sleep(1000);
#else
            pause();
#endif
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
