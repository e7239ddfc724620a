// What Linux decides for itself beside the shared engine table: its words, the things that are not
// files which only it has, another file renamed over the chosen one during the run, and holes.

#include "shred/posix/FileDescriptor.h"
#include "tests/engine/EngineFixture.h"
#include "tests/engine/SystemCases.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

const SystemError kNoSpace = ENOSPC;
const std::string kLinkKind = "a symbolic link";
const std::string kNotFullPath = ": not a full path (it must start with /); nothing was written";
const std::filesystem::path kNotPlainText = "n\xff\xe9";

bool MarkReadOnly(const NativePath& path)
{
    return ::chmod(path.c_str(), 0444) == 0;
}

bool MarkedReadOnly(const NativePath& path)
{
    return (std::filesystem::status(path).permissions() & std::filesystem::perms::owner_write) ==
           std::filesystem::perms::none;
}

void ExpectMadeWritable(const NativePath& path)
{
    // A run with the rights to write any file needs no change.
    if (::geteuid() != 0) {
        EXPECT_FALSE(MarkedReadOnly(path));
    }
}

std::string RemovedAgain(const NativePath& path)
{
    return path + ": failed to remove: No such file or directory";
}

void ExpectRenamedOverDuringTheRun(OverwriteResult& overwritten, const NativePath& newcomer)
{
    const NativePath saved = overwritten.pinned.path;
    std::filesystem::rename(newcomer, saved);
    EXPECT_EQ(RemoveFile(overwritten, FileSystem::system()),
              saved + ": another file was put at this path during the run; it was left alone, neither overwritten "
                      "nor deleted");
    EXPECT_EQ(readWhole(saved), std::vector<std::uint8_t>(20, 0x77));
}

std::vector<ChangeBeforeOpen> SystemChangesBeforeOpen(const std::filesystem::path& chosen, const NativePath& other)
{
    // The pin is the folder and the name in it: what the name names by the open is refused.
    return {{"moved away, another file put at its name",
             [=] {
                 std::filesystem::rename(chosen, chosen.parent_path() / "moved");
                 std::filesystem::copy_file(other, chosen);
             },
             ": the file was replaced after it was chosen; nothing was written"},
            {"a link to another file put at its name",
             [=] {
                 std::filesystem::remove(chosen);
                 std::filesystem::create_symlink(other, chosen);
             },
             ": cannot open for writing: " + ErrorText(ELOOP)}};
}

// Files of kinds that only Linux has are refused, and what they lead to stays as it was.
TEST(EngineRefusals, SpecialFilesAreRefusedUntouched)
{
    TemporaryFolder folder;
    const std::string fifo = (folder.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = (folder.path() / "socket").string();
    const FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::vector<std::pair<ChosenFile, std::string>> cases = {
        {fifo, fifo + ": not a regular file (a FIFO); nothing was written"},
        {socketPath, socketPath + ": not a regular file (a socket); nothing was written"},
        {std::string("/dev/null"), "/dev/null: not a regular file (a device); nothing was written"},
    };
    // A file bind-mounted at another name shows its contents there, as a hard link does, with one link.
    const NativePath precious = folder.makeFile("precious", 100, 0x3C);
    const NativePath mountedAt = folder.makeFile("view", 1);
    const bool bound = ::mount(precious.c_str(), mountedAt.c_str(), nullptr, MS_BIND, nullptr) == 0;
    if (bound) {
        cases.push_back({mountedAt,
                         mountedAt + ": a mount point (a file mounted at this name from elsewhere); overwriting it "
                                     "would destroy the contents seen there too; nothing was written"});
    }
    ExpectRefusedUnwritten(cases);
    if (bound) {
        ::umount2(mountedAt.c_str(), MNT_DETACH);
        EXPECT_EQ(readWhole(precious), std::vector<std::uint8_t>(100, 0x3C));
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

// A hole in the file that the full disk cannot fill held no old bytes: the data after it is still
// overwritten, and the file kept; through the page cache and past it.
TEST(EngineFailures, HoleAFullDiskCannotFillIsPassedOver)
{
    for (bool direct : {false, true}) {
        TemporaryFolder folder;
        const NativePath path = folder.makeFile("holed", 8192, 0x77);
        const FileDescriptor file(::open(path.c_str(), O_WRONLY));
        ASSERT_EQ(::pwrite(file.get(), std::vector<char>(3520, 0x77).data(), 3520, 20480), 3520);
        ScriptedFileSystem files;
        files.diskFull = true;
        files.direct = direct;
        EngineRun run;
        overwrite(run, path, kZeros, files);
        EXPECT_EQ(run.result.outcome, Overwrite::NotExtended);
        EXPECT_EQ(run.result.failure,
                  path +
                      ": contents overwritten, but a hole in the file could not be filled and the file was not "
                      "deleted: " +
                      ErrorText(kNoSpace));
        EXPECT_EQ(readWhole(path), std::vector<std::uint8_t>(24000, 0));
    }
}
