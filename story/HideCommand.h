#pragma once

#include "AbstractCommand.h"

// Hides torn-out pages in the library: appends their records to the page
// file and lets them go from the pages held. Pages are named by position.
class HideCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
