#pragma once

// An owned Windows handle.

#include <cstdint>

// Owns one open Windows handle and closes it when it goes. The handle is kept as the void pointer it
// is, so that this header does not pull <windows.h> into every file that includes the engine's.
class FileHandle
{
public:
    FileHandle() = default;
    explicit FileHandle(void* handle);
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    void* get() const
    {
        return m_handle;
    }
    explicit operator bool() const
    {
        return m_handle != nullptr;
    }

    // Closes now and returns 0 or the system's error code; after this the handle is gone either way.
    std::uint32_t close();

private:
    void* m_handle = nullptr; // never INVALID_HANDLE_VALUE: a failed open is kept as null
};
