// The rounds of a pass: what is written, what is passed over, and when the pass has failed.

#include "shred/PassRounds.h"

#include "shred/OverwriteEngine.h"
#include "shred/PassWriter.h"
#include "shred/Refusals.h"

#include <utility>
#include <vector>

std::int64_t WholeBlocks(std::int64_t length)
{
    return (length + kBlockSize - 1) / kBlockSize * kBlockSize;
}

namespace {
PassRounds failed(std::string line)
{
    return {Overwrite::Failed, std::move(line)};
}

// A write that fails for good ends the pass where it stands.
PassRounds stoppedWriting(const Pass& pass, const std::string& shown, SystemError error)
{
    return failed(FailureLine(shown, "error writing at offset " + std::to_string(pass.position()), error) +
                  (pass.position() == 0 ? "; nothing was written" : "; the rest of the file was not overwritten") +
                  ", and the file was not deleted");
}

// The pass's blocks reached the file; the flush would have taken them to the disk.
PassRounds notFlushed(const std::string& shown, SystemError error)
{
    return failed(FailureLine(shown, "error flushing to disk", error) +
                  "; the file was overwritten, but the new contents may not have reached the disk, and the file "
                  "was not deleted");
}
} // namespace

PassRounds RunPassRounds(Pass& pass, std::int64_t length, const std::string& shown, FileSystem& files, OpenedFile& file)
{
    return FinishPassRounds(pass, WriteFirstRound(pass, length, shown), shown, files, file);
}

PassWriting WriteFirstRound(Pass& pass, std::int64_t length, const std::string& shown)
{
    PassWriting writing;
    // A bad block does not stop the pass, since shredding is often done on failing media: the blocks
    // of the call that failed are written one at a time, those that fail are passed over, and the rest
    // of the file is overwritten all the same.
    std::int64_t singlyUntil = 0;
    for (std::int64_t limit = WholeBlocks(length);;) {
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
            auto& unwritten = writing.unwritten;
            if (!unwritten.empty() && unwritten.back().second == at) {
                unwritten.back().second = pass.position();
            } else {
                unwritten.emplace_back(at, pass.position());
            }
            writing.badBlockError = error;
            continue;
        }
        if (!IsOutOfRoom(error)) {
            writing.stopped = stoppedWriting(pass, shown, error);
            return writing;
        }
        if (pass.position() < length && pass.skipHole(length)) {
            writing.holeError = error;
        } else if (limit > length) {
            // No room to grow the file: what lies inside its original length must still be overwritten.
            writing.extensionError = error;
            limit = length;
        } else {
            writing.stopped = stoppedWriting(pass, shown, error); // the disk is full inside the file
            return writing;
        }
    }
    return writing;
}

PassRounds
FinishPassRounds(Pass& pass, const PassWriting& writing, const std::string& shown, FileSystem& files, OpenedFile& file)
{
    if (writing.stopped) {
        return *writing.stopped;
    }
    const SystemError keptFor = writing.holeError != 0 ? writing.holeError : writing.extensionError;
    const SystemError flushError = pass.flush();
    if (const SystemError badBlockError = writing.badBlockError; badBlockError != 0) {
        std::string ranges;
        std::int64_t passedOver = 0;
        for (const auto& [from, to] : writing.unwritten) {
            ranges += (ranges.empty() ? "" : ", ") + std::to_string(from) + " to " + std::to_string(to - 1);
            passedOver += to - from;
        }
        const bool noneWritten = passedOver >= pass.position();
        // Blocks written through the page cache may fail only when flushed: then no more can be said
        // of the others.
        return failed(shown + ": error writing bytes " + ranges + ": " + ErrorText(badBlockError) +
                      (flushError != 0 ? "; flushing the other blocks to disk failed too: " + ErrorText(flushError) +
                                             "; the file was not deleted"
                       : noneWritten ? "; no block could be written, so nothing was written, and the file "
                                       "was not deleted"
                                     : "; every other block was overwritten, and the file was not deleted"));
    }
    if (flushError != 0) {
        return notFlushed(shown, flushError);
    }

    // Another program may have written past the end meanwhile: that is part of the file too.
    for (int round = 0;; ++round) {
        FileFacts facts;
        if (const SystemError error = files.describe(file, facts); error != 0) {
            return failed(FailureLine(shown, "cannot read the file's length", error));
        }
        const std::int64_t now = facts.length;
        const std::int64_t added = now - pass.position();
        if (added <= 0) {
            break;
        }
        if (keptFor != 0 || round == kGrowthRounds) {
            return failed(shown + ": another program kept adding to the file while it was overwritten; the last " +
                          std::to_string(added) + " bytes were not overwritten, and the file was not deleted");
        }
        if (const SystemError error = pass.writeUpTo(WholeBlocks(now)); error != 0) {
            return stoppedWriting(pass, shown, error);
        }
        if (const SystemError error = pass.flush(); error != 0) {
            return notFlushed(shown, error);
        }
    }
    if (writing.holeError != 0) {
        return {Overwrite::NotExtended,
                FailureLine(shown,
                            "contents overwritten, but a hole in the file could not be filled and the file was not "
                            "deleted",
                            writing.holeError)};
    }
    if (writing.extensionError != 0) {
        return {Overwrite::NotExtended,
                FailureLine(shown,
                            "contents overwritten, but the file could not be extended to a whole block and was not "
                            "deleted",
                            writing.extensionError)};
    }
    return {};
}
