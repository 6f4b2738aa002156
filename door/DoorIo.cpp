#include "DoorIo.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <limits>
#include <stdexcept>

namespace {

// Waits until fd is ready for events or deadline has come; false then.
bool readyBefore(int fd, short events, Clock::time_point deadline)
{
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd ready{fd, events, 0};
        const int got = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 60000)));
        if (got > 0) {
            return true;
        }
        if (got < 0 && errno != EINTR) {
            return false;
        }
    }
}

} // namespace

ssize_t receiveWithDescriptor(int fd, char* buffer, std::size_t size, int* passed)
{
    if (passed == nullptr) {
        return ::read(fd, buffer, size);
    }
    iovec part{buffer, size};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int) * 4)> control{};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t got = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); got >= 0 && header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) {
            continue;
        }
        const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fdPassed = -1;
            std::memcpy(&fdPassed, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            if (*passed < 0) {
                *passed = fdPassed; // one is all a request brings; others go
            } else {
                ::close(fdPassed);
            }
        }
    }
    return got;
}

void say(const std::string& text) { std::cerr << "weekend-door: " << text << std::endl; }

std::vector<std::string> splitWords(std::string_view line)
{
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        words.emplace_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

bool equalsIgnoringCase(std::string_view one, std::string_view other)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::equal(one.begin(), one.end(), other.begin(), other.end(),
                      [&lower](char a, char b) { return lower(a) == lower(b); });
}

bool parseNumber(std::string_view text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 19) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

void setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

bool readLine(int fd, std::string& line, std::string& rest, int* passed, Clock::time_point deadline)
{
    line.clear();
    rest.clear();
    std::array<char, requestLimit> buffer{};
    while (line.size() < requestLimit) {
        const ssize_t got = receiveWithDescriptor(fd, buffer.data(), requestLimit - line.size(), passed);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            if (!readyBefore(fd, POLLIN, deadline)) {
                return false;
            }
            continue;
        }
        if (got <= 0) {
            return false;
        }
        line.append(buffer.data(), static_cast<std::size_t>(got));
        const std::size_t end = line.find('\n');
        if (end != std::string::npos) {
            rest = line.substr(end + 1);
            line.resize(end);
            return true;
        }
        if (!readyBefore(fd, POLLIN, deadline)) {
            return false;
        }
    }
    return false;
}

bool writeAllBefore(int fd, std::string_view data, Clock::time_point deadline)
{
    while (!data.empty()) {
        const ssize_t wrote = ::write(fd, data.data(), data.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote < 0 && errno == EAGAIN) {
            if (!readyBefore(fd, POLLOUT, deadline)) {
                return false;
            }
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

int connectUnix(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
    }
    return fd;
}

bool sendWithDescriptor(int fd, std::string_view data, int passed)
{
    if (data.empty()) {
        return false;
    }
    iovec part{const_cast<char*>(data.data()), 1};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &passed, sizeof(int));
    ssize_t sent = -1;
    do {
        sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == 1 && writeAllBefore(fd, data.substr(1), Clock::now() + std::chrono::seconds(3));
}

std::string peerAddress(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return "unknown";
    }
    std::array<char, INET6_ADDRSTRLEN> text{};
    const void* raw = nullptr;
    if (address.ss_family == AF_INET) {
        raw = &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr;
    } else if (address.ss_family == AF_INET6) {
        raw = &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr;
    }
    if (raw == nullptr || ::inet_ntop(address.ss_family, raw, text.data(), text.size()) == nullptr) {
        return "unknown";
    }
    return text.data();
}

int waitFor(std::vector<pollfd>& watched, std::optional<Clock::time_point> wake)
{
    timespec timeout{};
    timespec* limit = nullptr;
    if (wake) {
        const auto left = std::max(Clock::duration::zero(), *wake - Clock::now());
        const auto seconds = std::chrono::floor<std::chrono::seconds>(left);
        timeout.tv_sec = static_cast<time_t>(seconds.count());
        timeout.tv_nsec = static_cast<long>(std::chrono::nanoseconds(left - seconds).count());
        limit = &timeout;
    }
    sigset_t none;
    sigemptyset(&none);
    return ::ppoll(watched.data(), watched.size(), limit, &none);
}

GameProcess spawnGame(const std::string& program)
{
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("no pipe: ") + std::strerror(errno));
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(input[0]);
        ::close(input[1]);
        throw std::runtime_error(std::string("no pipe: ") + std::strerror(error));
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        for (const int fd : {input[0], input[1], output[0], output[1]}) {
            ::close(fd);
        }
        throw std::runtime_error(std::string("cannot fork: ") + std::strerror(error));
    }
    if (pid == 0) {
        // The game: its input and output are the pipes, its signals as a
        // new process's; every other descriptor closes on exec.
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
            ::signal(signal, SIG_DFL);
        }
        char* const arguments[] = {const_cast<char*>(program.c_str()), nullptr};
        ::execv(program.c_str(), arguments);
        const std::string problem = "weekend-door: cannot run " + program + ": " + std::strerror(errno) + "\n";
        (void)!::write(STDERR_FILENO, problem.data(), problem.size());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    setNonBlocking(input[1]);
    setNonBlocking(output[0]);
    return {pid, input[1], output[0]};
}

std::string helloJson(const std::string& token, std::uint64_t input, std::uint64_t output, std::chrono::seconds hold)
{
    return R"({"token":")" + token + R"(","input":)" + std::to_string(input) + R"(,"output":)" +
           std::to_string(output) + R"(,"hold":)" + std::to_string(hold.count()) + "}";
}
