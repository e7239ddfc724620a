// The writer of one pass: write calls from the fill block, through the page cache or past it.

#include "shred/PassWriter.h"

#include "shred/RunProgress.h"
#include "shred/WriteTuning.h"

#include <algorithm>
#include <cstring>

BlockWriter::BlockWriter(OpenedFile& file, const FillBlock& block, FileSystem& files)
    : m_file(file)
    , m_files(files)
    , m_base(block.data())
{
}

SystemError BlockWriter::writeFrom(std::int64_t pos, std::int64_t limit, std::int64_t& written)
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

SystemError BlockWriter::writeWhole(
    FileSystem& files, OpenedFile& file, const WritePiece* pieces, int count, std::int64_t pos, std::int64_t& written)
{
    SystemError error = 0;
    do {
        written = 0;
        error = files.writeAt(file, pieces, count, pos, written);
    } while (IsInterrupted(error));
    return error;
}

DirectBuffer::DirectBuffer(const FillBlock& block, WriteTuning& tuning)
    : m_tuning(tuning)
    , m_data(static_cast<std::uint8_t*>(tuning.mapHugeBuffer(kDirectChunk)))
{
    for (std::int64_t at = 0; m_data && at < kDirectChunk; at += kBlockSize) {
        std::memcpy(m_data + at, block.data(), kBlockSize);
    }
}

DirectBuffer::~DirectBuffer()
{
    if (m_data) {
        m_tuning.unmapBuffer(m_data, kDirectChunk);
    }
}

namespace {
// Pages written through the page cache are waited for and dropped a window at a time, keeping at
// most two windows cached: twelve chunks (about 29 MiB) keep the disk busy between two waits while
// two windows stay well below what a small machine caches.
constexpr std::int64_t kSettleWindow = 12 * kDirectChunk;
} // namespace

Pass::Pass(OpenedFile& file, const FillBlock& block, RunProgress& progress, FileSystem& files, bool onDisk)
    : m_file(file)
    , m_writer(file, block, files)
    , m_progress(progress)
    , m_files(files)
    , m_tuning(files.tuning())
    , m_onDisk(onDisk)
{
}

void Pass::writeDirectly(const DirectBuffer& buffer, std::int64_t alignment)
{
    m_direct = buffer.data();
    m_alignment = alignment;
}

SystemError Pass::writeUpTo(std::int64_t limit)
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
            if (error != 0 && IsOutOfRoom(error) && m_tuning) {
                // A full disk may refuse a whole write for its part that needs new room (a hole,
                // the end), when the page cache holds them in one large page: the data before
                // that part is written on its own.
                if (const std::int64_t hole = m_tuning->nextHole(m_file, m_pos); hole > m_pos && hole < limit) {
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

bool Pass::skipHole(std::int64_t limit)
{
    if (!m_tuning) {
        return false;
    }
    const std::int64_t to = std::min(m_tuning->nextData(m_file, m_pos), limit);
    if (to <= m_pos) {
        return false;
    }
    advanceTo(to);
    return true;
}

SystemError Pass::flush()
{
    const SystemError error = m_files.flush(m_file);
    return IsUnsupported(error) ? m_files.flushAll(m_file) : error;
}

void Pass::passOverBlock()
{
    advanceTo((m_pos / kBlockSize + 1) * kBlockSize);
}

void Pass::advanceTo(std::int64_t pos)
{
    m_pos = pos;
    for (; (m_stepped + 1) * kBlockSize <= m_pos; ++m_stepped) {
        m_progress.StepProgress();
    }
}

SystemError Pass::writeThroughTheCache()
{
    // Only a pass given a direct buffer, which only a system with tuning offers, comes here.
    m_direct = nullptr;
    m_settled = m_pos;
    return m_tuning->setDirect(m_file, false);
}

void Pass::keepTheCacheSmall(std::int64_t written)
{
    if (!m_tuning) {
        return;
    }
    // Writing back while the next blocks are copied keeps the disk busy, so the final flush has
    // less left to wait for. Only hints: their failure changes nothing.
    m_tuning->startWriteback(m_file, m_pos, written);
    if (m_onDisk && m_pos + written - m_settled >= 2 * kSettleWindow) {
        m_tuning->settle(m_file, m_settled, kSettleWindow);
        m_settled += kSettleWindow;
    }
}
