#include <gtest/gtest.h>

#include <sstream>

#include "Example.h"

TEST(Smoke, GameStartsAndQuits)
{
    std::istringstream in("Tester\nquit\n");
    std::ostringstream out;
    Example game(in, out, "/nonexistent/flags");
    game.init();
    game.play();
    EXPECT_NE(out.str().find("have fun again Tester"), std::string::npos);
}
