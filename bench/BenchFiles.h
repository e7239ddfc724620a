#pragma once

// Files and timing for the benchmarks: a folder of their own, files out of the page cache, the clock,
// medians and the commands they compare against.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Files for the benchmarks: written, flushed and evicted from the page cache, so that every run
// starts cold, the way a file that has not been read for a while does.
namespace bench {
// Creates `path` with `length` bytes of a fixed pattern, flushes it and evicts its pages.
void makeColdFile(const std::string& path, std::int64_t length);

// Seconds on a monotonic clock.
double now();

double median(std::vector<double> values);

// Runs a command and waits; returns its exit status, or -1 when it could not start.
int runCommand(const std::vector<std::string>& arguments);

// Hands each "--name value" pair of the command line to `take`. An option it does not take (it
// returns false) ends the program with a message, so that a misspelt option does not measure the
// default unnoticed.
void readOptions(int argc,
                 char** argv,
                 const std::function<bool(const std::string& name, const std::string& value)>& take);

// A fresh folder under `parent`, removed with everything in it when the object goes.
class Folder
{
public:
    explicit Folder(const std::string& parent);
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string file(const std::string& name) const
    {
        return m_path + "/" + name;
    }
    const std::string& path() const
    {
        return m_path;
    }

private:
    std::string m_path;
};
} // namespace bench
