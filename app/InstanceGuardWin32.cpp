// The single-copy guard on Windows: a named mutex of the user's, in the session's namespace.

#include "app/InstanceGuard.h"

// windows.h first: the other Windows headers build on it.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <memory>
#include <string>
#include <utility>

namespace {
// The SID of the user running this process, as text ("S-1-5-21-..."); empty when it cannot be read.
std::wstring userSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    auto buffer = std::make_unique<unsigned char[]>(size);
    std::wstring text;
    if (GetTokenInformation(token, TokenUser, buffer.get(), size, &size)) {
        wchar_t* sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
            text = sid;
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return text;
}

std::wstring widened(const std::string& text)
{
    std::wstring wide;
    for (const char c : text) {
        wide.push_back(static_cast<unsigned char>(c));
    }
    return wide;
}
} // namespace

std::string InstanceGuard::defaultKey()
{
    return "zorvik";
}

// What the guard holds on Windows: the named mutex, once it is created.
struct InstanceGuard::Held
{
    std::string key;
    void* mutex = nullptr;
};

std::string InstanceGuard::privateFolder()
{
    return {}; // the mutex lives in the session's namespace, not in a folder
}

InstanceGuard::InstanceGuard(std::string key)
    : m_held(std::make_unique<Held>(std::move(key)))
{
}

InstanceGuard::~InstanceGuard()
{
    if (m_held->mutex) {
        CloseHandle(m_held->mutex);
    }
}

bool InstanceGuard::acquire()
{
    if (m_held->mutex) {
        return true;
    }
    // Backslashes would name another namespace.
    std::wstring name = L"Local\\zorvik-" + userSid() + L"-" + widened(m_held->key);
    for (std::size_t i = 6; i < name.size(); ++i) {
        if (name[i] == L'\\') {
            name[i] = L'_';
        }
    }
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex) {
        // Another user's object under this name, or none can be made: run rather than refuse.
        return true;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    m_held->mutex = mutex;
    return true;
}
