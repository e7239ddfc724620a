// Times shredding through the real main window (offscreen, with scripted dialog and boxes) against
// GNU shred on identical cold files, and reports the window process's peak resident memory.
//
//   zorvik_window_bench --case single|batch [--dir FOLDER] [--runs N] [--size-mib N | --size-kib N] [--files N]
//                       [--mode standard|enhanced] [--profile yes]
//
// With --profile, the runs of the program alone, and then a table of where their time went, step by step.
// One case per process, so that the peak memory belongs to that case alone.

#include "app/InstanceGuard.h"
#include "app/MainWindow.h"
#include "bench/BenchFiles.h"
#include "bench/StepProfile.h"
#include "filelist/FileList.h"
#include "shred/FileSystem.h"
#include "tests/support/ScriptedPlatform.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QListWidget>

#include <cstdio>
#include <filesystem>
#include <sys/resource.h>

namespace {
struct Options
{
    QString benchCase = "single";
    std::string folder = "/var/tmp";
    int runs = 5;
    std::int64_t sizeKiB = 64 << 10;
    int files = 255;
    bool enhanced = false;
    bool profile = false;
};

Options parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const QString& value = arguments[i + 1];
        if (name == "--case") {
            options.benchCase = value;
        } else if (name == "--dir") {
            options.folder = value.toStdString();
        } else if (name == "--runs") {
            options.runs = std::max(1, value.toInt());
        } else if (name == "--size-mib") {
            options.sizeKiB = value.toLongLong() << 10;
        } else if (name == "--size-kib") {
            options.sizeKiB = value.toLongLong();
        } else if (name == "--files") {
            options.files = std::clamp(value.toInt(), 1, FileList::kCapacity);
        } else if (name == "--profile") {
            options.profile = value == "yes";
        } else if (name == "--mode") {
            options.enhanced = value == "enhanced";
        }
    }
    return options;
}

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The window as the program shows it, with scripted boxes and dialog but the system's own files: the
// test fake reads and keeps each file before deleting it, which a measurement must not count.
struct Window
{
    ScriptedPlatform platform;
    InstanceGuard guard{"zorvik-bench-" + std::to_string(QCoreApplication::applicationPid())};
    bench::StepProfile profile;
    bench::ProfiledFileSystem profiledFiles{FileSystem::system(), profile};
    bench::ProfiledTraces profiledTraces{platform.traces, FileSystem::system(), profile};
    MainWindow window;

    Window(bool enhanced, bool profiled)
        : window({platform.messages,
                  platform.fileDialog,
                  platform.links,
                  profiled ? static_cast<FileSystem&>(profiledFiles) : FileSystem::system(),
                  profiled ? static_cast<DesktopTraces&>(profiledTraces) : platform.traces})
    {
        window.load(guard);
        window.showCentred();
        if (enhanced) {
            window.findChild<QAction*>("random")->trigger();
        }
    }

    void press(const char* button)
    {
        platform.messages.setNextAnswer(MessageBox::Answer::Yes);
        profile.count(true);
        window.findChild<QAbstractButton*>(button)->click();
        profile.count(false);
    }

    bool reported(const QString& text) const
    {
        const auto shown = platform.messages.shown();
        return !shown.isEmpty() && shown.last().text == text;
    }
};

// Seconds for a single shred of `path` through the window; negative on failure.
double timeSingle(Window& ui, const std::string& path)
{
    ui.platform.fileDialog.setNextFileName(QString::fromStdString(path));
    ui.window.findChild<QAbstractButton*>("Command1")->click();
    ui.platform.messages.clear();
    const double start = bench::now();
    ui.press("Command2");
    const double seconds = bench::now() - start;
    return ui.reported("The file has been shredded !") ? seconds : -1;
}

double timeBatch(Window& ui, const std::vector<std::string>& paths)
{
    QList<QByteArray> listed;
    for (const std::string& path : paths) {
        listed.append(QByteArray::fromStdString(path));
    }
    ui.window.fileList().intake(listed);
    ui.window.fileList().checkAll();
    ui.platform.messages.clear();
    const double start = bench::now();
    ui.press("Command3");
    const double seconds = bench::now() - start;
    return ui.reported(QString("%1 files shredded !").arg(paths.size())) ? seconds : -1;
}

double timePeer(const std::vector<std::string>& paths, bool enhanced)
{
    std::vector<std::string> command = {"shred", enhanced ? "-n1" : "-n0"};
    if (!enhanced) {
        command.push_back("-z");
    }
    command.push_back("-u");
    command.insert(command.end(), paths.begin(), paths.end());
    const double start = bench::now();
    return bench::runCommand(command) == 0 ? bench::now() - start : -1;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const Options options = parse(application.arguments());
    bench::Folder folder(options.folder);
    Window ui(options.enhanced, options.profile);
    const bool batch = options.benchCase == "batch";
    const int count = batch ? options.files : 1;
    const std::int64_t length = options.sizeKiB << 10;

    std::vector<double> ours;
    std::vector<double> peer;
    std::vector<double> ratios;
    double oursTotal = 0;
    for (int run = 0; run < options.runs; ++run) {
        std::vector<std::string> oursFiles;
        std::vector<std::string> peerFiles;
        for (int i = 0; i < count; ++i) {
            oursFiles.push_back(folder.file("ours-" + std::to_string(i)));
            peerFiles.push_back(folder.file("peer-" + std::to_string(i)));
            bench::makeColdFile(oursFiles.back(), length);
            bench::makeColdFile(peerFiles.back(), length);
        }
        const auto timeOurs = [&] { return batch ? timeBatch(ui, oursFiles) : timeSingle(ui, oursFiles.front()); };
        double oursSeconds;
        double peerSeconds;
        if (run % 2 == 0) {
            oursSeconds = timeOurs();
            peerSeconds = timePeer(peerFiles, options.enhanced);
        } else {
            peerSeconds = timePeer(peerFiles, options.enhanced);
            oursSeconds = timeOurs();
        }
        if (oursSeconds <= 0 || peerSeconds <= 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
        const double bytes = static_cast<double>(length) * count;
        oursTotal += oursSeconds;
        ours.push_back(bytes / oursSeconds / 1e6);
        peer.push_back(bytes / peerSeconds / 1e6);
        ratios.push_back(peerSeconds / oursSeconds);
    }
    const std::string size = options.sizeKiB % 1024 == 0 ? std::to_string(options.sizeKiB >> 10) + " MiB"
                                                         : std::to_string(options.sizeKiB) + " KiB";
    const std::string name = batch ? "window batch " + std::to_string(count) + " x " + size : "window single " + size;
    std::printf("%-30s %10.1f %10.1f %8.2f %10.1f\n",
                (name + (options.enhanced ? " enh" : "")).c_str(),
                bench::median(ours),
                bench::median(peer),
                bench::median(ratios),
                peakResidentKiB() / 1024.0);
    if (options.profile) {
        ui.profile.print(oursTotal, options.runs);
    }
    return 0;
}
