// Files and timing for the benchmarks.

#include "bench/BenchFiles.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {
void makeColdFile(const std::string& path, std::int64_t length)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::runtime_error(path + ": " + std::strerror(errno));
    }
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<char>('A' + i % 26);
    }
    for (std::int64_t done = 0; done < length;) {
        const auto now = static_cast<std::size_t>(std::min<std::int64_t>(length - done, std::ssize(chunk)));
        const ssize_t written = ::write(fd, chunk.data(), now);
        if (written <= 0) {
            ::close(fd);
            throw std::runtime_error(path + ": cannot write the test file");
        }
        done += written;
    }
    ::fsync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void readOptions(int argc,
                 char** argv,
                 const std::function<bool(const std::string& name, const std::string& value)>& take)
{
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (i + 1 == argc || !take(name, argv[i + 1])) {
            std::fprintf(stderr, "%s: unknown option or no value: %s\n", argv[0], name.c_str());
            std::exit(2);
        }
    }
}

int runCommand(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Folder::Folder(const std::string& parent)
{
    std::string pattern = parent + "/zorvik-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error(parent + ": cannot create a folder: " + std::strerror(errno));
    }
    m_path = pattern;
}

Folder::~Folder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}
} // namespace bench
