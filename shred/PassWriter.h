#pragma once

// The writer of one pass: the fill block laid over an open file in as few write calls as the page
// rule allows, whole chunks past the page cache where the system offers it, holes passed over, and
// the flush. The rounds (PassRounds.h) decide what it writes; the run (OverwriteEngine.h) opens the
// file and hands it over.

#include "shred/FileSystem.h"
#include "shred/FillBlock.h"
#include "shred/OverwriteEngine.h" // kBlocksPerWrite, kDirectChunk

#include <array>
#include <cstdint>

class RunProgress;
class WriteTuning;

// Writes the blocks [pos, limit) of the pass with as few calls as the page rule allows, every piece
// taken from the one fill block.
class BlockWriter
{
public:
    BlockWriter(OpenedFile& file, const FillBlock& block, FileSystem& files);

    // One call from `pos`, ending at the next multiple of kBlocksPerWrite blocks or at `limit`.
    // Returns 0 or the error, with the bytes written in `written`.
    SystemError writeFrom(std::int64_t pos, std::int64_t limit, std::int64_t& written);

    // One write call, tried again while the system interrupts it before it writes.
    static SystemError writeWhole(FileSystem& files,
                                  OpenedFile& file,
                                  const WritePiece* pieces,
                                  int count,
                                  std::int64_t pos,
                                  std::int64_t& written);

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
    DirectBuffer(const FillBlock& block, WriteTuning& tuning);
    ~DirectBuffer();
    DirectBuffer(const DirectBuffer&) = delete;
    DirectBuffer& operator=(const DirectBuffer&) = delete;

    std::uint8_t* data() const
    {
        return m_data;
    }

private:
    WriteTuning& m_tuning;
    std::uint8_t* m_data;
};

// One pass over an open file: writes blocks up to a limit, stepping the progress after every whole
// block, and flushes. Whole chunks go past the page cache while that is switched on; whatever is left
// (a tail shorter than the alignment, or everything once the direct path is refused) goes through it.
class Pass
{
public:
    // `onDisk`: whether written pages are worth dropping from the page cache once they are on the disk.
    Pass(OpenedFile& file, const FillBlock& block, RunProgress& progress, FileSystem& files, bool onDisk);

    // Writes past the page cache from `buffer`, with offsets and lengths multiples of `alignment`,
    // until the pass reaches a part that is not aligned. Writing past the cache is already on.
    void writeDirectly(const DirectBuffer& buffer, std::int64_t alignment);

    // Writes from where the pass stands up to `limit`. Returns 0, or the error with position() at
    // the offset that failed.
    SystemError writeUpTo(std::int64_t limit);

    // Whether the pass stands in a hole of the file; if so, it moves on to the data after the hole,
    // or to `limit` when none follows.
    bool skipHole(std::int64_t limit);

    SystemError flush();

    std::int64_t position() const
    {
        return m_pos;
    }

    // Passes over the block the pass stands in, unwritten.
    void passOverBlock();

private:
    void advanceTo(std::int64_t pos);
    // Returns 0 or the error of turning the direct path off, without which no unaligned write could
    // follow.
    SystemError writeThroughTheCache();
    void keepTheCacheSmall(std::int64_t written);

    OpenedFile& m_file;
    BlockWriter m_writer;
    RunProgress& m_progress;
    FileSystem& m_files;
    WriteTuning* m_tuning; // null where the system offers none
    std::int64_t m_pos = 0;
    std::int64_t m_stepped = 0;
    std::int64_t m_settled = 0;
    bool m_onDisk;
    std::uint8_t* m_direct = nullptr;
    std::int64_t m_alignment = 0;
};
