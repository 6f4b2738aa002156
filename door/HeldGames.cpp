#include "HeldGames.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "DoorIo.h"
#include "Sha256.h"

namespace {

// A socket's name: 32 hexadecimal digits of the secret's digest, a dash,
// and 16 of the address's.
std::string secretPart(const std::string& secret) { return sha256Hex("weekend held game\n" + secret).substr(0, 32); }
std::string addressPart(const std::string& address) { return sha256Hex("weekend player\n" + address).substr(0, 16); }

bool socketAddress(const std::string& path, sockaddr_un& address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Calls found with the name of every entry of folder whose name passes
// wanted, until found returns false.
template <typename Wanted, typename Found>
void eachEntry(const std::string& folder, Wanted wanted, Found found)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
    if (!listing) {
        return;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (wanted(name) && !found(name)) {
            return;
        }
    }
}

} // namespace

int HeldGames::listen(const std::string& secret, const std::string& address, std::string& socketPath) const
{
    socketPath = folder + "/" + secretPart(secret) + "-" + addressPart(address);
    sockaddr_un where{};
    if (!socketAddress(socketPath, where)) {
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof(where)) != 0 || ::listen(fd, 8) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int HeldGames::connect(const std::string& secret) const
{
    const std::string prefix = secretPart(secret) + "-";
    int connected = -1;
    eachEntry(
        folder, [&](const std::string& name) { return name.starts_with(prefix); },
        [&](const std::string& name) {
            connected = connectUnix(folder + "/" + name);
            return connected < 0; // a killed game's socket: look on
        });
    return connected;
}

int HeldGames::countFrom(const std::string& address) const
{
    std::string suffix(1, '-');
    suffix += addressPart(address);
    int count = 0;
    eachEntry(
        folder, [&](const std::string& name) { return name.ends_with(suffix); },
        [&](const std::string& name) {
            // Only a live game answers; it takes a connection that says
            // nothing for a look and closes it.
            const int fd = connectUnix(folder + "/" + name);
            if (fd >= 0) {
                ::close(fd);
                ++count;
            }
            return true;
        });
    return count;
}
