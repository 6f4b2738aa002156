#pragma once

// The private page-file folder that tests/support/private-pages gives every
// test that runs the real game: a fresh tmpfs of the test's own where the
// game's page file lives, so the machine's page file is never touched.

#include <string>

namespace support {

// "" when the folder of pageFile is the private one, otherwise why not: a
// test must not run the game then.
std::string privatePagesProblem(const std::string& pageFile);

enum class Access { Writable, ReadOnly };

// Remounts the private folder of pageFile with that access and tmpfs
// options such as "size=32k". Throws std::runtime_error with the reason.
void remountPages(const std::string& pageFile, Access access, const std::string& options = "");

} // namespace support
