#pragma once

#include "AbstractCommand.h"

class AbstractGame;

// Hides torn-out pages in the library: appends their records to the page
// file and lets them go from the pages held. Pages are named by position.
class HideCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};

// The lookout before a page is hidden or searched for: the first line, a
// pause, the second line without its end, a pause. Whatever is printed next
// completes the second line. Each line is flushed before its pause, so the
// player sees it while the pause lasts.
void lookOut(AbstractGame& game);
