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

PassRounds RunPassRounds(Pass& pass, std::int64_t length, const std::string& shown, FileSystem& files, OpenedFile& file)
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
    // A write that fails for good ends the pass where it stands.
    const auto stoppedWriting = [&](SystemError error) {
        return failed(failureLine("error writing at offset " + std::to_string(pass.position()), error) +
                      (pass.position() == 0 ? "; nothing was written" : "; the rest of the file was not overwritten") +
                      ", and the file was not deleted");
    };
    // The pass's blocks reached the file; the flush would have taken them to the disk.
    const auto notFlushed = [&](SystemError error) {
        return failed(failureLine("error flushing to disk", error) +
                      "; the file was overwritten, but the new contents may not have reached the disk, and the file "
                      "was not deleted");
    };

    SystemError extensionError = 0;
    SystemError holeError = 0;
    // A bad block does not stop the pass, since shredding is often done on failing media: the blocks
    // of the call that failed are written one at a time, those that fail are passed over, and the rest
    // of the file is overwritten all the same.
    SystemError badBlockError = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> unwritten;
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
            if (!unwritten.empty() && unwritten.back().second == at) {
                unwritten.back().second = pass.position();
            } else {
                unwritten.emplace_back(at, pass.position());
            }
            badBlockError = error;
            continue;
        }
        if (!IsOutOfRoom(error)) {
            return stoppedWriting(error);
        }
        if (pass.position() < length && pass.skipHole(length)) {
            holeError = error;
        } else if (limit > length) {
            // No room to grow the file: what lies inside its original length must still be overwritten.
            extensionError = error;
            limit = length;
        } else {
            return stoppedWriting(error); // the disk is full inside the file
        }
    }
    const SystemError keptFor = holeError != 0 ? holeError : extensionError;
    const SystemError flushError = pass.flush();
    if (badBlockError != 0) {
        std::string ranges;
        std::int64_t passedOver = 0;
        for (const auto& [from, to] : unwritten) {
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
        return notFlushed(flushError);
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
        if (const SystemError error = pass.writeUpTo(WholeBlocks(now)); error != 0) {
            return stoppedWriting(error);
        }
        if (const SystemError error = pass.flush(); error != 0) {
            return notFlushed(error);
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
