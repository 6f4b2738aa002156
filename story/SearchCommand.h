#pragma once

#include "AbstractCommand.h"

// Searches the page file in the library for the text hidden under a page number.
class SearchCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};

// While true, a search without a page number lists every hidden text.
extern bool debugmodeon;
