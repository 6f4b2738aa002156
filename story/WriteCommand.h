#pragma once

#include "AbstractCommand.h"

// Writes on a page of the big old book and tears it out: the page joins the
// pages held (Pages.h) and the page item that the player carries.
class WriteCommand : public AbstractCommand {
public:
    // Takes the line as typed: filler words are page text like any other.
    WriteCommand();
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
