#include "TelnetOutput.h"

#include "DoorIo.h"

namespace {

// Encoded output goes out once this much has gathered, flush or not.
constexpr std::size_t sendAt = std::size_t{64} * 1024;

} // namespace

void appendNvt(std::string& out, std::string_view raw)
{
    out.reserve(out.size() + raw.size() + raw.size() / 16);
    std::size_t plain = 0; // start of the bytes that need no change
    for (std::size_t at = 0; at < raw.size(); ++at) {
        const char byte = raw[at];
        if (byte != '\n' && byte != '\r' && byte != '\xff') {
            continue;
        }
        out.append(raw.substr(plain, at - plain));
        if (byte == '\n') {
            out += "\r\n";
        } else if (byte == '\r') {
            out += '\r';
            out += '\0';
        } else {
            out += "\xff\xff";
        }
        plain = at + 1;
    }
    out.append(raw.substr(plain));
}

NvtOutput::int_type NvtOutput::overflow(int_type c)
{
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        const char byte = traits_type::to_char_type(c);
        appendNvt(pending, std::string_view(&byte, 1));
    }
    return traits_type::not_eof(c);
}

std::streamsize NvtOutput::xsputn(const char* data, std::streamsize size)
{
    appendNvt(pending, std::string_view(data, static_cast<std::size_t>(size)));
    if (pending.size() >= sendAt) {
        send();
    }
    return size;
}

int NvtOutput::sync()
{
    send();
    return 0;
}

void NvtOutput::send()
{
    writeAll(fd, pending); // if the player is gone, what is left has nowhere to go
    pending.clear();
}
