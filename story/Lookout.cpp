#include "Lookout.h"

#include <unistd.h>

#include <ostream>

#include "AbstractGame.h"
#include "WorldNames.h"

namespace {

constexpr useconds_t lookoutPause = 100; // microseconds

} // namespace

void lookOut(AbstractGame& game)
{
    std::ostream& out = game.output();
    out << "quick look to the left.....\n";
    out.flush();
    usleep(lookoutPause);
    out << "quick look to the right.....  ";
    out.flush();
    usleep(lookoutPause);
}

bool inHidingPlace(AbstractGame& game)
{
    if (game.getCurrentRoom()->shortDescription() == rooms::library) {
        return true;
    }
    game.say("This does not look like a place where someone would hide anything");
    return false;
}
