#pragma once

class AbstractGame;

// The lookout before a page is hidden or searched for: the first line, a
// pause, the second line without its end, a pause. Whatever is printed next
// completes the second line. Each line is flushed before its pause, so the
// player sees it while the pause lasts.
void lookOut(AbstractGame& game);

// Whether the player is in the library, the one place where pages are hidden
// and searched for; anywhere else says that this is no such place.
bool inHidingPlace(AbstractGame& game);
