// Times the overwrite engine alone (overwrite, flush, delete) against GNU shred on identical cold
// files, alternating the two, and prints a row per case: the medians in MB/s and the median of the
// per-pair ratios (above 1: ours is faster).
//
//   zorvik_engine_bench [--dir FOLDER] [--runs N] [--sizes MiB,MiB,...] [--modes standard,enhanced]

#include "bench/BenchFiles.h"
#include "shred/OverwriteEngine.h"
#include "shred/RunProgress.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
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
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--dir") {
            options.folder = value;
        } else if (name == "--runs") {
            options.runs = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--sizes") {
            options.sizesMiB = splitList<std::int64_t>(value, [](const std::string& s) { return std::stoll(s); });
        } else if (name == "--modes") {
            options.modes = splitList<std::string>(value, [](const std::string& s) { return s; });
        } else {
            std::fprintf(stderr, "unknown option %s\n", name.c_str());
            std::exit(2);
        }
    }
    return options;
}

// Seconds for the engine to overwrite, flush and delete the file; negative on failure.
double timeEngine(const std::string& path, ShredMode mode)
{
    const double start = bench::now();
    RunProgress progress;
    progress.StartProgress();
    const FillBlock block = BuildFillBlock(mode);
    const OverwriteResult result = OverwriteFile(path, block, progress);
    if (!result.ok() || !RemoveFile(result).empty()) {
        std::fprintf(stderr, "%s\n", result.failure.c_str());
        return -1;
    }
    return bench::now() - start;
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
    for (const std::string& mode : options.modes) {
        const bool enhanced = mode == "enhanced";
        for (const std::int64_t sizeMiB : options.sizesMiB) {
            const std::int64_t length = sizeMiB << 20;
            std::vector<double> ours;
            std::vector<double> peer;
            std::vector<double> ratios;
            for (int run = 0; run < options.runs; ++run) {
                const std::string oursPath = folder.file("ours");
                const std::string peerPath = folder.file("peer");
                bench::makeColdFile(oursPath, length);
                bench::makeColdFile(peerPath, length);
                // Alternate who goes first, so neither always meets the disk in the same state.
                double oursSeconds;
                double peerSeconds;
                if (run % 2 == 0) {
                    oursSeconds = timeEngine(oursPath, enhanced ? kEnhancedMode : kStandardMode);
                    peerSeconds = timePeer(peerPath, enhanced);
                } else {
                    peerSeconds = timePeer(peerPath, enhanced);
                    oursSeconds = timeEngine(oursPath, enhanced ? kEnhancedMode : kStandardMode);
                }
                if (oursSeconds <= 0 || peerSeconds <= 0) {
                    std::fprintf(stderr, "a run failed\n");
                    return 1;
                }
                ours.push_back(length / oursSeconds / 1e6);
                peer.push_back(length / peerSeconds / 1e6);
                ratios.push_back(peerSeconds / oursSeconds);
            }
            const std::string name = "engine " + std::to_string(sizeMiB) + " MiB" + (enhanced ? " enh" : "");
            std::printf("%-30s %10.1f %10.1f %8.2f %10s\n",
                        name.c_str(),
                        bench::median(ours),
                        bench::median(peer),
                        bench::median(ratios),
                        "-");
            std::fflush(stdout);
        }
    }
    return 0;
}
