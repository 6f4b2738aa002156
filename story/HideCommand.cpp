#include "HideCommand.h"

std::vector<std::string> HideCommand::getRecognizedCommands() { return {"hide"}; }

int HideCommand::execute(Command /*command*/) { return 0; }
