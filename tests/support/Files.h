#pragma once

// Files for tests: a temporary directory that cleans up after itself, and
// whole files read and written byte for byte.

#include <optional>
#include <string>

namespace support {

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "weekend-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& name() const { return dir; }
    // A path inside the directory; the page file of in-process games by default.
    std::string path(const std::string& entry = "flags") const { return dir + "/" + entry; }
    std::string flags() const { return path("flags"); }

private:
    std::string dir;
};

// The whole file, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::string& path);

// Replaces the file's content; false when that failed.
bool writeFile(const std::string& path, const std::string& content);

// The directory part of a path ("/home" for "/home/flags").
std::string directoryOf(const std::string& path);

} // namespace support
