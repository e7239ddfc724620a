// Times the overwrite engine alone (overwrite, flush, delete) against its own previous path (every
// byte through the page cache, nothing dropped from it) and GNU shred on identical cold files, taking
// turns, and prints a row per case: the medians in MB/s, the medians of the per-round ratios (above 1:
// ours is faster), the CPU seconds per GiB of the process doing the shred, and how much the page cache
// grew during the run, for ours and the previous path.
//
//   zorvik_engine_bench [--dir FOLDER] [--runs N] [--sizes MiB,MiB,...] [--modes standard,enhanced]

#include "bench/BenchFiles.h"
#include "shred/FileSystem.h"
#include "shred/OverwriteEngine.h"
#include "shred/RunProgress.h"
#include "tests/fakes/ForwardingFileSystem.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {
struct Options
{
    std::string folder = std::filesystem::temp_directory_path().string();
    int runs = 5;
    std::vector<std::int64_t> sizesMiB = {1, 64, 512};
    std::vector<std::string> modes = {"standard", "enhanced"};
};

template <typename T, typename Parse> std::vector<T> splitList(const std::string& text, Parse parse)
{
    std::vector<T> items;
    std::stringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');) {
        items.push_back(parse(item));
    }
    return items;
}

Options parse(int argc, char** argv)
{
    Options options;
    bench::readOptions(argc, argv, [&](const std::string& name, const std::string& value) {
        if (name == "--dir") {
            options.folder = value;
        } else if (name == "--runs") {
            options.runs = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--sizes") {
            options.sizesMiB = splitList<std::int64_t>(value, [](const std::string& s) { return std::stoll(s); });
        } else if (name == "--modes") {
            options.modes = splitList<std::string>(value, [](const std::string& s) { return s; });
        } else {
            return false;
        }
        return true;
    });
    return options;
}

// The engine as it was before it wrote past the page cache: every byte through the cache, and nothing
// dropped from it during the run.
class PreviousPath : public ForwardingFileSystem
{
public:
    PreviousPath()
        : ForwardingFileSystem(FileSystem::system())
    {
    }
    bool preferDirect(std::int64_t) override
    {
        return false;
    }
    void settle(OpenedFile&, std::int64_t, std::int64_t) override
    {
    }
};

// The page cache's size in bytes, from /proc/meminfo.
std::int64_t cachedBytes()
{
    std::ifstream meminfo("/proc/meminfo");
    for (std::string key; meminfo >> key;) {
        std::int64_t kib = 0;
        meminfo >> kib;
        if (key == "Cached:") {
            return kib * 1024;
        }
        meminfo.ignore(256, '\n');
    }
    return 0;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Watches the page cache from another thread while a run goes on, keeping its largest growth.
class CacheWatch
{
public:
    CacheWatch()
        : m_start(cachedBytes())
        , m_thread([this] {
            while (!m_done) {
                m_peak = std::max(m_peak.load(), cachedBytes());
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        })
    {
    }
    // The growth in MiB.
    double stop()
    {
        m_done = true;
        m_thread.join();
        return static_cast<double>(std::max<std::int64_t>(0, m_peak - m_start)) / (1 << 20);
    }

private:
    std::int64_t m_start;
    std::atomic<std::int64_t> m_peak{0};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

struct EngineTiming
{
    double seconds = -1;
    double cpu = 0;
    double cacheMiB = 0;
};

// The engine overwriting, flushing and deleting the file; seconds negative on failure.
EngineTiming timeEngine(const std::string& path, ShredMode mode, FileSystem& files)
{
    EngineTiming timing;
    CacheWatch cache;
    const double cpuBefore = cpuSeconds();
    const double start = bench::now();
    RunProgress progress;
    progress.StartProgress();
    const FillBlock block = BuildFillBlock(mode);
    OverwriteResult result = OverwriteFile(path, block, progress, files);
    const bool removed = result.ok() && RemoveFile(result, files).empty();
    const double elapsed = bench::now() - start;
    timing.cpu = cpuSeconds() - cpuBefore;
    timing.cacheMiB = cache.stop();
    if (!removed) {
        std::fprintf(stderr, "%s\n", result.failure.c_str());
        return timing;
    }
    timing.seconds = elapsed;
    return timing;
}

double timePeer(const std::string& path, bool enhanced)
{
    const double start = bench::now();
    const int status = bench::runCommand(enhanced ? std::vector<std::string>{"shred", "-n1", "-u", path}
                                                  : std::vector<std::string>{"shred", "-n0", "-z", "-u", path});
    return status == 0 ? bench::now() - start : -1;
}
} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    bench::Folder folder(options.folder);
    PreviousPath previousPath;
    for (const std::string& mode : options.modes) {
        const bool enhanced = mode == "enhanced";
        const ShredMode shredMode = enhanced ? kEnhancedMode : kStandardMode;
        for (const std::int64_t sizeMiB : options.sizesMiB) {
            const std::int64_t length = sizeMiB << 20;
            std::vector<double> ours, previous, peer, vsPeer, vsPrevious, cpuPerGiB, oursCache, previousCache;
            for (int run = 0; run < options.runs; ++run) {
                const std::string paths[] = {folder.file("ours"), folder.file("previous"), folder.file("peer")};
                for (const std::string& path : paths) {
                    bench::makeColdFile(path, length);
                }
                // Take turns at going first, so that none always meets the disk in the same state.
                EngineTiming oursRun;
                EngineTiming previousRun;
                double peerSeconds = -1;
                for (int turn = 0; turn < 3; ++turn) {
                    switch ((run + turn) % 3) {
                    case 0:
                        oursRun = timeEngine(paths[0], shredMode, FileSystem::system());
                        break;
                    case 1:
                        previousRun = timeEngine(paths[1], shredMode, previousPath);
                        break;
                    default:
                        peerSeconds = timePeer(paths[2], enhanced);
                    }
                }
                if (oursRun.seconds <= 0 || previousRun.seconds <= 0 || peerSeconds <= 0) {
                    std::fprintf(stderr, "a run failed\n");
                    return 1;
                }
                ours.push_back(length / oursRun.seconds / 1e6);
                previous.push_back(length / previousRun.seconds / 1e6);
                peer.push_back(length / peerSeconds / 1e6);
                vsPeer.push_back(peerSeconds / oursRun.seconds);
                vsPrevious.push_back(previousRun.seconds / oursRun.seconds);
                cpuPerGiB.push_back(oursRun.cpu * static_cast<double>(std::int64_t{1} << 30) / length);
                oursCache.push_back(oursRun.cacheMiB);
                previousCache.push_back(previousRun.cacheMiB);
            }
            const std::string name = "engine " + std::to_string(sizeMiB) + " MiB" + (enhanced ? " enh" : "");
            std::printf("%-22s %9.1f %9.1f %9.1f %7.2f %7.2f %9.3f %9.1f %9.1f\n",
                        name.c_str(),
                        bench::median(ours),
                        bench::median(previous),
                        bench::median(peer),
                        bench::median(vsPeer),
                        bench::median(vsPrevious),
                        bench::median(cpuPerGiB),
                        bench::median(oursCache),
                        bench::median(previousCache));
            std::fflush(stdout);
        }
    }
    return 0;
}
