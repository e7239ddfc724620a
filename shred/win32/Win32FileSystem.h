#pragma once

// The file contract on Windows: a file is pinned by a handle with no right but reading its attributes,
// and written, flushed and deleted through the handle it is opened with.

#include "shred/FileSystem.h"

class Win32FileSystem final : public FileSystem
{
public:
    PinCapacity pinCapacity(const std::vector<NativePath>& paths) override;
    SystemError pin(const NativePath& path, PinnedFile& pinned, FileFacts& facts) override;
    SystemError describePinned(const PinnedFile& pinned, FileFacts& facts) override;
    FileSystemType fileSystemOf(const PinnedFile& pinned) override;
    SystemError makeWritable(PinnedFile& pinned, const FileIdentity& expected) override;
    SystemError restoreWritability(PinnedFile& pinned, const FileIdentity& expected) override;
    SystemError open(const PinnedFile& pinned, OpenedFile& file) override;
    SystemError describe(const OpenedFile& file, FileFacts& facts) override;
    FileSystemType fileSystemOf(const OpenedFile& file) override;
    SystemError
    writeAt(OpenedFile& file, const WritePiece* pieces, int count, std::int64_t offset, std::int64_t& written) override;
    SystemError flush(OpenedFile& file) override;
    SystemError flushAll(OpenedFile& file) override;
    std::optional<ExtentMap> readExtents(const OpenedFile& file, bool settled) override;
    SystemError finishWriting(OpenedFile& file, PinnedFile& pinned) override;
    SystemError remove(PinnedFile& pinned) override;
    std::vector<SystemError> flushRemovals(const std::vector<const PinnedFile*>& removed) override;
    bool exists(const NativePath& path) override;
    WriteTuning* tuning() override;
};
