#include "Lookout.h"

#include <unistd.h>

#include <ostream>

#include "AbstractGame.h"

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
