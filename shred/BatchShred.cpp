// The batch run: pins every checked file, overwrites, flushes and deletes them in list order.

#include "shred/BatchShred.h"

#include "shred/DesktopTraces.h"
#include "shred/FillBlock.h"
#include "shred/OverwriteEngine.h"
#include "shred/Refusals.h"
#include "shred/RunProgress.h"
#include "shred/ShredView.h"

#include <algorithm>
#include <cctype>

namespace {
// Files shorter than this are written a group at a time before any of them is flushed: one flush
// then commits the journal for the whole group, and the flushes after it find little left to do. A
// group holds at most so many bytes, so that the page cache and the progress move as for one large
// file, and so many open files, each held until its flush.
constexpr std::int64_t kSmallFile = 64 * 1024;
constexpr std::int64_t kGroupBytes = 4 * 1024 * 1024;
constexpr std::size_t kGroupFiles = 32;

// The end of the group that starts at `first`: the next files while each is small and the group
// stays within its bounds; a large file is a group of its own.
std::size_t groupEnd(const std::vector<MeasuredFile>& measured, std::size_t first, std::size_t mostFiles)
{
    std::size_t end = first + 1;
    std::int64_t bytes = measured[first].length;
    if (bytes >= kSmallFile) {
        return end;
    }
    for (; end < measured.size() && end - first < mostFiles && measured[end].length < kSmallFile &&
           bytes + measured[end].length <= kGroupBytes;
         ++end) {
        bytes += measured[end].length;
    }
    return end;
}

// "2 of the 5 checked files", or "the checked file" when it was the only one.
std::string someOfTheChecked(std::size_t some, std::size_t checked)
{
    return checked == 1 ? "the checked file"
                        : std::to_string(some) + " of the " + std::to_string(checked) + " checked files";
}
} // namespace

int shredCheckedFiles(ShredMode mode, ShredView& view, RunProgress& progress, FileSystem& files, DesktopTraces& traces)
{
    const FillBlock block = BuildFillBlock(mode);

    const std::vector<ListedFile> entries = view.listEntries();
    std::vector<ChosenFile> batch;
    for (const ListedFile& entry : entries) {
        if (entry.checked) {
            batch.emplace_back(entry.path, entry.identity);
        }
    }
    if (batch.empty()) {
        view.tell(ShredView::Notice::SelectFiles);
        return 0;
    }
    progress.StartProgress();

    // Every file is held pinned from its measuring to its deletion; a batch the system cannot hold
    // pinned at once is refused whole, before a pin could take what the window needs to go on.
    std::vector<NativePath> paths;
    for (const ChosenFile& file : batch) {
        paths.push_back(file.path);
    }
    const PinCapacity capacity = files.pinCapacity(paths);
    if (capacity.available && capacity.needed > *capacity.available) {
        view.warn(TooManyFolders(batch.size(), capacity.needed, *capacity.available));
        return 0;
    }
    // A group's files are open together beside the pins: as many as the descriptors left allow.
    const std::size_t groupFiles = capacity.available
                                       ? std::clamp<std::size_t>(*capacity.available - capacity.needed, 1, kGroupFiles)
                                       : kGroupFiles;

    // Each file is held by its pin from here on: only the file measured is written and deleted.
    std::int64_t total = 0;
    std::vector<MeasuredFile> measured;
    std::vector<std::string> unmeasurable;
    for (const ChosenFile& file : batch) {
        measured.push_back(MeasureFile(file, files));
        if (measured.back().ok()) {
            total += measured.back().length;
        } else {
            unmeasurable.push_back(measured.back().failure);
        }
    }
    if (!unmeasurable.empty()) {
        unmeasurable.insert(
            unmeasurable.begin(),
            "Nothing was shredded, and nothing was written: " + someOfTheChecked(unmeasurable.size(), batch.size()) +
                " cannot be shredded as " + (unmeasurable.size() == 1 ? "it is" : "they are") + " now.");
        measured.clear(); // the pins go before the box, which needs descriptors of its own
        view.warn(Joined(unmeasurable, "\n\n"));
        return 0;
    }
    if (!view.confirmShred()) {
        return 0;
    }

    progress.setMaximum(total + 2 * kBlockSize);
    std::vector<std::string> failures;
    std::vector<bool> failed(batch.size(), false);
    // The deletions are flushed together at the end, each folder once: a flush of the folder for
    // every small file would cost as much as its overwrite.
    std::vector<OverwriteResult> removed;
    std::vector<std::size_t> removedIndex;
    std::vector<bool> inPlace(batch.size(), false);
    for (std::size_t first = 0; first < batch.size();) {
        const std::size_t end = groupEnd(measured, first, groupFiles);
        std::vector<StartedOverwrite> started;
        for (std::size_t i = first; i < end; ++i) {
            started.push_back(StartOverwrite(measured[i], block, progress, files));
        }
        // Every file of the group is flushed and judged before any is deleted.
        std::vector<OverwriteResult> overwritten;
        for (StartedOverwrite& writing : started) {
            overwritten.push_back(FinishOverwrite(writing));
        }
        for (std::size_t i = first; i < end; ++i) {
            OverwriteResult& overwrite = overwritten[i - first];
            std::string failure =
                overwrite.ok() ? RemoveFile(overwrite, files, RemovalFlush::Later) : overwrite.failure;
            if (!failure.empty()) {
                failed[i] = true;
                failures.push_back(std::move(failure));
                continue;
            }
            if (!overwrite.placement.inPlace()) {
                failures.push_back(PlacementWarning(DisplayPath(batch[i].path), overwrite.placement));
            }
            inPlace[i] = overwrite.placement.inPlace();
            removed.push_back(std::move(overwrite));
            removedIndex.push_back(i);
        }
        first = end;
    }
    std::vector<DeletedFile> deleted;
    for (const OverwriteResult& file : removed) {
        deleted.push_back({file.pinned.path, &file.pinned});
    }
    for (std::string& left : traces.destroy(deleted, block, files)) {
        failures.push_back(std::move(left));
    }
    const std::vector<std::string> unflushed = FlushRemovals(removed, files);
    removed.clear();
    int shredded = 0;
    for (std::size_t k = 0; k < removedIndex.size(); ++k) {
        if (!unflushed[k].empty()) {
            failed[removedIndex[k]] = true;
            failures.push_back(unflushed[k]);
        } else {
            shredded += inPlace[removedIndex[k]];
        }
    }
    progress.FinishProgress();

    // A run that shredded nothing is a failure, told only by the warning.
    if (shredded > 0) {
        view.reportBatchShredded(shredded);
    }
    if (!failures.empty()) {
        if (const std::size_t left = batch.size() - static_cast<std::size_t>(shredded); left > 0) {
            std::string summary =
                someOfTheChecked(left, batch.size()) + (left == 1 ? " was" : " were") + " not shredded:";
            summary.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(summary.front())));
            failures.insert(failures.begin(), std::move(summary));
        }
        view.warn(Joined(failures, "\n\n"));
    }

    // Unchecked entries stay; checked ones that failed and still exist come back, unchecked, in place.
    std::vector<ChosenFile> kept;
    std::size_t batchIndex = 0;
    for (const ListedFile& entry : entries) {
        if (!entry.checked) {
            kept.emplace_back(entry.path, entry.identity);
        } else if (failed[batchIndex++] && files.exists(entry.path)) {
            kept.emplace_back(entry.path, entry.identity);
        }
    }
    view.refillList(kept);
    return shredded;
}
