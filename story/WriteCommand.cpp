#include "WriteCommand.h"

std::vector<std::string> WriteCommand::getRecognizedCommands() { return {"write-on", "write"}; }

int WriteCommand::execute(Command /*command*/) { return 0; }
