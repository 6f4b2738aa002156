#pragma once

#include "AbstractCommand.h"

// Searches the page file in the library for the text hidden under a page
// number; without a number, and while debugmodeon is set, lists every text.
class SearchCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};

// While true, a search without a page number lists every hidden text. True
// at start; every failed item combination flips it.
extern bool debugmodeon;
