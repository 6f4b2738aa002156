#include "WebFrames.h"

#include <algorithm>

namespace frame {

void append(std::string& out, char type, std::string_view payload)
{
    const auto size = static_cast<std::uint32_t>(payload.size());
    out += type;
    for (const int shift : {24, 16, 8, 0}) {
        out += static_cast<char>((size >> shift) & 0xff);
    }
    out.append(payload);
}

void Watcher::pass(std::string_view bytes)
{
    while (!bytes.empty()) {
        if (payloadLeft > 0) {
            const auto skipped = static_cast<std::size_t>(std::min<std::uint64_t>(payloadLeft, bytes.size()));
            payloadLeft -= skipped;
            bytes.remove_prefix(skipped);
            continue;
        }
        header[headerHave++] = static_cast<unsigned char>(bytes.front());
        bytes.remove_prefix(1);
        if (headerHave == sizeof(header)) {
            headerHave = 0;
            any = true;
            endSeen = endSeen || header[0] == static_cast<unsigned char>(end);
            payloadLeft = std::uint64_t{header[1]} << 24 | std::uint64_t{header[2]} << 16 |
                          std::uint64_t{header[3]} << 8 | std::uint64_t{header[4]};
        }
    }
}

} // namespace frame
