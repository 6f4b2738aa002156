#include "PrivateMounts.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "Files.h"

namespace support {

namespace {

std::string failed(const std::string& what) { return what + " (" + std::strerror(errno) + ")"; }

// Mounts below / stop propagating to the namespace we came from.
std::string makeMountsPrivate()
{
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
        return "";
    }
    std::string why = failed("cannot make the mounts private");
    if (errno == EINVAL) {
        why += ": / is not a mount point, as in a plain chroot; make the chroot's root a mount point first "
               "(mount --bind DIR DIR)";
    }
    return why;
}

// False in a plain chroot: the mounts this process sees have none at "/".
bool rootIsMountPoint()
{
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT ...
        std::istringstream fields(line);
        std::string id;
        std::string parent;
        std::string device;
        std::string root;
        std::string mountPoint;
        if (fields >> id >> parent >> device >> root >> mountPoint && mountPoint == "/") {
            return true;
        }
    }
    return false;
}

std::string enterUserNamespace()
{
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        const int error = errno;
        const bool chroot = !rootIsMountPoint();
        errno = error;
        return failed(!chroot
                          ? "cannot enter a user namespace with a mount namespace (unshare -rm); user namespaces may "
                            "be switched off here (sysctl user.max_user_namespaces, kernel.unprivileged_userns_clone)"
                          : "cannot enter a user namespace with a mount namespace (unshare -rm), which a chroot "
                            "refuses; run as root in a chroot whose root is a mount point (mount --bind DIR DIR)");
    }
    if (!writeFile("/proc/self/setgroups", "deny") ||
        !writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
        return failed("cannot map this user to root in the user namespace");
    }
    return makeMountsPrivate();
}

} // namespace

const std::string& enterPrivateMounts()
{
    static const std::string reason = [] {
        if (geteuid() != 0) {
            return enterUserNamespace();
        }
        if (unshare(CLONE_NEWNS) == 0) {
            return makeMountsPrivate();
        }
        // Root without the right to mount (in a container, say) may still own a user namespace.
        const std::string plain = failed("cannot enter a mount namespace (unshare -m)");
        const std::string user = enterUserNamespace();
        return user.empty() ? user : plain + "; " + user;
    }();
    return reason;
}

std::string skipReasonForPrivatePageFile()
{
    const std::string& why = enterPrivateMounts();
    return why.empty() ? why : "the game needs a private page file (a mount namespace of this test), and " + why;
}

Mount Mount::tmpfs(const std::string& dir, const std::string& options)
{
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        throw std::runtime_error(failed("cannot mount a tmpfs on " + dir));
    }
    return Mount(dir);
}

Mount Mount::bind(const std::string& source, const std::string& target)
{
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        throw std::runtime_error(failed("cannot bind " + source + " to " + target));
    }
    return Mount(target);
}

Mount::Mount(Mount&& other) noexcept : where(std::move(other.where)) { other.where.clear(); }

Mount::~Mount()
{
    if (!where.empty()) {
        umount2(where.c_str(), MNT_DETACH);
    }
}

void Mount::makeReadOnly()
{
    if (mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        throw std::runtime_error(failed("cannot make " + where + " read-only"));
    }
}

PrivateDirectory::PrivateDirectory(const std::string& dir, const std::string& keep, const std::string& options)
{
    // The real directory stays reachable through a descriptor opened before the tmpfs hides it.
    const int real = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::vector<std::string> entries;
    if (DIR* listing = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name != keep) {
                entries.push_back(name);
            }
        }
        closedir(listing);
    }
    try {
        top.emplace(Mount::tmpfs(dir, options));
    } catch (...) {
        if (real >= 0) {
            close(real);
        }
        throw;
    }
    for (const std::string& name : entries) {
        const std::string source = "/proc/self/fd/" + std::to_string(real) + "/" + name;
        const std::string target = dir + "/" + name;
        struct stat status {};
        if (real < 0 || stat(source.c_str(), &status) != 0) {
            continue; // out of this user's reach, and so of the game's
        }
        const bool made = S_ISDIR(status.st_mode) ? mkdir(target.c_str(), 0755) == 0 : writeFile(target, "");
        if (made && ::mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0) {
            boundBack.emplace_back(target);
        }
    }
    if (real >= 0) {
        close(real);
    }
}

std::string directoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

} // namespace support
