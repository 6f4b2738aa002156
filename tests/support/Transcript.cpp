#include "Transcript.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "Parser.h"

namespace support {

namespace {

// Runs of one byte at least this long are written as \{COUNT*BYTE}.
constexpr std::size_t shortestRun = 32;
// A read that nothing answered ("> @idle"); typed, the text is written "\@idle".
constexpr std::string_view idleMark = "@idle";

bool startsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }
bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// True when the character at pos is escaped: an odd number of backslashes before it.
bool escapedAt(std::string_view text, std::size_t pos)
{
    std::size_t backslashes = 0;
    while (backslashes < pos && text[pos - 1 - backslashes] == '\\') {
        ++backslashes;
    }
    return backslashes % 2 == 1;
}

enum class LineEnd { Yes, No, EndOfInput };

struct Ending {
    std::string_view body;
    LineEnd end;
};

// Takes the marker off the end of a line: "^D" (typed lines only), "\" or "$".
Ending splitEnding(std::string_view raw, bool typed)
{
    if (typed && endsWith(raw, "^D") && !escapedAt(raw, raw.size() - 2)) {
        return {raw.substr(0, raw.size() - 2), LineEnd::EndOfInput};
    }
    if (endsWith(raw, "\\") && !escapedAt(raw, raw.size() - 1)) {
        return {raw.substr(0, raw.size() - 1), LineEnd::No};
    }
    if (endsWith(raw, "$") && !escapedAt(raw, raw.size() - 1)) {
        return {raw.substr(0, raw.size() - 1), LineEnd::Yes};
    }
    return {raw, LineEnd::Yes};
}

std::string escapeByte(unsigned char c)
{
    switch (c) {
    case '\\':
        return "\\\\";
    case '\r':
        return "\\r";
    case '\t':
        return "\t";
    default:
        break;
    }
    if (c < 0x20 || c >= 0x7f) {
        char code[8];
        std::snprintf(code, sizeof(code), "\\x%02x", c);
        return code;
    }
    return std::string(1, static_cast<char>(c));
}

// Ends an escaped line: a blank at its end is kept by a "$" after it, and
// a literal character that would read as a marker is escaped.
std::string finishLine(std::string escaped, std::string_view text, LineEnd end, bool typed)
{
    // A backslash before the last length characters of escaped.
    const auto escapeLast = [&escaped](std::size_t length) {
        const std::size_t at = escaped.size() - length;
        escaped = escaped.substr(0, at) + "\\" + escaped.substr(at);
    };
    if (end == LineEnd::Yes && !text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        return escaped + "$";
    }
    if (endsWith(escaped, "$") && !escapedAt(escaped, escaped.size() - 1)) {
        escapeLast(1);
    }
    if (typed && endsWith(escaped, "^D") && !escapedAt(escaped, escaped.size() - 2)) {
        escapeLast(2);
    }
    switch (end) {
    case LineEnd::No:
        return escaped + "\\";
    case LineEnd::EndOfInput:
        return escaped + "^D";
    case LineEnd::Yes:
        break;
    }
    return escaped;
}

// A line of output or of the page file, which must not read as anything else.
std::string outputLine(std::string_view text, LineEnd end)
{
    std::string line = finishLine(escapeText(text), text, end, false);
    const bool special = startsWith(line, "> ") || startsWith(line, "< ") || line == ">" || line == "<" ||
                         startsWith(line, "#") || startsWith(line, "@");
    return special ? "\\" + line : line;
}

// A typed line: the prompt marker, the text as typed, the line's end.
std::string typedLine(bool prompted, const std::string& spelled, std::string_view text, LineEnd end)
{
    const std::string body = finishLine(spelled, text, end, true);
    const std::string marker = prompted ? ">" : "<";
    return body.empty() ? marker : marker + " " + body;
}

std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(from));
            break;
        }
        lines.emplace_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

// Reads transcript lines one after another into a game.
class Reader {
public:
    explicit Reader(std::string fileName) : file(std::move(fileName)) {}

    [[noreturn]] void fail(int line, const std::string& what) const
    {
        throw TranscriptError(file + ":" + std::to_string(line) + ": " + what);
    }

    std::string unescape(std::string_view text, int line) const
    {
        try {
            return unescapeText(text);
        } catch (const TranscriptError& error) {
            fail(line, error.what());
        }
    }

    void line(std::string_view raw, int number)
    {
        const bool prompted = raw == ">" || startsWith(raw, "> ");
        const bool unprompted = raw == "<" || startsWith(raw, "< ");
        if (!prompted && !unprompted) {
            const Ending ending = splitEnding(raw, false);
            chunk += unescape(ending.body, number);
            if (ending.end == LineEnd::Yes) {
                chunk += '\n';
            }
            return;
        }
        const Ending ending = splitEnding(raw.size() > 2 ? raw.substr(2) : std::string_view(), true);
        if (prompted) {
            chunk += "> ";
        }
        if (ended || idled) {
            // After the end of input the game may ask again: it finds the end again.
            if (ended && prompted && ending.body.empty() && ending.end == LineEnd::EndOfInput) {
                return;
            }
            fail(number, ended ? "nothing can be typed after the end of input (^D)" : "nothing comes after @idle");
        }
        Read read;
        read.line = number;
        read.comments = std::move(comments);
        comments.clear();
        read.typed = std::string(ending.body);
        read.text = unescape(ending.body, number);
        read.lineEnd = ending.end == LineEnd::Yes;
        if (ending.body == idleMark && ending.end == LineEnd::Yes) {
            read.idle = true;
            read.text.clear();
            read.lineEnd = false;
            idled = true;
        }
        if (ending.end == LineEnd::EndOfInput && read.text.empty()) {
            read.end = true;
            read.lineEnd = false;
            ended = true;
        }
        game.steps.push_back({std::exchange(chunk, std::string()), std::move(read)});
        if (ending.end == LineEnd::EndOfInput && !ended) {
            Read end;
            end.end = true;
            end.lineEnd = false;
            end.line = number;
            game.steps.push_back({"", std::move(end)});
            ended = true;
        }
    }

    void comment(std::string text) { comments.push_back(std::move(text)); }
    std::vector<std::string> takeComments() { return std::exchange(comments, {}); }
    bool started() const { return !game.steps.empty() || !chunk.empty(); }

    Game finish()
    {
        game.finalOutput = std::exchange(chunk, std::string());
        return std::move(game);
    }

private:
    std::string file;
    Game game;
    std::string chunk;
    std::vector<std::string> comments;
    bool ended = false;
    bool idled = false;
};

Game readLines(const std::vector<std::string>& lines)
{
    Reader reader("start.prefix");
    int number = 0;
    for (const std::string& line : lines) {
        reader.line(line, ++number);
    }
    return reader.finish();
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

} // namespace

std::string Game::input() const
{
    std::string all;
    for (const Step& step : steps) {
        all += step.read.bytes();
    }
    return all;
}

std::string Game::output() const
{
    std::string all;
    for (const Step& step : steps) {
        all += step.output;
    }
    return all + finalOutput;
}

Prompted splitPrompt(std::string_view output)
{
    const bool prompted = endsWith(output, prompt);
    return {prompted ? output.substr(0, output.size() - prompt.size()) : output, prompted};
}

std::vector<std::string> answersOf(const Game& game)
{
    std::vector<std::string> answers;
    for (std::size_t i = 1; i <= game.steps.size(); ++i) {
        answers.emplace_back(splitPrompt(i < game.steps.size() ? game.steps[i].output : game.finalOutput).text);
    }
    return answers;
}

std::string escapeText(std::string_view text)
{
    std::string escaped;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t run = 1;
        while (i + run < text.size() && text[i + run] == text[i]) {
            ++run;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (run >= shortestRun) {
            escaped += "\\{" + std::to_string(run) + "*" + (c == '}' ? std::string("\\}") : escapeByte(c)) + "}";
            i += run;
        } else {
            escaped += escapeByte(c);
            ++i;
        }
    }
    return escaped;
}

std::string unescapeText(std::string_view text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (++i == text.size()) {
            throw TranscriptError("a lone \\ at the end");
        }
        const char c = text[i];
        if (c == 'x') {
            const std::string hex(text.substr(i + 1, 2));
            if (hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
                !std::isxdigit(static_cast<unsigned char>(hex[1]))) {
                throw TranscriptError("\\x needs two hex digits");
            }
            bytes += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 2;
        } else if (c == 'r') {
            bytes += '\r';
        } else if (c == 't') {
            bytes += '\t';
        } else if (c == '{') {
            // \{COUNT*TEXT}: TEXT (escapes allowed, "}" written \}) COUNT times.
            const std::size_t star = text.find('*', i);
            std::size_t close = star;
            while (close != std::string_view::npos) {
                close = text.find('}', close + 1);
                if (close == std::string_view::npos || !escapedAt(text, close)) {
                    break;
                }
            }
            const std::string count(text.substr(i + 1, star == std::string_view::npos ? 0 : star - i - 1));
            if (close == std::string_view::npos || count.empty() ||
                count.find_first_not_of("0123456789") != std::string::npos) {
                throw TranscriptError("a repeat is written \\{COUNT*TEXT}");
            }
            const std::string piece = unescapeText(text.substr(star + 1, close - star - 1));
            for (unsigned long n = std::stoul(count); n > 0; --n) {
                bytes += piece;
            }
            i = close;
        } else if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            throw TranscriptError(std::string("unknown escape \\") + c);
        } else {
            bytes += c;
        }
    }
    return bytes;
}

std::vector<std::string> renderText(std::string_view text)
{
    std::vector<std::string> lines;
    const bool complete = text.empty() || text.back() == '\n';
    const std::vector<std::string> pieces = splitLines(text);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        lines.push_back(outputLine(pieces[i], i + 1 == pieces.size() && !complete ? LineEnd::No : LineEnd::Yes));
    }
    return lines;
}

std::vector<std::string> prefixBody(std::string_view text)
{
    std::vector<std::string> lines;
    for (std::string& line : splitLines(text)) {
        if (!startsWith(line, "#")) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

Transcript parseTranscript(const std::string& file, std::string_view text, const std::vector<std::string>& prefixLines)
{
    Transcript transcript;
    transcript.file = file;
    Reader reader(file);
    const std::vector<std::string> lines = splitLines(text);
    if (lines.empty() || !startsWith(lines[0], "# ")) {
        reader.fail(1, "the first line describes the transcript and starts with \"# \"");
    }
    bool inHeader = true;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& raw = lines[i];
        const int number = static_cast<int>(i) + 1;
        if (startsWith(raw, "#")) {
            if (inHeader) {
                transcript.header.push_back(raw);
            } else {
                reader.comment(raw);
            }
            continue;
        }
        inHeader = false;
        if (raw == "@page file before" || raw == "@page file after") {
            std::vector<std::string> block{raw};
            std::string content;
            while (true) {
                if (++i == lines.size()) {
                    reader.fail(number, raw + " has no @end");
                }
                block.push_back(lines[i]);
                if (lines[i] == "@end") {
                    break;
                }
                const Ending ending = splitEnding(lines[i], false);
                content += reader.unescape(ending.body, static_cast<int>(i) + 1);
                content += ending.end == LineEnd::Yes ? "\n" : "";
            }
            if (raw == "@page file before") {
                transcript.setup.insert(transcript.setup.end(), block.begin(), block.end());
                transcript.pageFileBefore = std::move(content);
            } else {
                transcript.pageFileAfter = std::move(content);
            }
            continue;
        }
        if (raw == "@page file read-only" || raw == "@page file is a folder") {
            transcript.setup.push_back(raw);
            (raw == "@page file read-only" ? transcript.pageFileReadOnly : transcript.pageFileFolder) = true;
            continue;
        }
        if (raw == "@welcome" || startsWith(raw, "@start ")) {
            if (reader.started() || !transcript.startDirective.empty()) {
                reader.fail(number, raw + " must come before the game's first line");
            }
            const std::string name = raw == "@welcome" ? "" : raw.substr(7);
            for (const std::string& line : prefixLines) {
                if (raw == "@welcome" && line == "> {name}") {
                    break;
                }
                transcript.startLines.push_back(replaceAll(line, "{name}", name));
            }
            transcript.startDirective = raw;
            for (const std::string& line : transcript.startLines) {
                reader.line(line, number);
            }
            // The directive's own steps carry no comments; those before it belong to the header.
            transcript.startSteps = readLines(transcript.startLines).steps.size();
            continue;
        }
        if (startsWith(raw, "@")) {
            reader.fail(number, "unknown directive " + raw);
        }
        reader.line(raw, number);
    }
    transcript.trailingComments = reader.takeComments();
    transcript.game = reader.finish();
    return transcript;
}

std::vector<std::string> renderGame(const Game& game, const std::vector<Read>& typed)
{
    std::vector<std::string> lines;
    bool ended = false;
    for (std::size_t k = 0; k < game.steps.size(); ++k) {
        const auto [output, prompted] = splitPrompt(game.steps[k].output);
        for (std::string& line : renderText(output)) {
            lines.push_back(std::move(line));
        }
        const Read& read = game.steps[k].read;
        if (k < typed.size()) {
            lines.insert(lines.end(), typed[k].comments.begin(), typed[k].comments.end());
        }
        if (read.end) {
            lines.push_back(typedLine(prompted, "", "", LineEnd::EndOfInput));
            ended = true;
            continue;
        }
        if (read.idle) {
            lines.push_back(typedLine(prompted, std::string(idleMark), "", LineEnd::Yes));
            continue;
        }
        std::string spelled = k < typed.size() && typed[k].text == read.text ? typed[k].typed : escapeText(read.text);
        if (spelled == idleMark) {
            spelled = "\\" + spelled;
        }
        LineEnd end = read.lineEnd ? LineEnd::Yes : LineEnd::No;
        // Text without a line end and then at once the end of input: "TEXT^D".
        if (!read.lineEnd && k + 1 < game.steps.size() && game.steps[k + 1].read.end &&
            game.steps[k + 1].output.empty()) {
            end = LineEnd::EndOfInput;
            ended = true;
            ++k;
        }
        lines.push_back(typedLine(prompted, spelled, read.text, end));
    }
    const Prompted rest = splitPrompt(game.finalOutput);
    const bool askedAgain = ended && rest.prompted;
    for (std::string& line : renderText(askedAgain ? rest.text : game.finalOutput)) {
        lines.push_back(std::move(line));
    }
    if (askedAgain) {
        lines.emplace_back("> ^D");
    }
    return lines;
}

std::string renderTranscript(const Transcript& old, const Game& actual, const std::optional<std::string>& pageFileAfter)
{
    std::vector<Read> typed;
    for (const Step& step : old.game.steps) {
        typed.push_back(step.read);
    }
    std::vector<std::string> lines = old.header;
    lines.insert(lines.end(), old.setup.begin(), old.setup.end());
    std::vector<std::string> game = renderGame(actual, typed);
    if (!old.startDirective.empty()) {
        const std::vector<std::string> start = renderGame(readLines(old.startLines));
        if (game.size() >= start.size() && std::equal(start.begin(), start.end(), game.begin())) {
            lines.push_back(old.startDirective);
            game.erase(game.begin(), game.begin() + static_cast<std::ptrdiff_t>(start.size()));
        }
    }
    lines.insert(lines.end(), game.begin(), game.end());
    lines.insert(lines.end(), old.trailingComments.begin(), old.trailingComments.end());
    if (pageFileAfter && pageFileAfter != old.pageFileBefore) {
        lines.emplace_back("@page file after");
        for (std::string& line : renderText(*pageFileAfter)) {
            lines.push_back(std::move(line));
        }
        lines.emplace_back("@end");
    }
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

} // namespace support
