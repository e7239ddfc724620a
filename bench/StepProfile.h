#pragma once

// Where a run's time goes, step by step: a file system and desktop traces that hand every call to the
// real ones and add up the seconds each step took.

#include "bench/BenchFiles.h"
#include "shred/DesktopTraces.h"
#include "tests/fakes/ForwardingFileSystem.h"

#include <array>
#include <cstdio>
#include <string>

namespace bench {

enum class Step
{
    Checks,      // pins, identities, modes, opening
    BlockMap,    // the block map, read before and after
    Write,       // the pass
    Flush,       // the file's own flush, and waiting for its pages to settle
    Close,       // closing the file
    Removal,     // the name's removal
    FolderFlush, // the folders' flush after the removals
    Traces,      // what the desktop keeps of the files
    Count
};

class StepProfile
{
public:
    // Only the timed part of a run counts: not the files' intake before it.
    void count(bool on)
    {
        m_counting = on;
    }
    void add(Step step, double seconds)
    {
        if (m_counting) {
            m_seconds[static_cast<std::size_t>(step)] += seconds;
        }
    }

    // A table of the seconds per run of each step, and of the rest of `total` (the window, the progress
    // and the engine's own work).
    void print(double total, int runs) const
    {
        static const char* const kNames[] = {"pin and identity checks",
                                             "block map, before and after",
                                             "write",
                                             "flush",
                                             "close",
                                             "removal",
                                             "folder flush",
                                             "traces"};
        double steps = 0;
        std::printf("%-30s %10s %7s\n", "step", "s per run", "share");
        for (std::size_t step = 0; step < m_seconds.size(); ++step) {
            steps += m_seconds[step];
            std::printf("%-30s %10.4f %6.1f%%\n", kNames[step], m_seconds[step] / runs, 100 * m_seconds[step] / total);
        }
        std::printf("%-30s %10.4f %6.1f%%\n", "the rest", (total - steps) / runs, 100 * (total - steps) / total);
        std::printf("%-30s %10.4f\n", "total", total / runs);
    }

private:
    std::array<double, static_cast<std::size_t>(Step::Count)> m_seconds{};
    bool m_counting = false;
};

// Adds the time of each call to its step.
class ProfiledFileSystem : public ForwardingFileSystem
{
    // Declared before its callers, which take its return type from it.
    template <typename Call> auto timed(Step step, Call call)
    {
        const double start = now();
        auto result = call();
        m_profile.add(step, now() - start);
        return result;
    }

public:
    ProfiledFileSystem(FileSystem& real, StepProfile& profile)
        : ForwardingFileSystem(real)
        , m_profile(profile)
    {
    }

    PinCapacity pinCapacity(const std::vector<NativePath>& paths) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::pinCapacity(paths); });
    }
    SystemError pin(const NativePath& path, PinnedFile& pinned, FileFacts& facts) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::pin(path, pinned, facts); });
    }
    SystemError describePinned(const PinnedFile& pinned, FileFacts& facts) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::describePinned(pinned, facts); });
    }
    FileSystemType fileSystemOf(const PinnedFile& pinned) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::fileSystemOf(pinned); });
    }
    SystemError makeWritable(PinnedFile& pinned, const FileIdentity& expected) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::makeWritable(pinned, expected); });
    }
    SystemError restoreWritability(PinnedFile& pinned, const FileIdentity& expected) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::restoreWritability(pinned, expected); });
    }
    SystemError open(const PinnedFile& pinned, OpenedFile& file) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::open(pinned, file); });
    }
    SystemError describe(const OpenedFile& file, FileFacts& facts) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::describe(file, facts); });
    }
    FileSystemType fileSystemOf(const OpenedFile& file) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::fileSystemOf(file); });
    }
    SystemError
    writeAt(OpenedFile& file, const WritePiece* pieces, int count, std::int64_t offset, std::int64_t& written) override
    {
        return timed(Step::Write, [&] { return ForwardingFileSystem::writeAt(file, pieces, count, offset, written); });
    }
    SystemError flush(OpenedFile& file) override
    {
        return timed(Step::Flush, [&] { return ForwardingFileSystem::flush(file); });
    }
    SystemError flushAll(OpenedFile& file) override
    {
        return timed(Step::Flush, [&] { return ForwardingFileSystem::flushAll(file); });
    }
    std::optional<ExtentMap> readExtents(const OpenedFile& file, bool settled) override
    {
        return timed(Step::BlockMap, [&] { return ForwardingFileSystem::readExtents(file, settled); });
    }
    SystemError finishWriting(OpenedFile& file, PinnedFile& pinned) override
    {
        return timed(Step::Close, [&] { return ForwardingFileSystem::finishWriting(file, pinned); });
    }
    SystemError remove(PinnedFile& pinned) override
    {
        return timed(Step::Removal, [&] { return ForwardingFileSystem::remove(pinned); });
    }
    std::vector<SystemError> flushRemovals(const std::vector<const PinnedFile*>& removed) override
    {
        return timed(Step::FolderFlush, [&] { return ForwardingFileSystem::flushRemovals(removed); });
    }
    bool exists(const NativePath& path) override
    {
        return timed(Step::Checks, [&] { return ForwardingFileSystem::exists(path); });
    }
    std::int64_t nextData(const OpenedFile& file, std::int64_t from) override
    {
        return timed(Step::Write, [&] { return ForwardingFileSystem::nextData(file, from); });
    }
    std::int64_t nextHole(const OpenedFile& file, std::int64_t from) override
    {
        return timed(Step::Write, [&] { return ForwardingFileSystem::nextHole(file, from); });
    }
    SystemError setDirect(OpenedFile& file, bool direct) override
    {
        return timed(Step::Write, [&] { return ForwardingFileSystem::setDirect(file, direct); });
    }
    SystemError startWriteback(OpenedFile& file, std::int64_t offset, std::int64_t length) override
    {
        return timed(Step::Write, [&] { return ForwardingFileSystem::startWriteback(file, offset, length); });
    }
    void settle(OpenedFile& file, std::int64_t offset, std::int64_t length) override
    {
        timed(Step::Flush, [&] {
            ForwardingFileSystem::settle(file, offset, length);
            return 0;
        });
    }

private:
    StepProfile& m_profile;
};

// Adds the time of the traces' destruction to its step, their own files' writes and flushes included
// (through the real file system, so that they are not counted twice).
class ProfiledTraces : public DesktopTraces
{
public:
    ProfiledTraces(DesktopTraces& real, FileSystem& realFiles, StepProfile& profile)
        : m_real(real)
        , m_realFiles(realFiles)
        , m_profile(profile)
    {
    }

    std::vector<std::string>
    destroy(const std::vector<DeletedFile>& deleted, const FillBlock& block, FileSystem&) override
    {
        const double start = now();
        std::vector<std::string> lines = m_real.destroy(deleted, block, m_realFiles);
        m_profile.add(Step::Traces, now() - start);
        return lines;
    }

private:
    DesktopTraces& m_real;
    FileSystem& m_realFiles;
    StepProfile& m_profile;
};

} // namespace bench
