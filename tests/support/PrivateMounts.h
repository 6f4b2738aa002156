#pragma once

// Mounts that only this test process and its children see, so that a test
// can give the real game a page file of its own without touching the one
// the machine's players share.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace support {

// Moves this process into a mount namespace of its own whose mounts do not
// propagate back. As root that is a plain mount namespace; otherwise (or
// where root may not make one) it is a user namespace that maps the
// caller's user to root, with a mount namespace inside. Done once per
// process: later calls give the first answer.
//
// Returns "" on success, otherwise why it is not possible here; a test that
// needs it reports that reason when it skips.
const std::string& enterPrivateMounts();

// Enters the private mounts; "" on success, otherwise the reason for which
// a test that gives the game a private page file is skipped.
std::string skipReasonForPrivatePageFile();

// A mount that is undone when the object goes. Needs enterPrivateMounts().
// Each constructor throws std::runtime_error with the reason on failure.
class Mount {
public:
    // A fresh, empty tmpfs on dir, with mount options such as "size=1m".
    static Mount tmpfs(const std::string& dir, const std::string& options);
    // source (a file or a directory, with everything mounted below it) seen at target too.
    static Mount bind(const std::string& source, const std::string& target);

    Mount(Mount&& other) noexcept;
    Mount& operator=(Mount&&) = delete;
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    ~Mount();

    // Makes the mount read-only from now on.
    void makeReadOnly();
    const std::string& target() const { return where; }

    // Takes over a mount made elsewhere at target.
    explicit Mount(std::string target) : where(std::move(target)) {}

private:
    std::string where;
};

// The directory of the page file made private: a tmpfs on it that holds
// nothing of the real directory's page file. Every other entry of the real
// directory (for /home: the users' homes, where the checkout and its build
// may lie) is bound back in at its place, so that the game binary and
// coverage data stay where they were. Needs enterPrivateMounts().
class PrivateDirectory {
public:
    // dir: the page file's directory; keep: the page file's name, not bound back.
    PrivateDirectory(const std::string& dir, const std::string& keep, const std::string& options = "size=64m");

    Mount& mount() { return *top; }

private:
    std::optional<Mount> top;
    std::vector<Mount> boundBack; // undone before top
};

// The directory part of a path ("/home" for "/home/flags") and the name part.
std::string directoryOf(const std::string& path);
std::string nameOf(const std::string& path);

} // namespace support
