// The single run: confirmation, overwrite, flush, deletion and report of one file.

#include "shred/SingleShred.h"

#include "shred/DesktopTraces.h"
#include "shred/FillBlock.h"
#include "shred/OverwriteEngine.h"
#include "shred/RunProgress.h"
#include "shred/ShredView.h"

namespace {
// After a failure the path box keeps the path while there is still a file behind it.
void reportFailure(
    const NativePath& path, const std::string& failure, ShredView& view, RunProgress& progress, FileSystem& files)
{
    progress.showActivity("Ready");
    if (!files.exists(path)) {
        view.clearPath();
    }
    view.warn(failure);
}
} // namespace

bool shredSingleFile(const ChosenFile& file,
                     ShredMode mode,
                     ShredView& view,
                     RunProgress& progress,
                     FileSystem& files,
                     DesktopTraces& traces)
{
    const NativePath& path = file.path;
    if (path.empty()) {
        view.tell(ShredView::Notice::SelectFile);
        return false;
    }
    progress.StartProgress();
    const FillBlock block = BuildFillBlock(mode);

    // From here on the file is held by its pin: whatever the path names later, only the file measured
    // before the confirmation is written and deleted.
    MeasuredFile measured = MeasureFile(file, files);
    if (!measured.ok()) {
        view.warn(measured.failure);
        return false;
    }
    if (measured.length == 0) {
        view.tell(ShredView::Notice::InvalidFile);
        return false;
    }
    if (!view.confirmShred()) {
        return false;
    }

    progress.setMaximum(measured.length + kBlockSize);
    OverwriteResult overwrite = OverwriteFile(measured, block, progress, files);
    if (!overwrite.ok()) {
        reportFailure(path, overwrite.failure, view, progress, files);
        return false;
    }
    progress.FinishProgress();

    // Removed before the path box is emptied, so that a file that stays keeps its path there.
    if (const std::string failure = RemoveFile(overwrite, files); !failure.empty()) {
        reportFailure(path, failure, view, progress, files);
        return false;
    }
    view.clearPath();
    const std::vector<std::string> tracesLeft = traces.destroy({{path, &overwrite.pinned}}, block, files);
    if (!overwrite.placement.inPlace()) {
        std::vector<std::string> lines = {PlacementWarning(DisplayPath(path), overwrite.placement)};
        lines.insert(lines.end(), tracesLeft.begin(), tracesLeft.end());
        view.warn(Joined(lines, "\n"));
        return false;
    }
    view.reportShredded("The file has been shredded !");
    if (!tracesLeft.empty()) {
        view.warn(Joined(tracesLeft, "\n"));
    }
    return true;
}
