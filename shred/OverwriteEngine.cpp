// The one overwrite engine: measuring, refusing, writing the pass, judging placement, deleting.

#include "shred/OverwriteEngine.h"

#include "shred/Refusals.h"
#include "shred/RunProgress.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace {
// The length a file reaches when its last block is written whole.
std::int64_t wholeBlocks(std::int64_t length)
{
    return (length + kBlockSize - 1) / kBlockSize * kBlockSize;
}

// Why the file may not be shredded, or an empty string. `expected`: the file it must be, if known.
std::string refusalOf(const std::string& shown,
                      const FileFacts& facts,
                      const FileSystemType& type,
                      const std::optional<FileIdentity>& expected)
{
    if (facts.notRegular) {
        return NotRegularFile(shown, facts.notRegular);
    }
    if (expected && !expected->sameFileAs(facts.identity)) {
        return ReplacedSinceChosen(shown);
    }
    if (facts.mountRoot) {
        return MountedAtItsName(shown);
    }
    if (type.kind == FileSystemKind::SystemInterface) {
        return SystemInterface(shown, type);
    }
    if (facts.links > 1) {
        return HasOtherNames(shown, facts.links);
    }
    return {};
}

// A file that may not be shredded: only its path stays, for the lines a run shows.
MeasuredFile refused(const NativePath& path, std::string failure)
{
    MeasuredFile measured;
    measured.pinned.path = path;
    measured.failure = std::move(failure);
    return measured;
}

// The path pinned, with what it names now. `step` names what failed when nothing can be found there.
MeasuredFile pinPath(const NativePath& path, FileSystem& files, const char* step, FileFacts& facts)
{
    if (std::string refusal = PathRefusal(path); !refusal.empty()) {
        return refused(path, std::move(refusal));
    }
    MeasuredFile measured;
    measured.pinned.path = path;
    if (const SystemError error = files.pin(path, measured.pinned, facts); error != 0) {
        return refused(
            path, IsMissing(error) ? NoLongerThere(DisplayPath(path)) : FailureLine(DisplayPath(path), step, error));
    }
    measured.length = facts.length;
    measured.identity = facts.identity;
    return measured;
}

// Writes the blocks [pos, limit) of the pass with as few calls as the page rule allows, every piece
// taken from the one fill block.
class BlockWriter
{
public:
    BlockWriter(OpenedFile& file, const FillBlock& block, FileSystem& files)
        : m_file(file)
        , m_files(files)
        , m_base(block.data())
    {
    }

    // One call from `pos`, ending at the next multiple of kBlocksPerWrite blocks or at `limit`.
    // Returns 0 or the error, with the bytes written in `written`.
    SystemError writeFrom(std::int64_t pos, std::int64_t limit, std::int64_t& written)
    {
        constexpr std::int64_t kCallSpan = std::int64_t{kBlocksPerWrite} * kBlockSize;
        const std::int64_t end = std::min(limit, (pos / kCallSpan + 1) * kCallSpan);
        int count = 0;
        for (std::int64_t at = pos; at < end; ++count) {
            const std::int64_t inBlock = at % kBlockSize;
            const std::int64_t length = std::min(kBlockSize - inBlock, end - at);
            m_pieces[count] = {m_base + inBlock, static_cast<std::size_t>(length)};
            at += length;
        }
        return writeWhole(m_files, m_file, m_pieces.data(), count, pos, written);
    }

    // One write call, tried again while the system interrupts it before it writes.
    static SystemError writeWhole(FileSystem& files,
                                  OpenedFile& file,
                                  const WritePiece* pieces,
                                  int count,
                                  std::int64_t pos,
                                  std::int64_t& written)
    {
        SystemError error = 0;
        do {
            written = 0;
            error = files.writeAt(file, pieces, count, pos, written);
        } while (IsInterrupted(error));
        return error;
    }

private:
    OpenedFile& m_file;
    FileSystem& m_files;
    const std::uint8_t* m_base;
    std::array<WritePiece, kBlocksPerWrite + 1> m_pieces{};
};

// The fill block 512 times over in one buffer of huge pages, for writing past the page cache: every
// direct write starts at a multiple of kDirectChunk, so the buffer's start is always a block's start,
// and one write is one request to the disk. Empty when huge pages cannot be had.
class DirectBuffer
{
public:
    DirectBuffer(const FillBlock& block, FileSystem& files)
        : m_files(files)
        , m_data(static_cast<std::uint8_t*>(files.mapHugeBuffer(kDirectChunk)))
    {
        for (std::int64_t at = 0; m_data && at < kDirectChunk; at += kBlockSize) {
            std::memcpy(m_data + at, block.data(), kBlockSize);
        }
    }
    ~DirectBuffer()
    {
        if (m_data) {
            m_files.unmapBuffer(m_data, kDirectChunk);
        }
    }
    DirectBuffer(const DirectBuffer&) = delete;
    DirectBuffer& operator=(const DirectBuffer&) = delete;

    std::uint8_t* data() const
    {
        return m_data;
    }

private:
    FileSystem& m_files;
    std::uint8_t* m_data;
};

// Pages written through the page cache are waited for and dropped a window at a time, keeping at
// most two windows cached: twelve chunks (about 29 MiB) keep the disk busy between two waits while
// two windows stay well below what a small machine caches.
constexpr std::int64_t kSettleWindow = 12 * kDirectChunk;

// One pass over an open file: writes blocks up to a limit, stepping the progress after every whole
// block, and flushes. Whole chunks go past the page cache while that is switched on; whatever is left
// (a tail shorter than the alignment, or everything once the direct path is refused) goes through it.
class Pass
{
public:
    // `onDisk`: whether written pages are worth dropping from the page cache once they are on the disk.
    Pass(OpenedFile& file, const FillBlock& block, RunProgress& progress, FileSystem& files, bool onDisk)
        : m_file(file)
        , m_writer(file, block, files)
        , m_progress(progress)
        , m_files(files)
        , m_onDisk(onDisk)
    {
    }

    // Writes past the page cache from `buffer`, with offsets and lengths multiples of `alignment`,
    // until the pass reaches a part that is not aligned. Writing past the cache is already on.
    void writeDirectly(const DirectBuffer& buffer, std::int64_t alignment)
    {
        m_direct = buffer.data();
        m_alignment = alignment;
    }

    // Writes from where the pass stands up to `limit`. Returns 0, or the error with position() at
    // the offset that failed.
    SystemError writeUpTo(std::int64_t limit)
    {
        while (m_pos < limit) {
            std::int64_t written = 0;
            SystemError error = 0;
            if (m_direct) {
                const std::int64_t end = std::min(m_pos + kDirectChunk, limit / m_alignment * m_alignment);
                if (m_pos % kDirectChunk != 0 || end <= m_pos) {
                    if (const SystemError failed = writeThroughTheCache(); failed != 0) {
                        return failed;
                    }
                    continue;
                }
                const WritePiece piece{m_direct, static_cast<std::size_t>(end - m_pos)};
                error = BlockWriter::writeWhole(m_files, m_file, &piece, 1, m_pos, written);
                if (error != 0 && (IsMisalignedWrite(error) || IsOutOfRoom(error))) {
                    // Refused for its alignment after all, or for want of room: a direct write is all
                    // or nothing, while the page cache writes as far as the room goes. The rest goes
                    // through the page cache.
                    if (const SystemError failed = writeThroughTheCache(); failed != 0) {
                        return failed;
                    }
                    continue;
                }
            } else {
                error = m_writer.writeFrom(m_pos, limit, written);
                if (error != 0 && IsOutOfRoom(error)) {
                    // A full disk may refuse a whole write for its part that needs new room (a hole,
                    // the end), when the page cache holds them in one large page: the data before
                    // that part is written on its own.
                    if (const std::int64_t hole = m_files.nextHole(m_file, m_pos); hole > m_pos && hole < limit) {
                        if (m_writer.writeFrom(m_pos, hole, written) == 0) {
                            error = 0;
                        }
                    }
                }
                if (error == 0) {
                    keepTheCacheSmall(written);
                }
            }
            if (error != 0) {
                return error;
            }
            advanceTo(m_pos + written);
        }
        return 0;
    }

    // Whether the pass stands in a hole of the file; if so, it moves on to the data after the hole,
    // or to `limit` when none follows.
    bool skipHole(std::int64_t limit)
    {
        const std::int64_t to = std::min(m_files.nextData(m_file, m_pos), limit);
        if (to <= m_pos) {
            return false;
        }
        advanceTo(to);
        return true;
    }

    SystemError flush()
    {
        const SystemError error = m_files.flush(m_file);
        return IsUnsupported(error) ? m_files.flushAll(m_file) : error;
    }

    std::int64_t position() const
    {
        return m_pos;
    }

    // Passes over the block the pass stands in, unwritten.
    void passOverBlock()
    {
        advanceTo((m_pos / kBlockSize + 1) * kBlockSize);
    }

private:
    void advanceTo(std::int64_t pos)
    {
        m_pos = pos;
        for (; (m_stepped + 1) * kBlockSize <= m_pos; ++m_stepped) {
            m_progress.StepProgress();
        }
    }

    // Returns 0 or the error of turning the direct path off, without which no unaligned write could
    // follow.
    SystemError writeThroughTheCache()
    {
        m_direct = nullptr;
        m_settled = m_pos;
        return m_files.setDirect(m_file, false);
    }

    void keepTheCacheSmall(std::int64_t written)
    {
        // Writing back while the next blocks are copied keeps the disk busy, so the final flush has
        // less left to wait for. Only hints: their failure changes nothing.
        m_files.startWriteback(m_file, m_pos, written);
        if (m_onDisk && m_pos + written - m_settled >= 2 * kSettleWindow) {
            m_files.settle(m_file, m_settled, kSettleWindow);
            m_settled += kSettleWindow;
        }
    }

    OpenedFile& m_file;
    BlockWriter m_writer;
    RunProgress& m_progress;
    FileSystem& m_files;
    std::int64_t m_pos = 0;
    std::int64_t m_stepped = 0;
    std::int64_t m_settled = 0;
    bool m_onDisk;
    std::uint8_t* m_direct = nullptr;
    std::int64_t m_alignment = 0;
};

struct PassRounds
{
    Overwrite outcome = Overwrite::Done;
    std::string failure; // one line naming the file, the step and the reason; empty when done
};

// Writes whole blocks over the file's `length` bytes and flushes; when the disk has no room for the
// last block, still overwrites everything inside the original length, and when it has none to fill a
// hole inside the file, goes on after the hole, which held no old bytes. Then overwrites, up to
// kGrowthRounds times, what another program added meanwhile.
PassRounds runPassRounds(Pass& pass, std::int64_t length, const std::string& shown, FileSystem& files, OpenedFile& file)
{
    const auto failureLine = [&shown](const std::string& step, SystemError error) {
        return FailureLine(shown, step, error);
    };
    const auto readLength = [&](std::int64_t& now) {
        FileFacts facts;
        const SystemError error = files.describe(file, facts);
        now = facts.length;
        return error;
    };
    const auto failed = [](std::string line) { return PassRounds{Overwrite::Failed, std::move(line)}; };
    const auto writingAt = [&pass] { return "error writing at offset " + std::to_string(pass.position()); };

    SystemError extensionError = 0;
    SystemError holeError = 0;
    // A bad block does not stop the pass, since shredding is often done on failing media: the blocks
    // of the call that failed are written one at a time, those that fail are passed over, and the rest
    // of the file is overwritten all the same.
    SystemError badBlockError = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> unwritten;
    std::int64_t singlyUntil = 0;
    for (std::int64_t limit = wholeBlocks(length);;) {
        const SystemError error = pass.writeUpTo(
            pass.position() < singlyUntil ? std::min(limit, pass.position() / kBlockSize * kBlockSize + kBlockSize)
                                          : limit);
        if (error == 0) {
            if (pass.position() >= limit) {
                break;
            }
            continue;
        }
        if (IsBadBlock(error)) {
            const std::int64_t at = pass.position();
            if (at >= singlyUntil) {
                singlyUntil = at + kDirectChunk; // this call's blocks, one at a time
                continue;
            }
            pass.passOverBlock();
            if (!unwritten.empty() && unwritten.back().second == at) {
                unwritten.back().second = pass.position();
            } else {
                unwritten.emplace_back(at, pass.position());
            }
            badBlockError = error;
            continue;
        }
        if (!IsOutOfRoom(error)) {
            return failed(failureLine(writingAt(), error));
        }
        if (pass.position() < length && pass.skipHole(length)) {
            holeError = error;
        } else if (limit > length) {
            // No room to grow the file: what lies inside its original length must still be overwritten.
            extensionError = error;
            limit = length;
        } else {
            return failed(failureLine(writingAt(), error));
        }
    }
    const SystemError keptFor = holeError != 0 ? holeError : extensionError;
    const SystemError flushError = pass.flush();
    if (badBlockError != 0) {
        std::string ranges;
        for (const auto& [from, to] : unwritten) {
            ranges += (ranges.empty() ? "" : ", ") + std::to_string(from) + " to " + std::to_string(to - 1);
        }
        // Blocks written through the page cache may fail only when flushed: then no more can be said
        // of the others.
        return failed(shown + ": error writing bytes " + ranges + ": " + ErrorText(badBlockError) +
                      (flushError != 0 ? "; flushing the other blocks to disk failed too: " + ErrorText(flushError) +
                                             "; the file was not deleted"
                                       : "; every other block was overwritten, and the file was not deleted"));
    }
    if (flushError != 0) {
        return failed(failureLine("error flushing to disk", flushError));
    }

    // Another program may have written past the end meanwhile: that is part of the file too.
    for (int round = 0;; ++round) {
        std::int64_t now = 0;
        if (const SystemError error = readLength(now); error != 0) {
            return failed(failureLine("cannot read the file's length", error));
        }
        const std::int64_t added = now - pass.position();
        if (added <= 0) {
            break;
        }
        if (keptFor != 0 || round == kGrowthRounds) {
            return failed(shown + ": another program kept adding to the file while it was overwritten; the last " +
                          std::to_string(added) + " bytes were not overwritten, and the file was not deleted");
        }
        if (const SystemError error = pass.writeUpTo(wholeBlocks(now)); error != 0) {
            return failed(failureLine(writingAt(), error));
        }
        if (const SystemError error = pass.flush(); error != 0) {
            return failed(failureLine("error flushing to disk", error));
        }
    }
    if (holeError != 0) {
        return {Overwrite::NotExtended,
                failureLine("contents overwritten, but a hole in the file could not be filled and the file was not "
                            "deleted",
                            holeError)};
    }
    if (extensionError != 0) {
        return {Overwrite::NotExtended,
                failureLine("contents overwritten, but the file could not be extended to a whole block and was not "
                            "deleted",
                            extensionError)};
    }
    return {};
}

// Whether the file lives in memory only. There is no disk to write past the page cache to, and its
// cached pages are the file itself: going past the cache would only add a copy, and dropping pages
// frees nothing.
bool isInMemory(const FileSystemType& type)
{
    return type.name == "tmpfs" || type.name == "ramfs";
}

// The alignment of direct writes to the file, or 0 when they cannot be used: a power of two of which
// kDirectChunk is a multiple.
std::int64_t directAlignment(const OpenedFile& file, FileSystem& files)
{
    const std::optional<std::uint32_t> offered = files.directAlignment(file);
    if (!offered) {
        return 0;
    }
    const std::int64_t alignment = *offered;
    const bool powerOfTwo = alignment > 0 && (alignment & (alignment - 1)) == 0;
    return powerOfTwo && kDirectChunk % alignment == 0 ? alignment : 0;
}

// Whether the pass landed where the old contents lay. What the file's attributes say of how it is
// stored comes first, since no block map shows it.
PlacementVerdict placementOf(const FileFacts& facts,
                             const std::optional<ExtentMap>& before,
                             const std::optional<ExtentMap>& after,
                             const FileSystemType& type)
{
    if (facts.compressed) {
        return {Placement::Encoded, type.name + " stores the file compressed, never rewritten in place"};
    }
    if (facts.encrypted) {
        return {Placement::Unconfirmed,
                type.name + " encrypts the file, and its encryption may keep earlier copies of the data elsewhere"};
    }
    return JudgePlacement(before, after, type);
}

OverwriteResult failedOverwrite(std::string line)
{
    OverwriteResult result;
    result.outcome = Overwrite::Failed;
    result.failure = std::move(line);
    return result;
}
} // namespace

MeasuredFile IdentifyFile(const NativePath& path)
{
    FileFacts facts;
    const MeasuredFile found = pinPath(path, FileSystem::system(), "cannot read the file's length", facts);
    if (found.ok() && facts.notRegular) {
        return refused(path, NotRegularFile(DisplayPath(path), facts.notRegular));
    }
    // Nothing is held: the file is only looked at.
    MeasuredFile identified = refused(path, found.failure);
    identified.length = found.length;
    identified.identity = found.identity;
    return identified;
}

MeasuredFile MeasureFile(const ChosenFile& file, FileSystem& files)
{
    if (!file.refusal.empty()) {
        return refused(file.path, file.refusal);
    }
    FileFacts facts;
    MeasuredFile measured = pinPath(file.path, files, "cannot read the file's length", facts);
    if (measured.ok()) {
        const FileSystemType type = files.fileSystemOf(measured.pinned);
        if (std::string refusal = refusalOf(DisplayPath(file.path), facts, type, file.identity); !refusal.empty()) {
            return refused(file.path, std::move(refusal));
        }
    }
    return measured;
}

OverwriteResult
OverwriteFile(const ChosenFile& chosen, const FillBlock& block, RunProgress& progress, FileSystem& files)
{
    FileFacts facts;
    MeasuredFile found = pinPath(chosen.path, files, "cannot read the file's attributes", facts);
    if (found.ok() && chosen.identity) {
        found.identity = *chosen.identity;
    }
    return OverwriteFile(found, block, progress, files);
}

OverwriteResult OverwriteFile(MeasuredFile& measured, const FillBlock& block, RunProgress& progress, FileSystem& files)
{
    const std::string shown = DisplayPath(measured.pinned.path);
    progress.showActivity("Shredding: " + shown);
    if (!measured.ok()) {
        return failedOverwrite(measured.failure);
    }
    const PinnedFile& pinned = measured.pinned;

    // What the pinned name names now must still be the measured file.
    FileFacts now;
    if (const SystemError error = files.describePinned(pinned, now); error != 0) {
        return failedOverwrite(IsMissing(error) ? NoLongerThere(shown)
                                                : FailureLine(shown, "cannot read the file's attributes", error));
    }
    if (std::string refusal = refusalOf(shown, now, files.fileSystemOf(pinned), measured.identity); !refusal.empty()) {
        return failedOverwrite(std::move(refusal));
    }
    // A file the owner may not write is made writable first. Where that is refused, the file may still
    // be open to writing by others than its owner; if it is not, the refusal is what the user is told.
    // A run that then ends before it writes a byte leaves the file as it found it.
    SystemError notMadeWritable = 0;
    if (!now.ownerMayWrite) {
        notMadeWritable = files.makeWritable(measured.pinned, now.identity);
    }
    const auto unwritten = [&](std::string failure) {
        files.restoreWritability(measured.pinned, now.identity);
        return failedOverwrite(std::move(failure));
    };
    OpenedFile file;
    if (const SystemError error = files.open(pinned, file); error != 0) {
        return unwritten(notMadeWritable != 0 ? FailureLine(shown, "cannot make the file writable", notMadeWritable)
                                              : FailureLine(shown, "cannot open for writing", error));
    }

    // Everything from here on is about the file actually opened, which must be the one inspected.
    FileFacts opened;
    if (const SystemError failed = files.describe(file, opened); failed != 0) {
        return unwritten(FailureLine(shown, "cannot read the file's length", failed));
    }
    const FileSystemType type = files.fileSystemOf(file);
    if (std::string refusal = refusalOf(shown, opened, type, now.identity); !refusal.empty()) {
        return unwritten(std::move(refusal));
    }

    const std::int64_t length = opened.length;
    Pass pass(file, block, progress, files, !isInMemory(type));
    std::optional<ExtentMap> extentsBefore = files.readExtents(file, false);
    if (extentsBefore && !EveryExtentLocated(*extentsBefore)) {
        // Data waiting for a place on the disk gets one when the file system chooses, perhaps only
        // after the overwrite and elsewhere: it is given its place now, so the map shows where the
        // old bytes lie before any is overwritten.
        if (const SystemError failed = pass.flush(); failed != 0) {
            return failedOverwrite(FailureLine(shown, "error flushing to disk", failed));
        }
        extentsBefore = files.readExtents(file, false);
    }
    // Large files go past the page cache where the system allows it: no copy of every byte through
    // memory, and the user's other cached files stay cached. Any refusal keeps the cache.
    std::optional<DirectBuffer> direct;
    if (!isInMemory(type) && files.preferDirect(wholeBlocks(length))) {
        if (const std::int64_t alignment = directAlignment(file, files); alignment > 0) {
            direct.emplace(block, files);
            if (direct->data() && files.setDirect(file, true) == 0) {
                pass.writeDirectly(*direct, alignment);
            }
        }
    }
    const PassRounds rounds = runPassRounds(pass, length, shown, files, file);
    if (rounds.outcome == Overwrite::Failed) {
        return failedOverwrite(rounds.failure);
    }
    // A file system that writes new data elsewhere may finish moving the file's extents to it only
    // after the flush has returned (btrfs): until then its map still shows the old places.
    const std::optional<ExtentMap> extentsAfter = files.readExtents(file, WritesElsewhere(type));
    if (const SystemError failed = files.finishWriting(file, measured.pinned); failed != 0) {
        return failedOverwrite(FailureLine(shown, "error closing", failed));
    }

    OverwriteResult result;
    result.outcome = rounds.outcome;
    result.failure = rounds.failure;
    result.placement = placementOf(opened, extentsBefore, extentsAfter, type);
    result.pinned = std::move(measured.pinned);
    result.identity = opened.identity;
    return result;
}

std::vector<std::string> FlushRemovals(const std::vector<OverwriteResult>& removed, FileSystem& files)
{
    std::vector<const PinnedFile*> pins;
    for (const OverwriteResult& file : removed) {
        pins.push_back(&file.pinned);
    }
    const std::vector<SystemError> errors = files.flushRemovals(pins);
    std::vector<std::string> failures;
    for (std::size_t i = 0; i < removed.size(); ++i) {
        failures.push_back(NotFlushed(DisplayPath(removed[i].pinned.path), errors[i]));
    }
    return failures;
}

std::string RemoveFile(OverwriteResult& overwritten, FileSystem& files, RemovalFlush flush)
{
    PinnedFile& pinned = overwritten.pinned;
    const std::string shown = DisplayPath(pinned.path);
    if (!pinned) {
        return NotOverwrittenSoNotRemoved(shown);
    }
    FileFacts now;
    if (const SystemError error = files.describePinned(pinned, now); error != 0) {
        return FailureLine(shown, "failed to remove", error);
    }
    if (!overwritten.identity.sameFileAs(now.identity)) {
        // An editor that saves by renaming a new file over the old one does this: the newcomer was
        // never overwritten, so it must not be deleted either.
        return shown + ": another file was put at this path during the run; it was left alone, neither "
                       "overwritten nor deleted";
    }
    if (const SystemError error = files.remove(pinned); error != 0) {
        return NotDeleted(shown, overwritten.placement, error);
    }
    if (flush == RemovalFlush::Now) {
        return NotFlushed(shown, files.flushRemovals({&pinned}).front());
    }
    return {};
}
