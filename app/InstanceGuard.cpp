#include "app/InstanceGuard.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

std::string InstanceGuard::defaultKey()
{
    return "zorvik-instance-" + std::to_string(getuid());
}

InstanceGuard::InstanceGuard(std::string key)
    : m_key(std::move(key))
{
}

InstanceGuard::~InstanceGuard()
{
    if (m_socket >= 0) {
        close(m_socket);
    }
}

bool InstanceGuard::acquire()
{
    if (m_socket >= 0) {
        return true;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        // Without a socket there is no way to tell; let this copy run rather than refuse to start.
        return true;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A leading NUL byte puts the name in the abstract namespace.
    const std::size_t length = std::min(m_key.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, m_key.data(), length);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
        m_socket = fd;
        return true;
    }
    const int error = errno;
    close(fd);
    return error != EADDRINUSE;
}
