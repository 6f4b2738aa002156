#include "SearchCommand.h"

bool debugmodeon = true;

std::vector<std::string> SearchCommand::getRecognizedCommands() { return {"search"}; }

int SearchCommand::execute(Command /*command*/) { return 0; }
