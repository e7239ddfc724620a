#pragma once

// What the two runs ask of the window: boxes, the path box, the list and the progress.

#include "shred/OverwriteEngine.h"

#include <optional>
#include <string>
#include <vector>

// The parts of one box with `between` each two: "\n" for lines, "\n\n" for paragraphs, so that each
// file's lines stand apart.
inline std::string Joined(const std::vector<std::string>& parts, const std::string& between)
{
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) {
            text += between;
        }
        text += part;
    }
    return text;
}

// A file on the batch list, from its drop to the batch run: its path in the system's own spelling, its
// check mark, and the file the path named when it was dropped.
struct ListedFile
{
    NativePath path;
    bool checked = false;
    std::optional<FileIdentity> identity = std::nullopt;
};

// What a shred run shows and asks through the main window: its message boxes, the single-shred path
// and the batch list. The progress bar and the status panels are RunProgress's.
class ShredView
{
public:
    enum class Notice
    {
        SelectFile,  // "Please select a file."
        SelectFiles, // "Please select one or more files."
        InvalidFile, // "The file you tried to shred is an invalid file."
    };

    virtual ~ShredView() = default;

    virtual void tell(Notice notice) = 0;
    // "Are you sure to shred file(s)?" Returns true only for Yes.
    virtual bool confirmShred() = 0;
    // A "Warning!" box with one line per failure, or per file whose old contents may survive.
    virtual void warn(const std::string& text) = 0;
    // The "Mission Accomplished !" box.
    virtual void reportShredded(const std::string& text) = 0;
    // Empties the path box and the open-file dialog's file name.
    virtual void clearPath() = 0;

    // The batch list's entries in list order.
    virtual std::vector<ListedFile> listEntries() = 0;
    // Empties the batch list and puts `files` back, unchecked and in order, with both captions
    // rewritten.
    virtual void refillList(const std::vector<ChosenFile>& files) = 0;
    // The "Mission Accomplished !" box of a batch: how many files were shredded.
    virtual void reportBatchShredded(int count) = 0;
};
