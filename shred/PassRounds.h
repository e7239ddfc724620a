#pragma once

// The rounds of a pass that every system's engine runs alike, on its own write, flush and length calls.

#include "shred/FillBlock.h"
#include "shred/OverwriteEngine.h"

#include <cstdint>
#include <string>

// The length a file reaches when its last block is written whole.
inline std::int64_t WholeBlocks(std::int64_t length)
{
    return (length + kBlockSize - 1) / kBlockSize * kBlockSize;
}

struct PassRounds
{
    Overwrite outcome = Overwrite::Done;
    std::string failure; // one line naming the file, the step and the reason; empty when done
};

// Writes whole blocks over the file's `length` bytes and flushes; when the disk has no room for the
// last block, still overwrites everything inside the original length, and when it has none to fill a
// hole inside the file, goes on after the hole, which held no old bytes. Then overwrites, up to
// kGrowthRounds times, what another program added meanwhile. `pass` offers writeUpTo(limit), flush(),
// position() and skipHole(limit), answering 0 or the system's error; `readLength(std::int64_t&)`
// reads the file's length now; `failureLine(step, error)` words a failure; `isOutOfRoom(error)` tells
// a full disk or a size limit from other errors.
template <typename Pass, typename ReadLength, typename FailureLine, typename IsOutOfRoom>
PassRounds RunPassRounds(Pass& pass,
                         std::int64_t length,
                         const std::string& shownPath,
                         ReadLength readLength,
                         FailureLine failureLine,
                         IsOutOfRoom isOutOfRoom)
{
    const auto failed = [](std::string line) { return PassRounds{Overwrite::Failed, std::move(line)}; };
    const auto writingAt = [&pass] { return "error writing at offset " + std::to_string(pass.position()); };

    decltype(pass.flush()) extensionError = 0;
    decltype(pass.flush()) holeError = 0;
    for (std::int64_t limit = WholeBlocks(length);;) {
        const auto error = pass.writeUpTo(limit);
        if (error == 0) {
            break;
        }
        if (!isOutOfRoom(error)) {
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
    const auto keptFor = holeError != 0 ? holeError : extensionError;
    if (const auto error = pass.flush(); error != 0) {
        return failed(failureLine("error flushing to disk", error));
    }

    // Another program may have written past the end meanwhile: that is part of the file too.
    for (int round = 0;; ++round) {
        std::int64_t now = 0;
        if (const auto error = readLength(now); error != 0) {
            return failed(failureLine("cannot read the file's length", error));
        }
        const std::int64_t added = now - pass.position();
        if (added <= 0) {
            break;
        }
        if (keptFor != 0 || round == kGrowthRounds) {
            return failed(shownPath + ": another program kept adding to the file while it was overwritten; the last " +
                          std::to_string(added) + " bytes were not overwritten, and the file was not deleted");
        }
        if (const auto error = pass.writeUpTo(WholeBlocks(now)); error != 0) {
            return failed(failureLine(writingAt(), error));
        }
        if (const auto error = pass.flush(); error != 0) {
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
