#include "Holder.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iostream>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "DoorIo.h"
#include "HeldGames.h"
#include "OutputLog.h"
#include "Secret.h"
#include "TcpSocket.h"
#include "TelnetInput.h"
#include "TelnetOutput.h"
#include "WebFrames.h"

namespace {

// As much as one read takes in, from the game or from the player.
constexpr std::size_t chunk = std::size_t{64} * 1024;
// The player's text waiting for the game, and the output waiting for the
// player, beyond which the door stops reading the side that sends them.
constexpr std::size_t backlog = std::size_t{64} * 1024;
// How long a door that came back waits for the answer of the one it asks.
constexpr auto requestWait = std::chrono::seconds(3);
// How long the last output may take to reach a player once the game ended.
constexpr auto farewellWait = std::chrono::seconds(5);
// The longest first line looked at as a "resume CODE" request.
constexpr std::size_t resumeLineLimit = 256;
// How many callers' requests may be on their way at once.
constexpr std::size_t callerLimit = 8;

enum class Kind { telnet, web };

// A connection to a game's socket whose request has not all come yet.
struct Caller {
    int fd = -1;
    std::string got;
    int passed = -1; // the connection a door that came back hands over
    Clock::time_point deadline;
};

// The player's connection.
struct Connection {
    Kind kind = Kind::web;
    int in = -1;
    int out = -1;
    std::string address; // the player's, for the journal
    TelnetInput telnet;
    std::string queue;         // bytes waiting to be written
    std::uint64_t sent = 0;    // the output offset up to which the queue was filled
    std::uint64_t written = 0; // bytes written to the connection in all
    // Telnet: pairs of a position on the connection (bytes written) and the
    // output offset that the bytes up to it carry.
    std::deque<std::pair<std::uint64_t, std::uint64_t>> marks;
    // Web: the player's lines shown again are those kept from here on, after
    // the input count given.
    std::uint64_t typedInput = 0;
    bool closing = false; // closed once the queue is written
};

Connection connectionOn(int in, int out, Kind kind)
{
    Connection connection;
    connection.in = in;
    connection.out = out;
    connection.kind = kind;
    return connection;
}

void closeConnection(Connection& connection)
{
    if (connection.out != connection.in && connection.out >= 0) {
        ::close(connection.out);
    }
    if (connection.in >= 0) {
        ::close(connection.in);
    }
    connection.in = connection.out = -1;
}

// "resume CODE" typed as a TCP connection's first line: the code, or empty.
// A code is taken as one however it is spaced, dashed or capitalised, and
// only when it has a code's length, so that a player named "Resume Bob" is
// just that.
std::string resumeRequest(std::string_view line)
{
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    const std::vector<std::string> parts = splitWords(line);
    if (parts.size() < 2 || !equalsIgnoringCase(parts[0], "resume")) {
        return "";
    }
    std::string typed;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        typed += parts[i];
    }
    const std::string code = secret::normalize(typed);
    return code.size() == secret::codeLength ? code : "";
}

std::string inWords(std::chrono::seconds limit)
{
    if (limit.count() % 60 == 0) {
        const long long minutes = limit.count() / 60;
        return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
    }
    return std::to_string(limit.count()) + " seconds";
}

class Holder {
public:
    Holder(const HoldSettings& settings, int in, int out)
        : settings(settings), held(settings.heldFolder), kind(isTcpSocket(in) ? Kind::telnet : Kind::web),
          player(connectionOn(in, out, kind))
    {
    }

    int run();

private:
    bool opened();
    void listen();
    void startGame();
    void greet();
    void loop();
    void readGame();
    void writeGame();
    void endInput();
    void gameEnded();
    void readPlayer();
    void writePlayer();
    void take(std::string_view text);
    void forward(std::string_view text);
    void pump(bool everything = false);
    void lost(bool reset);
    std::uint64_t delivered() const;
    void acceptReturn();
    bool hearCaller(Caller& caller);
    void answerCaller(int fd, const std::vector<std::string>& parts, const std::string& rest, int passed);
    void attach(Connection connection, std::uint64_t from);
    void retire(Connection& connection);
    bool handOver(const std::string& code, std::string_view rest);
    void restartGame();
    void finishGame(Clock::time_point deadline);
    void flushAndClose(Connection& connection, Clock::time_point deadline);

    bool holding() const { return listener >= 0; }
    std::optional<Clock::time_point> earliestCaller() const;

    const HoldSettings& settings;
    HeldGames held;
    const Kind kind; // the game's players come over TCP, or from web pages
    std::string secret;
    int listener = -1;
    std::string listenerPath;

    pid_t game = -1;
    int toGame = -1;
    int fromGame = -1;
    std::string pendingInput; // the player's text not yet taken by the game
    std::string typing;       // the line the player is typing, as far as it is kept
    bool inputEnds = false;   // the game's input is closed once pendingInput is in
    bool over = false;        // the game has ended
    int status = 0;           // its wait status
    OutputLog log;
    std::uint64_t inputCount = 0; // the player's bytes received in all
    bool named = false;           // the game got past its name prompt
    bool interrupted = false;     // the player ended the game with Ctrl-C
    bool firstLineOpen = true;    // a TCP connection's first line may still be "resume CODE"
    std::string firstLine;

    std::optional<Connection> player;
    std::string early;            // text that came with a relay's request
    std::uint64_t resumeFrom = 0; // a dropped TCP player's first undelivered output
    std::uint64_t confirmed = 0;  // output a TCP player had surely received when it last typed
    std::optional<Clock::time_point> holdUntil;
    std::optional<Clock::time_point> farewellUntil;
    std::vector<Caller> callers; // connections to this game's socket whose request is still coming
};

volatile sig_atomic_t terminationSignal = 0;

void onTermination(int signal) { terminationSignal = signal; }

int Holder::run()
{
    if (!opened()) {
        closeConnection(*player);
        return 1;
    }
    listen();
    try {
        startGame();
    } catch (const std::exception& problem) {
        say(std::string("cannot start the game: ") + problem.what());
        if (player->kind == Kind::web) {
            frame::append(player->queue, frame::end, frame::stopped);
            flushAndClose(*player, Clock::now() + farewellWait);
        } else {
            closeConnection(*player);
        }
        if (!listenerPath.empty()) {
            ::unlink(listenerPath.c_str());
        }
        return 1;
    }
    greet();
    take(early);
    loop();
    if (listener >= 0) {
        ::close(listener);
        ::unlink(listenerPath.c_str());
    }
    return 0;
}

// Reads what the connection begins with: a relay's "new ADDRESS" line for a
// web player; a TCP connection's peer address.
bool Holder::opened()
{
    Connection& connection = *player;
    if (connection.kind == Kind::telnet) {
        connection.address = peerAddress(connection.in);
        disableNagleOnTcp(connection.out);
        keepUrgentDataInLine(connection.in);
        secret = secret::make(secret::codeLength);
        return true;
    }
    std::string line;
    std::string rest;
    if (!readLine(connection.in, line, rest, nullptr, Clock::now() + requestWait)) {
        say("a connection that is neither TCP nor a relay's; standard input must be one of them");
        return false;
    }
    const std::vector<std::string> parts = splitWords(line);
    if (parts.size() != 2 || parts[0] != "new") {
        say("a relay's connection without its request");
        return false;
    }
    connection.address = parts[1];
    early = rest;
    secret = secret::make(secret::tokenLength);
    say("a new web game for a player at " + connection.address);
    return true;
}

// Makes the socket where the player can come back to this game, if games
// are held here.
void Holder::listen()
{
    if (settings.resumeLimit.count() <= 0 || settings.heldFolder.empty()) {
        return;
    }
    // TCP and web games are counted apart by address: each door has limits of its own.
    const std::string door = kind == Kind::telnet ? "tcp " : "web ";
    listener = held.listen(secret, door + player->address, listenerPath);
    if (listener < 0) {
        say("games are not held: cannot listen in " + settings.heldFolder + ": " + std::strerror(errno));
        listenerPath.clear();
    }
}

void Holder::startGame()
{
    const GameProcess started = spawnGame(settings.game);
    game = started.pid;
    toGame = started.input;
    fromGame = started.output;
    log = OutputLog();
    typing.clear();
    inputCount = 0;
    named = false;
    over = false;
    pendingInput.clear();
    inputEnds = false;
    if (player) {
        player->sent = 0;
        player->typedInput = 0;
        player->marks.assign({{player->written + player->queue.size(), 0}});
    }
}

// What a player hears from the door before the game's first word: a TCP
// player the resume code, a web page that its game is there.
void Holder::greet()
{
    Connection& connection = *player;
    if (connection.kind == Kind::web) {
        frame::append(connection.queue, frame::hello,
                      helloJson(secret, 0, 0, holding() ? settings.resumeLimit : std::chrono::seconds{}));
    } else if (holding()) {
        appendNvt(connection.queue, "If your connection drops, connect again within " + inWords(settings.resumeLimit) +
                                        " and type: resume " + secret::grouped(secret) + "\n");
    }
    connection.marks.assign({{connection.written + connection.queue.size(), 0}});
}

void Holder::loop()
{
    while (true) {
        if (over && (!player || player->queue.empty() || (farewellUntil && Clock::now() >= *farewellUntil))) {
            if (player) {
                closeConnection(*player);
                player.reset();
            }
            return;
        }
        std::vector<pollfd> watched;
        const auto watch = [&watched](int fd, short events) {
            watched.push_back({fd, events, 0});
            return watched.size() - 1;
        };
        std::optional<std::size_t> gameOut, gameIn, playerIn, playerOut, returns;
        const bool playerLags = player && log.end() - player->sent > backlog;
        if (!over && fromGame >= 0 && !playerLags) {
            gameOut = watch(fromGame, POLLIN);
        }
        if (toGame >= 0 && !pendingInput.empty()) {
            gameIn = watch(toGame, POLLOUT);
        }
        if (player && !player->closing && pendingInput.size() < backlog && !inputEnds) {
            playerIn = watch(player->in, POLLIN);
        }
        if (player && !player->queue.empty()) {
            playerOut = watch(player->out, POLLOUT);
        }
        if (listener >= 0 && !over) {
            returns = watch(listener, POLLIN);
        }
        const std::size_t firstCaller = watched.size();
        for (const Caller& caller : callers) {
            watch(caller.fd, POLLIN);
        }
        std::optional<Clock::time_point> wake = holdUntil;
        for (const std::optional<Clock::time_point> also : {farewellUntil, earliestCaller()}) {
            if (also && (!wake || *also < *wake)) {
                wake = also;
            }
        }
        const int ready = waitFor(watched, wake);
        if (terminationSignal != 0) {
            // The service is stopped: the game ends as the signal says, and
            // a web page hears that it stopped.
            const int signal = terminationSignal;
            terminationSignal = 0;
            if (game > 0 && !over) {
                ::kill(game, signal);
            }
            endInput();
            continue;
        }
        if (ready < 0) {
            continue;
        }
        if (holdUntil && Clock::now() >= *holdUntil) {
            say("nobody came back within " + inWords(settings.resumeLimit) + ": the held game ends");
            holdUntil.reset();
            endInput();
        }
        const auto happened = [&watched](std::optional<std::size_t> at, short events) {
            return at && (watched[*at].revents & (events | POLLHUP | POLLERR | POLLNVAL)) != 0;
        };
        if (happened(gameOut, POLLIN)) {
            readGame();
        }
        if (happened(gameIn, POLLOUT)) {
            writeGame();
        }
        if (player && happened(playerOut, POLLOUT)) {
            writePlayer();
        }
        if (player && happened(playerIn, POLLIN)) {
            readPlayer();
        }
        // Callers first, whose places in watched shift once one is done.
        const auto now = Clock::now();
        std::vector<Caller> waiting;
        for (std::size_t i = 0; i < callers.size(); ++i) {
            Caller& caller = callers[i];
            const bool heard = (watched[firstCaller + i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
            if (heard && hearCaller(caller)) {
                continue;
            }
            if (!heard && now >= caller.deadline) {
                ::close(caller.fd); // it said too little in time
                if (caller.passed >= 0) {
                    ::close(caller.passed);
                }
                continue;
            }
            waiting.push_back(std::move(caller));
        }
        callers = std::move(waiting);
        if (happened(returns, POLLIN)) {
            acceptReturn();
        }
    }
}

std::optional<Clock::time_point> Holder::earliestCaller() const
{
    std::optional<Clock::time_point> earliest;
    for (const Caller& caller : callers) {
        if (!earliest || caller.deadline < *earliest) {
            earliest = caller.deadline;
        }
    }
    return earliest;
}

void Holder::readGame()
{
    char buffer[chunk];
    const ssize_t got = ::read(fromGame, buffer, sizeof(buffer));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (got <= 0) {
        gameEnded();
        return;
    }
    log.append(std::string_view(buffer, static_cast<std::size_t>(got)));
    pump();
}

void Holder::writeGame()
{
    const ssize_t wrote = ::write(toGame, pendingInput.data(), pendingInput.size());
    if (wrote < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (wrote < 0) {
        pendingInput.clear(); // the game is gone; its end is read from its output
    } else {
        pendingInput.erase(0, static_cast<std::size_t>(wrote));
    }
    if (pendingInput.empty() && inputEnds && toGame >= 0) {
        ::close(toGame);
        toGame = -1;
    }
}

// The game's input ends once what the player sent has gone in: the game
// ends as at the end of its input.
void Holder::endInput()
{
    inputEnds = true;
    if (pendingInput.empty() && toGame >= 0) {
        ::close(toGame);
        toGame = -1;
    }
}

void Holder::gameEnded()
{
    ::close(fromGame);
    fromGame = -1;
    if (toGame >= 0) {
        ::close(toGame);
        toGame = -1;
    }
    while (::waitpid(game, &status, 0) < 0 && errno == EINTR) {
    }
    over = true;
    holdUntil.reset();
    const bool byItself = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!byItself) {
        say(WIFSIGNALED(status) ? "the game was ended by signal " + std::to_string(WTERMSIG(status))
                                : "the game ended with status " + std::to_string(WEXITSTATUS(status)));
    }
    if (listener >= 0) {
        ::close(listener);
        ::unlink(listenerPath.c_str());
        listener = -1;
    }
    if (player) {
        pump(true);
        if (player->kind == Kind::web) {
            frame::append(player->queue, frame::end, byItself ? frame::ended : frame::stopped);
        }
        player->closing = true;
        farewellUntil = Clock::now() + farewellWait;
    }
}

void Holder::readPlayer()
{
    Connection& connection = *player;
    char buffer[chunk];
    const ssize_t got = ::read(connection.in, buffer, sizeof(buffer));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (got <= 0) {
        lost(got < 0);
        return;
    }
    auto size = static_cast<std::size_t>(got);
    if (connection.kind == Kind::web) {
        take(std::string_view(buffer, size));
        frame::append(connection.queue, frame::received, std::to_string(inputCount));
        return;
    }
    // Whatever the player typed, the output acknowledged so far had arrived.
    confirmed = std::max(confirmed, delivered());
    size = connection.telnet.decode(buffer, size);
    // The answers the client is owed go out before any output that follows.
    connection.queue += connection.telnet.replies();
    connection.telnet.replies().clear();
    const bool interrupt = connection.telnet.interrupted();
    take(std::string_view(buffer, size));
    if (!player) {
        return; // handed over to the door that holds this player's game
    }
    if (interrupt && !interrupted) {
        // Ctrl-C: the whole lines before it still count, then the game ends.
        interrupted = true;
        if (firstLineOpen) {
            firstLineOpen = false;
            firstLine.clear();
        }
        endInput();
    }
}

// The player's text, with a TCP connection's first line held back until it
// is clear whether it asks to resume another game.
void Holder::take(std::string_view text)
{
    if (text.empty()) {
        return;
    }
    if (player->kind == Kind::web || !firstLineOpen) {
        forward(text);
        return;
    }
    firstLine.append(text);
    const std::size_t lineEnd = firstLine.find('\n');
    if (lineEnd == std::string::npos && firstLine.size() <= resumeLineLimit) {
        return;
    }
    firstLineOpen = false;
    const std::string code = lineEnd == std::string::npos ? "" : resumeRequest(firstLine.substr(0, lineEnd));
    std::string line = std::move(firstLine);
    firstLine.clear();
    if (code.empty()) {
        forward(line);
    } else if (!handOver(code, std::string_view(line).substr(lineEnd + 1))) {
        appendNvt(player->queue, "That resume code is wrong, or its game is over: here is a new game.\n");
        restartGame();
        take(std::string_view(line).substr(lineEnd + 1));
    }
}

void Holder::forward(std::string_view text)
{
    if (inputEnds) {
        return;
    }
    pendingInput.append(text);
    // The lines, for a page that shows the game again: as much of each as
    // the log keeps.
    const auto keep = [this](std::string_view part) {
        typing.append(part.substr(0, OutputLog::typedLimit - std::min(typing.size(), OutputLog::typedLimit)));
    };
    for (std::size_t lineEnd = text.find('\n'); lineEnd != std::string_view::npos; lineEnd = text.find('\n')) {
        keep(text.substr(0, lineEnd));
        inputCount += lineEnd + 1;
        log.typed(inputCount, typing);
        typing.clear();
        named = true;
        text.remove_prefix(lineEnd + 1);
    }
    keep(text);
    inputCount += text.size();
}

// Fills the player's queue from the log, as far as the queue may grow, or
// with everything that is left (once the game has ended).
void Holder::pump(bool everything)
{
    if (!player || player->closing) {
        return;
    }
    Connection& connection = *player;
    const bool web = connection.kind == Kind::web;
    const std::deque<OutputLog::Typed>& lines = log.lines();
    auto line =
        std::upper_bound(lines.begin(), lines.end(), connection.typedInput,
                         [](std::uint64_t input, const OutputLog::Typed& typed) { return input < typed.input; });
    while (everything || connection.queue.size() < backlog) {
        // A page hears of the player's lines where they came in the output.
        if (web && line != lines.end() && line->at <= connection.sent) {
            frame::append(connection.queue, frame::typed, std::to_string(line->input) + " " + line->text);
            connection.typedInput = line->input;
            ++line;
            continue;
        }
        if (connection.sent >= log.end()) {
            break;
        }
        const std::uint64_t from = std::max(connection.sent, log.start());
        const std::uint64_t until = web && line != lines.end() ? std::min(line->at, log.end()) : log.end();
        const std::string_view bytes =
            log.from(from, static_cast<std::size_t>(std::min<std::uint64_t>(until - from, chunk)));
        if (web) {
            frame::append(connection.queue, frame::output, bytes);
        } else {
            appendNvt(connection.queue, bytes);
        }
        connection.sent = from + bytes.size();
        connection.marks.emplace_back(connection.written + connection.queue.size(), connection.sent);
    }
}

void Holder::writePlayer()
{
    Connection& connection = *player;
    const ssize_t wrote = ::write(connection.out, connection.queue.data(), connection.queue.size());
    if (wrote < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (wrote < 0) {
        lost(true);
        return;
    }
    connection.queue.erase(0, static_cast<std::size_t>(wrote));
    connection.written += static_cast<std::uint64_t>(wrote);
    pump();
}

// The output offset up to which a TCP player has surely received the
// game's output: what the connection's peer has acknowledged.
std::uint64_t Holder::delivered() const
{
    const Connection& connection = *player;
    const std::uint64_t unsent = unacknowledgedBytes(connection.out);
    const std::uint64_t arrived = connection.written - std::min<std::uint64_t>(unsent, connection.written);
    std::uint64_t offset = connection.marks.empty() ? 0 : connection.marks.front().second;
    for (const auto& [position, carried] : connection.marks) {
        if (position > arrived) {
            break;
        }
        offset = carried;
    }
    return offset;
}

// The connection dropped: the game waits for its player, if it may. A
// TCP connection that was reset took what was on its way with it: what the
// player had surely received is what was acknowledged when it last typed.
void Holder::lost(bool reset)
{
    if (player->kind == Kind::telnet) {
        resumeFrom = reset ? confirmed : std::max(confirmed, delivered());
    }
    closeConnection(*player);
    player.reset();
    if (over) {
        return;
    }
    if (!holding() || !named || interrupted) {
        endInput();
        return;
    }
    say("the connection dropped; the game waits " + inWords(settings.resumeLimit) + " for its player");
    holdUntil = Clock::now() + settings.resumeLimit;
}

void Holder::acceptReturn()
{
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return;
    }
    if (callers.size() >= callerLimit) {
        ::close(fd);
        return;
    }
    callers.push_back({fd, {}, -1, Clock::now() + requestWait});
}

// Reads what a caller sent; true once it is done with, answered or not.
// "resume web TOKEN SEEN ADDRESS" comes from a relay; "resume tcp CODE
// SIZE", with the connection itself and then SIZE bytes of what its player
// typed after the request, from a door that came back; a relay that only
// counts the games of an address closes at once.
bool Holder::hearCaller(Caller& caller)
{
    char buffer[4096];
    const ssize_t got = receiveWithDescriptor(caller.fd, buffer, sizeof(buffer), &caller.passed);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return false;
    }
    if (got > 0) {
        caller.got.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t lineEnd = caller.got.find('\n');
    const std::vector<std::string> parts =
        splitWords(std::string_view(caller.got).substr(0, std::min(lineEnd, caller.got.size())));
    const bool tcp = parts.size() == 4 && parts[0] == "resume" && parts[1] == "tcp";
    std::uint64_t extra = 0;
    const bool sized = !tcp || (parseNumber(parts[3], extra) && extra <= chunk);
    const bool complete = lineEnd != std::string::npos && sized && caller.got.size() - lineEnd - 1 >= extra;
    if (!complete && got > 0 && caller.got.size() <= requestLimit + chunk && sized) {
        return false;
    }
    if (complete) {
        answerCaller(caller.fd, parts, caller.got.substr(lineEnd + 1), caller.passed);
    } else {
        ::close(caller.fd);
        if (caller.passed >= 0) {
            ::close(caller.passed);
        }
    }
    return true;
}

void Holder::answerCaller(int fd, const std::vector<std::string>& parts, const std::string& rest, int passed)
{
    const bool web = parts.size() == 5 && parts[0] == "resume" && parts[1] == "web";
    const bool tcp = parts.size() == 4 && parts[0] == "resume" && parts[1] == "tcp" && passed >= 0;
    std::uint64_t seen = 0;
    const bool right = (web || tcp) && (web ? Kind::web : Kind::telnet) == kind && !over &&
                       secret::same(secret::normalize(parts[2]), secret) && (!web || parseNumber(parts[3], seen));
    if (!right) {
        say("a wrong or stale request to resume this game was refused");
        std::string refusal;
        if (web) {
            frame::append(refusal, frame::end, frame::expired);
        } else if (tcp) {
            refusal = "no\n";
        }
        writeAllBefore(fd, refusal, Clock::now() + requestWait);
        ::close(fd);
        if (passed >= 0) {
            ::close(passed);
        }
        return;
    }
    Connection connection;
    connection.kind = kind;
    if (web) {
        connection.in = connection.out = fd;
        connection.address = parts[4];
        if (passed >= 0) {
            ::close(passed);
        }
    } else {
        writeAllBefore(fd, "ok\n", Clock::now() + requestWait);
        ::close(fd);
        connection.in = connection.out = passed;
        connection.address = peerAddress(passed);
        disableNagleOnTcp(passed);
        keepUrgentDataInLine(passed);
        setNonBlocking(passed);
    }
    say("the game was resumed by its player at " + connection.address);
    if (player) {
        retire(*player);
    }
    std::uint64_t from = seen;
    if (!web) {
        // What the player missed; if nothing, the game's last line (its
        // prompt) again, so that the player sees where the game waits.
        from = resumeFrom < log.end() ? resumeFrom : log.lastLineStart();
    }
    attach(std::move(connection), from);
    if (tcp) {
        take(rest);
    }
}

// Another connection took the game over: a web page hears so, a TCP client
// gets a line; either is closed.
void Holder::retire(Connection& connection)
{
    if (connection.kind == Kind::telnet) {
        resumeFrom = std::max(confirmed, delivered());
        appendNvt(connection.queue, "This game goes on in a newer connection.\n");
    } else {
        frame::append(connection.queue, frame::end, frame::elsewhere);
    }
    flushAndClose(connection, Clock::now() + std::chrono::milliseconds(200));
    player.reset();
}

void Holder::attach(Connection connection, std::uint64_t from)
{
    holdUntil.reset();
    from = std::clamp(from, log.start(), log.end());
    confirmed = from;
    connection.sent = from;
    // The lines typed before from are the page's already.
    for (const OutputLog::Typed& line : log.lines()) {
        if (line.at >= from) {
            break;
        }
        connection.typedInput = line.input;
    }
    connection.marks.assign({{0, from}});
    if (connection.kind == Kind::web) {
        frame::append(connection.queue, frame::hello,
                      helloJson(secret, inputCount, from, holding() ? settings.resumeLimit : std::chrono::seconds{}));
    }
    player = std::move(connection);
    pump();
}

// Hands this connection to the door that holds the game with this code.
// True once that door took it; this door's own game then ends.
bool Holder::handOver(const std::string& code, std::string_view rest)
{
    if (settings.heldFolder.empty()) {
        return false;
    }
    const int fd = held.connect(code);
    if (fd < 0) {
        return false;
    }
    setNonBlocking(fd);
    const std::string request = "resume tcp " + code + " " + std::to_string(rest.size()) + "\n";
    std::string answer;
    std::string after;
    const bool taken = sendWithDescriptor(fd, request + std::string(rest), player->in) &&
                       readLine(fd, answer, after, nullptr, Clock::now() + requestWait) && answer == "ok";
    ::close(fd);
    if (!taken) {
        return false;
    }
    // The other door has the connection now: this one only lets go of it.
    closeConnection(*player);
    player.reset();
    endInput();
    return true;
}

// A new game, after a wrong resume code: the first one never got past its
// name prompt.
void Holder::restartGame()
{
    finishGame(Clock::now() + requestWait);
    firstLineOpen = true;
    startGame();
    greet();
}

// Ends a game that has not got past its name prompt: its input closes, and
// what it still prints goes nowhere. One that does not end in time is killed.
void Holder::finishGame(Clock::time_point deadline)
{
    ::close(toGame);
    toGame = -1;
    char buffer[chunk];
    while (true) {
        const ssize_t got = ::read(fromGame, buffer, sizeof(buffer));
        if (got > 0 || (got < 0 && errno == EINTR)) {
            continue;
        }
        if (got == 0 || errno != EAGAIN) {
            break;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd ready{fromGame, POLLIN, 0};
        if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) == 0) {
            ::kill(game, SIGKILL);
            break;
        }
    }
    ::close(fromGame);
    fromGame = -1;
    while (::waitpid(game, &status, 0) < 0 && errno == EINTR) {
    }
}

void Holder::flushAndClose(Connection& connection, Clock::time_point deadline)
{
    writeAllBefore(connection.out, connection.queue, deadline);
    connection.queue.clear();
    closeConnection(connection);
}

} // namespace

int holdGame(const HoldSettings& settings, int in, int out)
{
    setNonBlocking(in);
    if (out != in) {
        setNonBlocking(out);
    }
    // The signals that stop a service end the game as they would have, and
    // the door tells its player so before it goes.
    sigset_t termination;
    sigemptyset(&termination);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&termination, signal);
        struct sigaction action {};
        action.sa_handler = onTermination;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
    ::sigprocmask(SIG_BLOCK, &termination, nullptr);
    Holder holder(settings, in, out);
    return holder.run();
}
