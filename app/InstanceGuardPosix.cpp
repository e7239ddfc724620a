#include "app/InstanceGuard.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

InstanceGuard::InstanceGuard(std::string key)
    : m_fileName(std::move(key) + ".lock")
{
    std::replace(m_fileName.begin(), m_fileName.end(), '/', '_');
}

InstanceGuard::~InstanceGuard()
{
    if (m_lock >= 0) {
        // Removed while still locked: a copy that opened the name meanwhile sees it gone once it gets
        // the lock, and tries again on a new file.
        unlinkat(m_folder, m_fileName.c_str(), 0);
        close(m_lock);
    }
    if (m_folder >= 0) {
        close(m_folder);
    }
}

bool InstanceGuard::acquire()
{
    if (m_lock >= 0) {
        return true;
    }
    if (m_folder < 0) {
        const std::string folder = privateFolder();
        m_folder = folder.empty() ? -1 : open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (m_folder < 0) {
            return true; // nowhere private to tell from: run rather than refuse to start
        }
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = openat(m_folder, m_fileName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
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
        if (fstat(fd, &locked) == 0 && fstatat(m_folder, m_fileName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(locked, named)) {
            m_lock = fd;
            return true;
        }
        close(fd);
    }
    return true;
}
