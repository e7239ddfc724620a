#pragma once

// An owned POSIX file descriptor.

#include <cerrno>
#include <unistd.h>

// Owns one open file descriptor and closes it when it goes.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    FileDescriptor(FileDescriptor&& other) noexcept
        : m_fd(other.m_fd)
    {
        other.m_fd = -1;
    }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            reset(other.m_fd);
            other.m_fd = -1;
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    int get() const
    {
        return m_fd;
    }

    void reset(int fd)
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

    // Closes now and reports the result; after this the descriptor is gone either way.
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        // On Linux the descriptor is released even when close is interrupted.
        return result != 0 && errno == EINTR ? 0 : result;
    }

private:
    int m_fd;
};
