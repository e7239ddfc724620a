// The refusals' texts: every reason a file is not written, in one place.

#include "shred/Refusals.h"

#include "shred/FileSystem.h"

std::string FailureLine(const std::string& shown, const std::string& step, int error)
{
    return shown + ": " + step + ": " + ErrorText(error);
}

std::string NotRegularFile(const std::string& shown, const std::string& kind)
{
    return shown + ": not a regular file (" + kind + "); nothing was written";
}

std::string NoLongerThere(const std::string& shown)
{
    return shown + ": the file is no longer there; nothing was written";
}

std::string ReplacedSinceChosen(const std::string& shown)
{
    return shown + ": the file was replaced after it was chosen; nothing was written";
}

std::string NotOneLookAlike(const std::string& shown)
{
    return shown + ": no file, or more than one, shows this name (\"\xEF\xBF\xBD\" stands for bytes that are not "
                   "text); nothing was written";
}

std::string HasOtherNames(const std::string& shown, std::uint64_t links)
{
    const std::uint64_t others = links - 1;
    return shown + ": the file has " + std::to_string(others) + (others == 1 ? " other name" : " other names") +
           "; overwriting it would destroy the contents seen under " + (others == 1 ? "it" : "them") +
           " too; nothing was written";
}

std::string MountedAtItsName(const std::string& shown)
{
    return shown + ": a mount point (a file mounted at this name from elsewhere); overwriting it would destroy the "
                   "contents seen there too; nothing was written";
}

std::string SystemInterface(const std::string& shown, const FileSystemType& type)
{
    return shown + ": a system interface of the kernel (" + type.name + "), not a stored file; nothing was written";
}

std::string NotDeleted(const std::string& shown, const PlacementVerdict& placement, int error)
{
    return FailureLine(shown,
                       std::string(placement.inPlace() ? "contents destroyed" : "contents overwritten") +
                           ", but the file could not be deleted and is still there",
                       error);
}

std::string NotFlushed(const std::string& shown, int error)
{
    return error == 0 ? std::string()
                      : FailureLine(shown,
                                    "deleted, but the deletion could not be flushed to the disk and may be undone",
                                    error);
}

std::string NotOverwrittenSoNotRemoved(const std::string& shown)
{
    return shown + ": not overwritten, so not removed";
}

std::string TooManyFolders(std::size_t files, std::size_t folders, std::size_t available)
{
    return "Nothing was shredded, and nothing was written: the " + std::to_string(files) + " checked files lie in " +
           std::to_string(folders) + " folders, and the system lets the program hold " +
           (available == 0
                ? std::string("no folder open beside its window. Shred the files one at a time, or raise the "
                              "limit of open files and start the program again.")
                : std::to_string(available) + (available == 1 ? " folder" : " folders") +
                      " open at once. Check the files of fewer folders and shred them in turns.");
}
