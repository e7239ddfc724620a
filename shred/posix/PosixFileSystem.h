#pragma once

// The file contract on Linux: a file is pinned by its folder's descriptor and its name there, and the
// pass is tuned with holes, writing past the page cache and writeback hints.

#include "shred/FileSystem.h"
#include "shred/WriteTuning.h"

class PosixFileSystem final : public FileSystem, public WriteTuning
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

    std::int64_t nextData(const OpenedFile& file, std::int64_t from) override;
    std::int64_t nextHole(const OpenedFile& file, std::int64_t from) override;
    std::optional<std::uint32_t> directAlignment(const OpenedFile& file) override;
    SystemError setDirect(OpenedFile& file, bool direct) override;
    bool preferDirect(std::int64_t bytes) override;
    void* mapHugeBuffer(std::size_t size) override;
    void unmapBuffer(void* buffer, std::size_t size) override;
    SystemError startWriteback(OpenedFile& file, std::int64_t offset, std::int64_t length) override;
    void settle(OpenedFile& file, std::int64_t offset, std::int64_t length) override;
};
