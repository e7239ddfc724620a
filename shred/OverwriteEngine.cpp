// The run of the overwrite engine: measuring, refusing, opening, the pass, judging placement, deleting.

#include "shred/OverwriteEngine.h"

#include "shred/PassRounds.h"
#include "shred/PassWriter.h"
#include "shred/Refusals.h"
#include "shred/RunProgress.h"
#include "shred/WriteTuning.h"

#include <optional>

namespace {
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

// Whether the file lives in memory only. There is no disk to write past the page cache to, and its
// cached pages are the file itself: going past the cache would only add a copy, and dropping pages
// frees nothing.
bool isInMemory(const FileSystemType& type)
{
    return type.name == "tmpfs" || type.name == "ramfs";
}

// The alignment of direct writes to the file, or 0 when they cannot be used: a power of two of which
// kDirectChunk is a multiple.
std::int64_t directAlignment(const OpenedFile& file, WriteTuning& tuning)
{
    const std::optional<std::uint32_t> offered = tuning.directAlignment(file);
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

MeasuredFile IdentifyFile(const NativePath& path, FileSystem& files)
{
    FileFacts facts;
    const MeasuredFile found = pinPath(path, files, "cannot read the file's length", facts);
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

// Everything an overwrite holds between its writing and its flush.
struct StartedOverwrite::Writing
{
    Writing(MeasuredFile& measured, const FillBlock& block, RunProgress& progress, FileSystem& files)
        : measured(measured)
        , block(block)
        , progress(progress)
        , files(files)
        , shown(DisplayPath(measured.pinned.path))
    {
    }

    MeasuredFile& measured;
    const FillBlock& block;
    RunProgress& progress;
    FileSystem& files;
    const std::string shown;
    // The file as found through its pin before it was opened, whose mode is put back if it is kept.
    FileIdentity identity;
    // How the overwrite ended before its flush, if it did.
    std::optional<OverwriteResult> ended;

    OpenedFile file;
    FileFacts opened;
    FileSystemType type;
    std::optional<Pass> pass;
    std::optional<DirectBuffer> direct;
    std::optional<ExtentMap> extentsBefore;
    PassWriting firstRound;
};

StartedOverwrite::StartedOverwrite(std::unique_ptr<Writing> writing)
    : m_writing(std::move(writing))
{
}
StartedOverwrite::StartedOverwrite(StartedOverwrite&&) noexcept = default;
StartedOverwrite& StartedOverwrite::operator=(StartedOverwrite&&) noexcept = default;
StartedOverwrite::~StartedOverwrite() = default;

namespace {
// Checks the file once more, opens it and writes the first round; the result when it ended there.
std::optional<OverwriteResult> startWriting(StartedOverwrite::Writing& writing)
{
    const std::string& shown = writing.shown;
    FileSystem& files = writing.files;
    MeasuredFile& measured = writing.measured;
    writing.progress.showActivity("Shredding: " + shown);
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
    writing.identity = now.identity;
    SystemError notMadeWritable = 0;
    if (!now.ownerMayWrite) {
        notMadeWritable = files.makeWritable(measured.pinned, now.identity);
    }
    OpenedFile& file = writing.file;
    if (const SystemError error = files.open(pinned, file); error != 0) {
        return failedOverwrite(notMadeWritable != 0
                                   ? FailureLine(shown, "cannot make the file writable", notMadeWritable)
                                   : FailureLine(shown, "cannot open for writing", error));
    }

    // Everything from here on is about the file actually opened, which must be the one inspected.
    FileFacts& opened = writing.opened;
    if (const SystemError failed = files.describe(file, opened); failed != 0) {
        return failedOverwrite(FailureLine(shown, "cannot read the file's length", failed));
    }
    writing.type = files.fileSystemOf(file);
    const FileSystemType& type = writing.type;
    if (std::string refusal = refusalOf(shown, opened, type, now.identity); !refusal.empty()) {
        return failedOverwrite(std::move(refusal));
    }

    const std::int64_t length = opened.length;
    Pass& pass = writing.pass.emplace(file, writing.block, writing.progress, files, !isInMemory(type));
    std::optional<ExtentMap>& extentsBefore = writing.extentsBefore;
    extentsBefore = files.readExtents(file, false);
    if (extentsBefore && !EveryExtentLocated(*extentsBefore)) {
        // Data waiting for a place on the disk gets one when the file system chooses, perhaps only
        // after the overwrite and elsewhere: it is given its place now, so the map shows where the
        // old bytes lie before any is overwritten.
        if (const SystemError failed = pass.flush(); failed != 0) {
            return failedOverwrite(FailureLine(shown, "error flushing to disk", failed) +
                                   "; nothing was written, and the file was not deleted");
        }
        extentsBefore = files.readExtents(file, false);
    }
    // Large files go past the page cache where the system allows it: no copy of every byte through
    // memory, and the user's other cached files stay cached. Any refusal keeps the cache.
    WriteTuning* const tuning = files.tuning();
    if (tuning && !isInMemory(type) && tuning->preferDirect(WholeBlocks(length))) {
        if (const std::int64_t alignment = directAlignment(file, *tuning); alignment > 0) {
            std::optional<DirectBuffer>& direct = writing.direct;
            direct.emplace(writing.block, *tuning);
            if (direct->data() && tuning->setDirect(file, true) == 0) {
                pass.writeDirectly(*direct, alignment);
            }
        }
    }
    writing.firstRound = WriteFirstRound(pass, length, shown);
    return std::nullopt;
}

// The flush and what follows it, up to the file's close.
OverwriteResult finishWriting(StartedOverwrite::Writing& writing)
{
    FileSystem& files = writing.files;
    const PassRounds rounds = FinishPassRounds(*writing.pass, writing.firstRound, writing.shown, files, writing.file);
    if (rounds.outcome == Overwrite::Failed) {
        return failedOverwrite(rounds.failure);
    }
    // A file system that writes new data elsewhere may finish moving the file's extents to it only
    // after the flush has returned (btrfs): until then its map still shows the old places.
    const std::optional<ExtentMap> extentsAfter = files.readExtents(writing.file, WritesElsewhere(writing.type));
    if (const SystemError failed = files.finishWriting(writing.file, writing.measured.pinned); failed != 0) {
        return failedOverwrite(FailureLine(writing.shown, "error closing", failed));
    }

    OverwriteResult result;
    result.outcome = rounds.outcome;
    result.failure = rounds.failure;
    result.placement = placementOf(writing.opened, writing.extentsBefore, extentsAfter, writing.type);
    result.pinned = std::move(writing.measured.pinned);
    result.identity = writing.opened.identity;
    return result;
}
} // namespace

StartedOverwrite StartOverwrite(MeasuredFile& file, const FillBlock& block, RunProgress& progress, FileSystem& files)
{
    StartedOverwrite started(std::make_unique<StartedOverwrite::Writing>(file, block, progress, files));
    started.m_writing->ended = startWriting(*started.m_writing);
    return started;
}

OverwriteResult FinishOverwrite(StartedOverwrite& started)
{
    StartedOverwrite::Writing& writing = *started.m_writing;
    OverwriteResult result = writing.ended ? std::move(*writing.ended) : finishWriting(writing);
    // A file that is kept keeps the mode it had, however far its pass went; only one about to be
    // deleted stays writable, as some systems refuse to delete a read-only file.
    if (result.outcome == Overwrite::Failed) {
        writing.files.restoreWritability(writing.measured.pinned, writing.identity);
    } else if (result.outcome == Overwrite::NotExtended) {
        writing.files.restoreWritability(result.pinned, writing.identity);
    }
    started.m_writing.reset();
    return result;
}

OverwriteResult OverwriteFile(MeasuredFile& measured, const FillBlock& block, RunProgress& progress, FileSystem& files)
{
    StartedOverwrite started = StartOverwrite(measured, block, progress, files);
    return FinishOverwrite(started);
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
        files.restoreWritability(pinned, now.identity);
        return NotDeleted(shown, overwritten.placement, error);
    }
    if (flush == RemovalFlush::Now) {
        return NotFlushed(shown, files.flushRemovals({&pinned}).front());
    }
    return {};
}
