// The single-copy guard on Linux: a lock file in a private runtime folder, or an abstract socket.

#include "app/InstanceGuard.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {
// A real folder (not a link to one) owned by this user, which nobody else may enter or change.
bool isPrivateFolder(const std::string& path)
{
    struct stat status
    {
    };
    return !path.empty() && path.front() == '/' && lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == geteuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::string environmentFolder(const char* variable)
{
    const char* value = std::getenv(variable);
    return value ? std::string(value) : std::string();
}

bool sameFile(const struct stat& one, const struct stat& other)
{
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}
} // namespace

std::string InstanceGuard::defaultKey()
{
    return "zorvik";
}

std::string InstanceGuard::privateFolder()
{
    const std::string runtime = environmentFolder("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtime)) {
        return runtime;
    }
    // No session folder: one of the user's own in the temporary folder. Another user may have made a
    // folder of that name first; then it is not private and is not used.
    std::string temporary = environmentFolder("TMPDIR");
    if (temporary.empty() || temporary.front() != '/') {
        temporary = "/tmp";
    }
    const std::string own = temporary + "/zorvik-" + std::to_string(geteuid());
    mkdir(own.c_str(), 0700); // an existing folder is checked below like a new one
    // A folder of the user's own that a looser umask or an older copy left open is closed again;
    // one of another user's is never touched.
    struct stat status
    {
    };
    if (lstat(own.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
        (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        chmod(own.c_str(), 0700);
    }
    return isPrivateFolder(own) ? own : std::string();
}

// What the guard holds on Linux: the lock file's folder and the locked file, or without a private folder
// the socket and the thread that answers it.
struct InstanceGuard::Held
{
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held();

    // Holds an abstract socket named for the user, or finds this user's copy holding it. Returns what
    // acquire() does.
    bool holdSocket();
    // One of the names: held now by this copy, by another copy of this user's, or by someone else.
    enum class SocketName
    {
        Held,
        HeldByOwnCopy,
        HeldByStranger,
    };
    SocketName holdSocketNamed(const std::string& suffix);

    std::string fileName;
    int folder = -1;
    int lock = -1;
    int listening = -1;
    std::thread answering; // takes later copies' connections while the socket is held
};

InstanceGuard::Held::~Held()
{
    if (lock >= 0) {
        // Removed while still locked: a copy that opened the name meanwhile sees it gone once it gets
        // the lock, and tries again on a new file.
        unlinkat(folder, fileName.c_str(), 0);
        close(lock);
    }
    if (folder >= 0) {
        close(folder);
    }
    if (listening >= 0) {
        shutdown(listening, SHUT_RDWR); // ends the wait for the next copy
        if (answering.joinable()) {
            answering.join();
        }
        close(listening);
    }
}

InstanceGuard::InstanceGuard(std::string key)
    : m_held(std::make_unique<Held>())
{
    m_held->fileName = std::move(key) + ".lock";
    std::replace(m_held->fileName.begin(), m_held->fileName.end(), '/', '_');
}

InstanceGuard::~InstanceGuard() = default;

namespace {
// Later copies the holder's queue keeps until it takes them; it takes them at once.
constexpr int kWaitingCopies = 16;
// The socket names a copy tries in turn, when others hold the first ones.
constexpr int kSocketNames = 4;
// How long a later copy waits for room in the holder's queue before it stops counting the holder.
constexpr auto kHolderPatience = std::chrono::seconds(2);

// Connects without waiting on a holder whose queue is full: a holder that takes no connections, or
// another user's that lets them pile up, makes the copy wait a moment, never for good. Returns the
// connected socket, or -1.
int connectWithoutHanging(const sockaddr* named, socklen_t size)
{
    const auto deadline = std::chrono::steady_clock::now() + kHolderPatience;
    for (;;) {
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (probe < 0) {
            return -1;
        }
        if (connect(probe, named, size) == 0) {
            return probe;
        }
        const int error = errno;
        close(probe);
        if (error != EAGAIN || std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
} // namespace

bool InstanceGuard::Held::holdSocket()
{
    // No private folder: an abstract socket named for the user and the key, which the kernel frees
    // with the process. Anyone may take a name first; only a holder of this user's own counts, and a
    // name another user holds sends the user's copies, all alike, on to the next.
    for (int name = 0; name < kSocketNames; ++name) {
        switch (holdSocketNamed(name == 0 ? std::string() : "-" + std::to_string(name))) {
        case SocketName::Held:
            return true;
        case SocketName::HeldByOwnCopy:
            return false;
        case SocketName::HeldByStranger:
            break;
        }
    }
    return true; // every name taken by others: nobody else can keep this copy from starting
}

InstanceGuard::Held::SocketName InstanceGuard::Held::holdSocketNamed(const std::string& suffix)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "zorvik-" + std::to_string(geteuid()) + "-" + fileName + suffix;
    const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length); // a leading zero byte: the abstract namespace
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    const auto* named = reinterpret_cast<const sockaddr*>(&address);

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return SocketName::Held; // no socket at all: nothing to guard with
    }
    if (bind(fd, named, size) == 0 && listen(fd, kWaitingCopies) == 0) {
        listening = fd;
        // Every later copy is let in and let go at once: it has learnt who holds the name by then,
        // and its connection leaves the queue free for the next.
        answering = std::thread([fd] {
            for (;;) {
                const int later = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (later >= 0) {
                    close(later);
                } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                } else if (errno != EINTR && errno != ECONNABORTED) {
                    return; // the socket was shut down: the guard is going
                }
            }
        });
        return SocketName::Held;
    }
    close(fd);
    const int probe = connectWithoutHanging(named, size);
    ucred holder{};
    socklen_t holderSize = sizeof holder;
    const bool ownCopy =
        probe >= 0 && getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &holder, &holderSize) == 0 && holder.uid == geteuid();
    if (probe >= 0) {
        close(probe);
    }
    // Another user's holder, or one that lets no one in, cannot keep this copy from starting.
    return ownCopy ? SocketName::HeldByOwnCopy : SocketName::HeldByStranger;
}

bool InstanceGuard::acquire()
{
    if (m_held->lock >= 0 || m_held->listening >= 0) {
        return true;
    }
    if (m_held->folder < 0) {
        const std::string folder = privateFolder();
        m_held->folder = folder.empty() ? -1 : open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (m_held->folder < 0) {
            return m_held->holdSocket();
        }
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd =
            openat(m_held->folder, m_held->fileName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            return true;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            close(fd);
            return error != EWOULDBLOCK;
        }
        // The lock counts only while the name still names the locked file: the copy that held it
        // before may have removed it between our open and our lock.
        struct stat locked
        {
        };
        struct stat named
        {
        };
        if (fstat(fd, &locked) == 0 &&
            fstatat(m_held->folder, m_held->fileName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(locked, named)) {
            m_held->lock = fd;
            return true;
        }
        close(fd);
    }
    return true;
}
