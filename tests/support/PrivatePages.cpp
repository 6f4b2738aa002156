#include "PrivatePages.h"

#include <linux/magic.h>
#include <sys/mount.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "Files.h"

namespace support {

std::string privatePagesProblem(const std::string& pageFile)
{
    // private-pages names the folder it made; a tmpfs there shows it is still ours.
    const char* folder = std::getenv("WEEKEND_PRIVATE_PAGES");
    struct statfs disk {};
    if (folder != nullptr && folder == directoryOf(pageFile) && statfs(folder, &disk) == 0 &&
        disk.f_type == TMPFS_MAGIC) {
        return "";
    }
    return "the page file " + pageFile + " is not in a private folder; run this through tests/support/private-pages " +
           pageFile + " -- COMMAND";
}

void remountPages(const std::string& pageFile, Access access, const std::string& options)
{
    const unsigned long flags = MS_REMOUNT | (access == Access::ReadOnly ? MS_RDONLY : 0);
    if (mount(nullptr, directoryOf(pageFile).c_str(), nullptr, flags, options.c_str()) != 0) {
        throw std::runtime_error("cannot remount the folder of " + pageFile + " (" + std::strerror(errno) + ")");
    }
}

} // namespace support
