// The game served on a socket: Nagle's delay is turned off on TCP and on
// nothing else, output goes out in the telnet protocol's form there, and a
// game whose player goes away ends with status 0. The idle limit of served
// games spares a player at a terminal.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "TcpSocket.h"
#include "Transcript.h"

namespace {

using namespace std::string_literals;

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd; }
    void reset(int other = -1)
    {
        if (fd >= 0) {
            close(fd);
        }
        fd = other;
    }

private:
    int fd;
};

bool noDelayOn(int fd)
{
    int value = 0;
    socklen_t length = sizeof(value);
    return getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, &length) == 0 && value != 0;
}

// A connected pair of TCP sockets on the loopback address of family.
// False if that family has no loopback here.
bool tcpPair(int family, Fd& client, Fd& server)
{
    Fd listener(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        length = sizeof(*in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(*in4);
    }
    if (listener.get() < 0 || bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener.get(), 1) != 0 ||
        getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    client.reset(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (connect(client.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) {
        return false;
    }
    server.reset(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    return server.get() >= 0;
}

// Reads from fd until the text read so far ends with "> " (a prompt), the
// peer closes, or five seconds pass.
std::string readToPrompt(int fd)
{
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!support::splitPrompt(text).prompted) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// The game with fd (a socket, a terminal) as its standard input and output.
pid_t startGame(int fd, const char* binary = WEEKEND_GAME)
{
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, STDIN_FILENO);
        dup2(fd, STDOUT_FILENO);
        execl(binary, binary, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Waits up to five seconds for the game; its exit status, or -1 if it was
// still running (it is then killed) or did not exit normally.
int waitForExit(pid_t pid)
{
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

TEST(TcpNoDelay, IsTurnedOnForTcpOverIPv4)
{
    Fd client;
    Fd server;
    ASSERT_TRUE(tcpPair(AF_INET, client, server));
    ASSERT_FALSE(noDelayOn(server.get()));
    EXPECT_TRUE(disableNagleOnTcp(server.get()));
    EXPECT_TRUE(noDelayOn(server.get()));
}

TEST(TcpNoDelay, IsTurnedOnForTcpOverIPv6)
{
    Fd client;
    Fd server;
    if (!tcpPair(AF_INET6, client, server)) {
        GTEST_SKIP() << "this machine has no IPv6 loopback address";
    }
    EXPECT_TRUE(disableNagleOnTcp(server.get()));
    EXPECT_TRUE(noDelayOn(server.get()));
}

TEST(TcpNoDelay, LeavesEverythingElseAlone)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);
    EXPECT_FALSE(disableNagleOnTcp(writeEnd.get()));

    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    Fd one(ends[0]);
    Fd other(ends[1]);
    EXPECT_FALSE(disableNagleOnTcp(one.get()));

    Fd udp(socket(AF_INET, SOCK_DGRAM, 0));
    ASSERT_GE(udp.get(), 0);
    EXPECT_FALSE(disableNagleOnTcp(udp.get()));

    Fd null(open("/dev/null", O_WRONLY));
    ASSERT_GE(null.get(), 0);
    EXPECT_FALSE(disableNagleOnTcp(null.get()));
    EXPECT_FALSE(disableNagleOnTcp(-1));
}

// A game started on the server end of a loopback TCP connection; the test
// plays the client end.
class GameOnTcp : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fd server;
        ASSERT_TRUE(tcpPair(AF_INET, client, server));
        game = startGame(server.get());
        ASSERT_GT(game, 0);
        EXPECT_NE(readToPrompt(client.get()).find("Whats you name?\r\n> "), std::string::npos);
    }

    Fd client;
    pid_t game = -1;
};

TEST_F(GameOnTcp, TurnsNagleOffAndEndsWhenThePlayerCloses)
{
    // The game's own end of the connection, fetched from the running game
    // (through the system calls: not every C library declares them).
    Fd pidfd(static_cast<int>(syscall(SYS_pidfd_open, game, 0)));
    Fd gamesEnd(pidfd.get() >= 0 ? static_cast<int>(syscall(SYS_pidfd_getfd, pidfd.get(), STDOUT_FILENO, 0)) : -1);
    if (gamesEnd.get() >= 0) {
        EXPECT_TRUE(noDelayOn(gamesEnd.get()));
        gamesEnd.reset();
    } else {
        std::cout << "not checked: the game's socket cannot be fetched here (pidfd_getfd)\n";
    }

    ASSERT_EQ(write(client.get(), "Tester\n", 7), 7);
    EXPECT_NE(readToPrompt(client.get()).find("have fun again Tester\r\n"), std::string::npos);
    client.reset(); // the player goes away without typing quit
    EXPECT_EQ(waitForExit(game), 0);
}

TEST_F(GameOnTcp, EndsWhenTheConnectionIsReset)
{
    // A line that keeps the game writing while the connection goes away hard.
    ASSERT_EQ(write(client.get(), "Tester\nhelp more\n", 17), 17);
    const linger reset{1, 0};
    ASSERT_EQ(setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof(reset)), 0);
    client.reset();
    EXPECT_EQ(waitForExit(game), 0);
}

// A telnet client's commands never reach the game as text, a 0xFF in the
// game's output goes out doubled, so that it is no command to the client,
// and its Ctrl-C (IAC IP with a timing mark) ends the game after the mark
// is answered.
TEST_F(GameOnTcp, UnderstandsATelnetClient)
{
    // Negotiation around and inside the name, answered by refusals; an
    // escaped 0xFF in it; CR NUL ends the line.
    const std::string name = "\xff\xfd\x03\xff\xfb\x18Te\xff\xffs\xff\xfa\x18\x00xterm\xff\xf0ter\r\0"s;
    ASSERT_EQ(write(client.get(), name.data(), name.size()), static_cast<ssize_t>(name.size()));
    EXPECT_EQ(
        readToPrompt(client.get()).rfind("\xff\xfc\x03\xff\xfe\x18have fun again Te\xff\xffster\r\nYour Room\r\n", 0),
        0u);
    // A synch: IAC DM with the DM sent as urgent data.
    ASSERT_EQ(write(client.get(), "\xff", 1), 1);
    ASSERT_EQ(send(client.get(), "\xf2", 1, MSG_OOB), 1);
    ASSERT_EQ(write(client.get(), "e\r\0", 3), 3);
    EXPECT_EQ(readToPrompt(client.get()).rfind("\r\nEntrance area\r\n", 0), 0u);
    // A line begun before the interrupt is thrown away, not played.
    ASSERT_EQ(write(client.get(), "take socks", 10), 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(write(client.get(), "\xff\xf4\xff\xfd\x06", 5), 5);
    EXPECT_EQ(readToPrompt(client.get()), "\xff\xfb\x06");
    EXPECT_EQ(waitForExit(game), 0);
}

// A game built to fall asleep after three seconds without a line stays
// awake at a terminal, however long its player thinks.
TEST(IdleLimit, DoesNotApplyAtATerminal)
{
    Fd terminal(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(terminal.get(), 0);
    ASSERT_EQ(grantpt(terminal.get()), 0);
    ASSERT_EQ(unlockpt(terminal.get()), 0);
    Fd player(open(ptsname(terminal.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(player.get(), 0);
    const pid_t game = startGame(player.get(), WEEKEND_DOZING);
    ASSERT_GT(game, 0);
    EXPECT_NE(readToPrompt(terminal.get()).find("Whats you name?"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    int status = 0;
    EXPECT_EQ(waitpid(game, &status, WNOHANG), 0) << "the game ended while its player was thinking";
    ASSERT_EQ(write(terminal.get(), "Tester\nquit\n", 12), 12);
    EXPECT_EQ(waitForExit(game), 0);
}

// Nor does a client's keep-alive (IAC NOP) keep a silent player's game.
TEST(IdleLimit, IgnoresTelnetKeepAlives)
{
    Fd client;
    Fd server;
    ASSERT_TRUE(tcpPair(AF_INET, client, server));
    const pid_t game = startGame(server.get(), WEEKEND_DOZING);
    ASSERT_GT(game, 0);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 24 && ended == 0; ++i) {
        send(client.get(), "\xff\xf1", 2, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ended = waitpid(game, &status, WNOHANG);
    }
    if (ended == 0) {
        kill(game, SIGKILL);
        waitpid(game, &status, 0);
    }
    EXPECT_EQ(ended, game) << "the game still ran after six seconds of keep-alives";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
