#pragma once

// The names by which the story's commands find their way in its world: the
// rooms they work in and the keywords they look items up by. The world
// tables are built from the same constants, so that renaming a room or a
// keyword cannot leave a command looking for the old one.

namespace rooms {
inline constexpr const char* yourRoom = "Your Room";
inline constexpr const char* worstEnemysHouse = "Your Worst Enemys House";
inline constexpr const char* library = "Old mysterious Library";
} // namespace rooms

namespace keywords {
inline constexpr const char* book = "big old book";
inline constexpr const char* girlfriend = "girlfriend";
// The page item answers to both; the commands look it up by the first.
inline constexpr const char* page = "page";
inline constexpr const char* pages = "pages";
} // namespace keywords
