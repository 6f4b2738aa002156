#pragma once

#include <string>
#include <vector>

#include "Command.h"

// Interface of a command handler. A handler names the words it answers to
// and carries out a command; the engine matches words and dispatches. The
// game owns every handler it registers, so the destructor is virtual.
class AbstractCommand {
public:
    AbstractCommand() = default;
    AbstractCommand(const AbstractCommand&) = delete;
    AbstractCommand& operator=(const AbstractCommand&) = delete;
    virtual ~AbstractCommand() = default;

    // The handler's fixed command words; the first is the one the short
    // help shows. Returns the same words on every call.
    virtual std::vector<std::string> getRecognizedCommands() = 0;
    // Carries out one command and prints every message itself; returns 0.
    virtual int execute(Command command) = 0;

    // Whether the parser drops the filler words before cutting the arguments.
    bool cleanse = true;
};
