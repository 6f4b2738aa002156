#include "OutputLog.h"

#include <algorithm>

void OutputLog::append(std::string_view bytes)
{
    if (bytes.size() >= capacity) {
        first += kept.size() + bytes.size() - capacity;
        kept.assign(bytes.substr(bytes.size() - capacity));
    } else {
        kept.append(bytes);
        if (kept.size() > capacity) {
            const std::size_t dropped = kept.size() - capacity;
            kept.erase(0, dropped);
            first += dropped;
        }
    }
    while (!typedLines.empty() && typedLines.front().at < first) {
        typedLines.pop_front();
    }
}

void OutputLog::typed(std::uint64_t input, std::string_view text)
{
    // Every line gets an answer, a prompt at least, which keeps the lines
    // as few as the output's; a flood of lines without one is cut short.
    if (typedLines.size() >= capacity / 64) {
        typedLines.pop_front();
    }
    typedLines.push_back({end(), input, std::string(text.substr(0, typedLimit))});
}

std::string_view OutputLog::from(std::uint64_t offset, std::size_t most) const
{
    const std::uint64_t at = std::clamp(offset, start(), end()) - first;
    return std::string_view(kept).substr(static_cast<std::size_t>(at), most);
}

std::uint64_t OutputLog::lastLineStart() const
{
    const std::size_t lineEnd = kept.rfind('\n');
    return lineEnd == std::string::npos ? first : first + lineEnd + 1;
}
