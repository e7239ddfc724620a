// What the disk itself does with a batch of small files, against GNU shred on identical cold files in
// the same run: the floor a shredder of one pass can reach.
//
//   zorvik_floor_probe [--dir FOLDER] [--runs N] [--files N] [--size-kib N]
//
// "file by file": open, write zeros over the file, fdatasync, close, unlink, for each file in turn,
// then one fsync of the folder. "overlapped": open and write every file, then fdatasync each, then
// close and unlink each, then one fsync of the folder. Each row gives the median seconds and the
// median of the per-run ratios to shred -n0 -z -u (above 1: faster than shred), with their range.

#include "bench/BenchFiles.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
struct Options
{
    std::string folder = "/var/tmp";
    int runs = 5;
    int files = 255;
    std::int64_t sizeKiB = 4;
};

Options parse(int argc, char** argv)
{
    Options options;
    bench::readOptions(argc, argv, [&](const std::string& name, const std::string& value) {
        if (name == "--dir") {
            options.folder = value;
        } else if (name == "--runs") {
            options.runs = std::max(1, std::stoi(value));
        } else if (name == "--files") {
            options.files = std::max(1, std::stoi(value));
        } else if (name == "--size-kib") {
            options.sizeKiB = std::max<std::int64_t>(1, std::stoll(value));
        } else {
            return false;
        }
        return true;
    });
    return options;
}

bool writeZeros(int fd, std::int64_t length)
{
    static const std::vector<char> zeros(1 << 20, 0);
    for (std::int64_t at = 0; at < length;) {
        const auto size = static_cast<std::size_t>(std::min<std::int64_t>(length - at, std::ssize(zeros)));
        const ssize_t written = ::pwrite(fd, zeros.data(), size, at);
        if (written <= 0) {
            return false;
        }
        at += written;
    }
    return true;
}

bool flushFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool flushed = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return flushed;
}

// Seconds for the files one after the other; negative on failure.
double fileByFile(const std::vector<std::string>& paths, std::int64_t length, const std::string& folder)
{
    const double start = bench::now();
    for (const std::string& path : paths) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0 || !writeZeros(fd, length) || ::fdatasync(fd) != 0 || ::close(fd) != 0 ||
            ::unlink(path.c_str()) != 0) {
            return -1;
        }
    }
    return flushFolder(folder) ? bench::now() - start : -1;
}

// Seconds for the files written together, then flushed one by one, then deleted; negative on failure.
double overlapped(const std::vector<std::string>& paths, std::int64_t length, const std::string& folder)
{
    const double start = bench::now();
    std::vector<int> opened;
    bool ok = true;
    for (const std::string& path : paths) {
        opened.push_back(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        ok = ok && opened.back() >= 0 && writeZeros(opened.back(), length);
    }
    for (const int fd : opened) {
        ok = ok && ::fdatasync(fd) == 0;
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        ok = ::close(opened[i]) == 0 && ok && ::unlink(paths[i].c_str()) == 0;
    }
    return ok && flushFolder(folder) ? bench::now() - start : -1;
}

double shred(const std::vector<std::string>& paths)
{
    std::vector<std::string> command = {"shred", "-n0", "-z", "-u"};
    command.insert(command.end(), paths.begin(), paths.end());
    const double start = bench::now();
    return bench::runCommand(command) == 0 ? bench::now() - start : -1;
}
} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    const std::int64_t length = options.sizeKiB << 10;
    bench::Folder root(options.folder);
    std::vector<double> seconds[3];
    std::vector<double> ratios[2];
    for (int run = 0; run < options.runs; ++run) {
        // Each way in a folder of its own, the order turning from run to run.
        std::vector<std::string> folders;
        std::vector<std::vector<std::string>> paths(3);
        for (int way = 0; way < 3; ++way) {
            folders.push_back(root.file(std::to_string(run) + "-" + std::to_string(way)));
            ::mkdir(folders.back().c_str(), 0700);
            for (int i = 0; i < options.files; ++i) {
                paths[way].push_back(folders.back() + "/f" + std::to_string(i));
                bench::makeColdFile(paths[way].back(), length);
            }
        }
        double took[3] = {};
        for (int turn = 0; turn < 3; ++turn) {
            const int way = (turn + run) % 3;
            took[way] = way == 0   ? shred(paths[0])
                        : way == 1 ? fileByFile(paths[1], length, folders[1])
                                   : overlapped(paths[2], length, folders[2]);
            if (took[way] <= 0) {
                std::fprintf(stderr, "a run failed\n");
                return 1;
            }
        }
        for (int way = 0; way < 3; ++way) {
            seconds[way].push_back(took[way]);
        }
        ratios[0].push_back(took[0] / took[1]);
        ratios[1].push_back(took[0] / took[2]);
        for (const std::string& folder : folders) {
            ::rmdir(folder.c_str());
        }
    }
    const auto range = [](const std::vector<double>& values) {
        return std::to_string(*std::min_element(values.begin(), values.end())).substr(0, 4) + "-" +
               std::to_string(*std::max_element(values.begin(), values.end())).substr(0, 4);
    };
    std::printf(
        "%d files of %lld KiB, %d runs\n", options.files, static_cast<long long>(options.sizeKiB), options.runs);
    std::printf("%-28s %8s %8s %12s\n", "way", "seconds", "x shred", "range");
    std::printf("%-28s %8.3f %8.2f %12s\n", "shred -n0 -z -u", bench::median(seconds[0]), 1.0, "");
    std::printf("%-28s %8.3f %8.2f %12s\n",
                "floor, file by file",
                bench::median(seconds[1]),
                bench::median(ratios[0]),
                range(ratios[0]).c_str());
    std::printf("%-28s %8.3f %8.2f %12s\n",
                "floor, overlapped",
                bench::median(seconds[2]),
                bench::median(ratios[1]),
                range(ratios[1]).c_str());
    return 0;
}
