#pragma once

// The rounds of a pass: the whole file to its last whole block, then what another program added
// meanwhile; bad blocks passed over and named, and a full disk met where the file needs new room.

#include "shred/FileSystem.h"
#include "shred/OverwriteEngine.h" // Overwrite

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Pass;

struct PassRounds
{
    Overwrite outcome = Overwrite::Done;
    std::string failure; // one line naming the file, the step and the reason; empty when done
};

// What the writing of a pass leaves for its flush to tell: the room the disk refused and the blocks
// passed over, or the failure that stopped it.
struct PassWriting
{
    std::optional<PassRounds> stopped;
    SystemError extensionError = 0;
    SystemError holeError = 0;
    SystemError badBlockError = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> unwritten; // [from, to) of the blocks passed over
};

// The length a file reaches when its last block is written whole.
std::int64_t WholeBlocks(std::int64_t length);

// Writes whole blocks over the file's `length` bytes and flushes; when the disk has no room for the
// last block, still overwrites everything inside the original length, and when it has none to fill a
// hole inside the file, goes on after the hole, which held no old bytes. Then overwrites, up to
// kGrowthRounds times, what another program added meanwhile. `shown`: the file as the lines name it.
PassRounds
RunPassRounds(Pass& pass, std::int64_t length, const std::string& shown, FileSystem& files, OpenedFile& file);

// The same in two halves, so that several files can be written before any of them is flushed: the
// first round's writing, then its flush and everything after it.
PassWriting WriteFirstRound(Pass& pass, std::int64_t length, const std::string& shown);
PassRounds
FinishPassRounds(Pass& pass, const PassWriting& writing, const std::string& shown, FileSystem& files, OpenedFile& file);
