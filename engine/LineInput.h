#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

// The player's input, one line at a time. A line is held only up to a
// limit, so that no input, however long its lines, can take the memory the
// game needs; a longer line is read to its end and reported as cut.
class LineInput {
public:
    explicit LineInput(std::istream& input) : in(input) {}

    // Reads one line without its line end (LF, or CR LF). False at the end
    // of input, and when the stream went bad (DescriptorInput::Interrupted),
    // which drops the line it broke off. A line longer than the line limit
    // is read to its end but only its first lineLimit() bytes are kept, and
    // wasCut() tells so.
    bool read(std::string& line);
    bool wasCut() const { return lineCut; }

    // The longest line kept whole. By default an eighth of the memory the
    // process may use (see defaultLineLimit), since a line is held a few
    // times over while it is read and handled; that default is worked out
    // only once a line fills more than one chunk of input (64 KiB), as it
    // reads the control group's limit from files.
    std::size_t lineLimit() const { return longestLine != 0 ? longestLine : defaultLineLimit(); }
    void setLineLimit(std::size_t limit) { longestLine = limit; }
    static std::size_t defaultLineLimit();

private:
    std::istream& in;
    std::size_t longestLine = 0; // 0: the default
    bool lineCut = false;
};
