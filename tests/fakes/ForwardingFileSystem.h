#pragma once

// A file system that hands every call to another one: the base of stand-ins that change a few calls
// of a real implementation and leave the rest to it.

#include "shred/FileSystem.h"
#include "shred/WriteTuning.h"

class ForwardingFileSystem : public FileSystem, public WriteTuning
{
public:
    explicit ForwardingFileSystem(FileSystem& real)
        : m_real(real)
        , m_realTuning(real.tuning())
    {
    }

    PinCapacity pinCapacity(const std::vector<NativePath>& paths) override
    {
        return m_real.pinCapacity(paths);
    }
    SystemError pin(const NativePath& path, PinnedFile& pinned, FileFacts& facts) override
    {
        return m_real.pin(path, pinned, facts);
    }
    SystemError describePinned(const PinnedFile& pinned, FileFacts& facts) override
    {
        return m_real.describePinned(pinned, facts);
    }
    FileSystemType fileSystemOf(const PinnedFile& pinned) override
    {
        return m_real.fileSystemOf(pinned);
    }
    SystemError makeWritable(PinnedFile& pinned, const FileIdentity& expected) override
    {
        return m_real.makeWritable(pinned, expected);
    }
    SystemError restoreWritability(PinnedFile& pinned, const FileIdentity& expected) override
    {
        return m_real.restoreWritability(pinned, expected);
    }
    SystemError open(const PinnedFile& pinned, OpenedFile& file) override
    {
        return m_real.open(pinned, file);
    }
    SystemError describe(const OpenedFile& file, FileFacts& facts) override
    {
        return m_real.describe(file, facts);
    }
    FileSystemType fileSystemOf(const OpenedFile& file) override
    {
        return m_real.fileSystemOf(file);
    }
    SystemError
    writeAt(OpenedFile& file, const WritePiece* pieces, int count, std::int64_t offset, std::int64_t& written) override
    {
        return m_real.writeAt(file, pieces, count, offset, written);
    }
    SystemError flush(OpenedFile& file) override
    {
        return m_real.flush(file);
    }
    SystemError flushAll(OpenedFile& file) override
    {
        return m_real.flushAll(file);
    }
    std::optional<ExtentMap> readExtents(const OpenedFile& file, bool settled) override
    {
        return m_real.readExtents(file, settled);
    }
    SystemError finishWriting(OpenedFile& file, PinnedFile& pinned) override
    {
        return m_real.finishWriting(file, pinned);
    }
    SystemError remove(PinnedFile& pinned) override
    {
        return m_real.remove(pinned);
    }
    std::vector<SystemError> flushRemovals(const std::vector<const PinnedFile*>& removed) override
    {
        return m_real.flushRemovals(removed);
    }
    bool exists(const NativePath& path) override
    {
        return m_real.exists(path);
    }
    // Offered where the real implementation offers it.
    WriteTuning* tuning() override
    {
        return m_realTuning ? this : nullptr;
    }

    std::int64_t nextData(const OpenedFile& file, std::int64_t from) override
    {
        return m_realTuning->nextData(file, from);
    }
    std::int64_t nextHole(const OpenedFile& file, std::int64_t from) override
    {
        return m_realTuning->nextHole(file, from);
    }
    std::optional<std::uint32_t> directAlignment(const OpenedFile& file) override
    {
        return m_realTuning->directAlignment(file);
    }
    SystemError setDirect(OpenedFile& file, bool direct) override
    {
        return m_realTuning->setDirect(file, direct);
    }
    bool preferDirect(std::int64_t bytes) override
    {
        return m_realTuning->preferDirect(bytes);
    }
    void* mapHugeBuffer(std::size_t size) override
    {
        return m_realTuning->mapHugeBuffer(size);
    }
    void unmapBuffer(void* buffer, std::size_t size) override
    {
        m_realTuning->unmapBuffer(buffer, size);
    }
    SystemError startWriteback(OpenedFile& file, std::int64_t offset, std::int64_t length) override
    {
        return m_realTuning->startWriteback(file, offset, length);
    }
    void settle(OpenedFile& file, std::int64_t offset, std::int64_t length) override
    {
        m_realTuning->settle(file, offset, length);
    }

protected:
    // Whether the real implementation offers the write tuning.
    bool realTuning() const
    {
        return m_realTuning != nullptr;
    }

private:
    FileSystem& m_real;
    WriteTuning* m_realTuning;
};
