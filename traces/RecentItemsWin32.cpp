// Windows' Recent Items, read through the shell's own shortcut object.

#include "shred/OverwriteEngine.h"
#include "shred/RunProgress.h"
#include "traces/RecentItems.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

namespace {
// COM for the calling thread while it lives; a thread where it was already started keeps it.
class ComScope
{
public:
    ComScope()
        : m_started(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    {
    }
    ~ComScope()
    {
        if (m_started) {
            ::CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool m_started;
};

template <typename Interface> struct Release
{
    void operator()(Interface* object) const
    {
        object->Release();
    }
};
template <typename Interface> using ComPointer = std::unique_ptr<Interface, Release<Interface>>;

// A path as the file system compares it: with the system's separators and without regard to case.
bool samePath(NativePath one, NativePath other)
{
    std::replace(one.begin(), one.end(), L'/', L'\\');
    std::replace(other.begin(), other.end(), L'/', L'\\');
    return ::CompareStringOrdinal(
               one.data(), static_cast<int>(one.size()), other.data(), static_cast<int>(other.size()), TRUE) ==
           CSTR_EQUAL;
}

// Whether the file at `path` is owned by the user this program runs as.
bool ownedByUser(const NativePath& path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(
            path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool own = false;
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<std::uint8_t> user(size);
        if (size > 0 && ::GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
            own = ::EqualSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, owner);
        }
        ::CloseHandle(token);
    }
    ::LocalFree(descriptor);
    return own;
}

// Destroys one shortcut as its file was; the engine refuses a link, a folder or a file with other
// names at its path.
std::string shredShortcut(const NativePath& path, const FillBlock& block, FileSystem& files)
{
    if (!ownedByUser(path)) {
        return DisplayPath(path) + ": not a file of your own; it was not touched";
    }
    const MeasuredFile found = IdentifyFile(path, files);
    if (!found.ok()) {
        return found.failure;
    }
    RunProgress unseen;
    OverwriteResult overwrite = OverwriteFile(ChosenFile(path, found.identity), block, unseen, files);
    return overwrite.ok() ? RemoveFile(overwrite, files) : overwrite.failure;
}

// The local path the shortcut at `path` points at, as the shell reads it; none when the file is no
// shortcut or points at no local file. COM must be started on the calling thread.
std::optional<NativePath> shortcutTarget(const NativePath& path)
{
    IShellLinkW* made = nullptr;
    if (FAILED(::CoCreateInstance(
            CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&made)))) {
        return std::nullopt;
    }
    const ComPointer<IShellLinkW> link(made);
    IPersistFile* persisted = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persisted)))) {
        return std::nullopt;
    }
    const ComPointer<IPersistFile> file(persisted);
    wchar_t target[MAX_PATH] = {};
    // The path as stored, not resolved: the file it names is gone.
    if (FAILED(file->Load(path.c_str(), STGM_READ)) || link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH) != S_OK ||
        target[0] == L'\0') {
        return std::nullopt;
    }
    return NativePath(target);
}
} // namespace

std::vector<std::string> DestroyRecentShortcuts(const NativePath& folder,
                                                const std::vector<NativePath>& deleted,
                                                const FillBlock& block,
                                                FileSystem& files)
{
    const ComScope com; // once for the whole folder
    std::vector<std::string> lines;
    std::error_code error; // an unreadable folder, or one that changes while it is read, ends the search
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const NativePath path = entry->path().native();
        if (!samePath(entry->path().extension().native(), L".lnk")) {
            continue;
        }
        const std::optional<NativePath> target = shortcutTarget(path);
        const auto named = [&](const NativePath& file) { return target && samePath(*target, file); };
        if (std::any_of(deleted.begin(), deleted.end(), named)) {
            if (std::string line = shredShortcut(path, block, files); !line.empty()) {
                lines.push_back(std::move(line));
            }
        }
    }
    return lines;
}

NativePath RecentItemsFolder()
{
    wchar_t* found = nullptr;
    NativePath folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Recent, 0, nullptr, &found))) {
        folder = found;
    }
    ::CoTaskMemFree(found);
    return folder;
}
