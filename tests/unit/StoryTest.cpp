// The weekend story's rules, driven in-process: the map and the items, the
// item combinations in both orders, the one-time rules, the debug switch,
// the ending with its title, and the story's inventory triggers.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "FormatCommand.h"
#include "GameHarness.h"
#include "SearchCommand.h"

namespace {

const char* const notThatWay = "Those items can't be used in that fashion\n";

// Where each item of the rules lies at the start, and a keyword for it.
struct Place {
    const char* room;
    const char* keyword;
};
const std::map<std::string, Place> places = {
    {"computer", {"Your Room", "pc"}},
    {"socks", {"Your Room", "socks"}},
    {"shovel", {"Your Garden", "shovel"}},
    {"sandbox", {"Your Garden", "sandbox"}},
    {"girlfriend", {"You girlfriends bedroom", "gf"}},
    {"mattress", {"You girlfriends bedroom", "bed"}},
    {"powerSupply", {"Computer Store", "supply"}},
    {"drunkFriend", {"Local Pub", "friend"}},
    {"bucket", {"Back Alley", "bucket"}},
    {"enemysComputer", {"Your Worst Enemys House", "pc"}},
    {"shoes", {"Shoestore", "shoes"}},
    {"pistol", {"Shoestore", "pistol"}},
    {"book", {"Old mysterious Library", "book"}},
};

Item* itemOf(support::Story& story, const std::string& member)
{
    const Place& place = places.at(member);
    Item* item = story.item(place.room, place.keyword);
    EXPECT_NE(item, nullptr) << member;
    return item;
}

struct Rule {
    const char* one;
    const char* other;
    const char* output;
};

// Shown by GoogleTest in the names of the parameterised cases.
[[maybe_unused]] void PrintTo(const Rule& rule, std::ostream* out) { *out << rule.one << " + " << rule.other; }

const Rule rules[] = {
    {"shovel", "sandbox",
     "You build a wonderfull sandcastle! Damn all that childhood practice really payed off on the end! You should "
     "do that professionally.\n"},
    {"bucket", "girlfriend",
     "You put the bucket on your head and start moving like a zombie. Your girlfriend laughs.\n"},
    {"powerSupply", "girlfriend",
     "You sneak up to your girlfriend and pretend shocking her with the supply. She gets really mad!\n"},
    {"shovel", "girlfriend", "You hit your girlfriend with the little shovel. She gets really mad and still wet ;o\n"},
    {"socks", "girlfriend",
     "You try to sneak up to your girlfriend and scare her with your dirty socks. She disarms you and puts them "
     "into your mouth.\n"},
    {"shovel", "bucket",
     "You take the shovel and put them into the bucket. Now you look like a 5 year old. You immediatly remove the "
     "shovel from the bucket\n"},
    {"powerSupply", "computer",
     "Finally the computer is working again.\n"
     "The computer is starting up: Its resuming your last session\n"
     "There we go... \n"
     "Seems like the last page you visited tells you how to format a drive\n"
     "Ahhhh!! You now understand the command!\n"},
    {"mattress", "girlfriend", "Im not going to commentate on what you did right now. But. Give me a High Five :D \n"},
    {"bucket", "drunkFriend",
     "aowiealskdhajwhekja! ajshdkashdjhwo! He throwes up into the bucket. That's again the end of a legendary night "
     "with the guys!\n"},
    {"shoes", "girlfriend", "Oh my god she's so happy she can't get enough shoes!\n"},
};

const std::string ending = "Congratulations! You did all the Teenager stuff also this weekend You are now pronounced ";

std::string endingFor(const std::string& titledName)
{
    return ending + titledName + "\n" + std::string(19, '\n') + "The end.\n";
}

} // namespace

TEST(StoryWorld, ItemsAreFoundByKeywordInTheRoomAtHand)
{
    support::Story story;
    EXPECT_EQ(story->getCurrentRoom()->shortDescription(), "Your Room");
    // Keywords, not names, find the items.
    EXPECT_EQ(story.item("Shoestore", "shoe")->getName(), "Shoes");
    EXPECT_EQ(story.item("Shoestore", "shoes")->getName(), "Shoes");
    EXPECT_EQ(story.item("Shoestore", "Shoes"), nullptr);
    EXPECT_EQ(story.item("Shoestore", "man")->getName(), "dead male body");
    EXPECT_EQ(story.item("Shoestore", "woman")->getName(), "dead female body");
    EXPECT_EQ(story.item("Your Garden", "box")->getName(), "sandbox");
    EXPECT_EQ(story.item("You girlfriends bedroom", "bed")->getName(), "mattress");
    EXPECT_EQ(story.item("Your Room", "dirty"), nullptr);
    // The same keywords name two computers; the room decides which.
    EXPECT_EQ(story.item("Your Room", "computer")->getName(), "computer");
    EXPECT_EQ(story.item("Your Worst Enemys House", "computer")->getName(), "computer of that dick");
    EXPECT_EQ(story.item("Your Worst Enemys House", "pc")->getName(), "computer of that dick");
    EXPECT_FALSE(story.item("Your Worst Enemys House", "pc")->canInventory());
    // The pistol can be taken but never put down again.
    const Item* pistol = itemOf(story, "pistol");
    EXPECT_TRUE(pistol->canInventory());
    EXPECT_FALSE(pistol->canDrop());
}

class Combination : public ::testing::TestWithParam<std::tuple<Rule, bool>> {};

TEST_P(Combination, EitherOrderGivesTheSameEffect)
{
    const auto& [rule, swapped] = GetParam();
    support::Story story;
    Item* a = itemOf(story, rule.one);
    Item* b = itemOf(story, rule.other);
    const std::size_t handlers = story->commandCount();
    story->combineItems(swapped ? b : a, swapped ? a : b);
    EXPECT_EQ(story.take(), rule.output);
    EXPECT_TRUE(debugmodeon) << "an applied rule leaves the debug switch alone";
    const bool repairs = std::string(rule.one) == "powerSupply" && std::string(rule.other) == "computer";
    EXPECT_EQ(story->commandCount(), handlers + (repairs ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(AllRules, Combination, ::testing::Combine(::testing::ValuesIn(rules), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<Rule, bool>>& info) {
                             const Rule& rule = std::get<0>(info.param);
                             return std::string(rule.one) + "_" + rule.other +
                                    (std::get<1>(info.param) ? "_swapped" : "");
                         });

TEST(StoryRules, PowerSupplyRepairsTheComputerOnce)
{
    support::Story story;
    Item* supply = itemOf(story, "powerSupply");
    Item* computer = itemOf(story, "computer");
    story.command("format c:");
    EXPECT_EQ(story.take(), "I dont understand the command.\n");
    const std::size_t handlers = story->commandCount();
    story->combineItems(computer, supply);
    story.take();
    ASSERT_EQ(story->commandCount(), handlers + 1);
    story.command("format c:");
    EXPECT_EQ(story.take(),
              "\nReally? Format your pc? just because its windows installed on it? Leave windows alone!\n");

    story->combineItems(supply, computer);
    EXPECT_EQ(story.take(), notThatWay);
    EXPECT_FALSE(debugmodeon);
    EXPECT_EQ(story->commandCount(), handlers + 1) << "never a second format handler";
    // The other computer was never broken.
    story->combineItems(supply, itemOf(story, "enemysComputer"));
    EXPECT_EQ(story.take(), notThatWay);
    EXPECT_TRUE(debugmodeon);
}

TEST(StoryRules, DrunkFriendThrowsUpOnceAndHighFivesRepeat)
{
    support::Story story;
    Item* bucket = itemOf(story, "bucket");
    Item* friendItem = itemOf(story, "drunkFriend");
    story->combineItems(bucket, friendItem);
    EXPECT_EQ(story.take(), rules[8].output);
    story->combineItems(friendItem, bucket);
    EXPECT_EQ(story.take(), notThatWay);
    story->combineItems(bucket, friendItem);
    EXPECT_EQ(story.take(), notThatWay);
    EXPECT_TRUE(debugmodeon) << "flipped twice";

    Item* mattress = itemOf(story, "mattress");
    Item* girlfriend = itemOf(story, "girlfriend");
    const std::string again = std::string(rules[7].output) + "and again and again ;) \n";
    story->combineItems(mattress, girlfriend);
    EXPECT_EQ(story.take(), rules[7].output);
    story->combineItems(girlfriend, mattress);
    EXPECT_EQ(story.take(), again);
    story->combineItems(mattress, girlfriend);
    EXPECT_EQ(story.take(), again);

    Item* shoes = itemOf(story, "shoes");
    for (int i = 0; i < 3; ++i) {
        story->combineItems(shoes, girlfriend);
        EXPECT_EQ(story.take(), rules[9].output);
    }
}

TEST(StoryRules, EveryFailedCombinationFlipsTheDebugSwitch)
{
    support::Story story;
    ASSERT_TRUE(debugmodeon);
    Item* shovel = itemOf(story, "shovel");
    Item* book = itemOf(story, "book");
    Item* pistol = itemOf(story, "pistol");
    const std::vector<std::pair<Item*, Item*>> failures = {
        {nullptr, nullptr},
        {shovel, nullptr},
        {nullptr, shovel},
        {shovel, shovel},
        {book, shovel},
        {pistol, itemOf(story, "girlfriend")},
        {itemOf(story, "sandbox"), book},
    };
    bool expected = true;
    for (const auto& [first, second] : failures) {
        story->combineItems(first, second);
        expected = !expected;
        EXPECT_EQ(story.take(), notThatWay);
        EXPECT_EQ(debugmodeon, expected);
    }
    story->combineItems(shovel, itemOf(story, "sandbox"));
    story.take();
    EXPECT_EQ(debugmodeon, expected) << "an applied rule does not flip it";

    // Through the use command: the sandbox cannot be carried, so it is no tool.
    story.command("use sandbox on shovel");
    EXPECT_EQ(story.take(), std::string("\n") + notThatWay);
    EXPECT_EQ(debugmodeon, !expected);
}

namespace {

// Makes the four progress steps of the combinations; the last one's output
// is returned.
std::string fourSteps(support::Story& story)
{
    Item* girlfriend = itemOf(story, "girlfriend");
    story->combineItems(itemOf(story, "powerSupply"), itemOf(story, "computer"));
    story->combineItems(itemOf(story, "mattress"), girlfriend);
    story->combineItems(itemOf(story, "bucket"), itemOf(story, "drunkFriend"));
    story.take();
    story->combineItems(girlfriend, itemOf(story, "shoes"));
    return story.take();
}

} // namespace

TEST(StoryEnding, NeedsAllFiveAndPutsTheTitleInFront)
{
    support::Story story;
    std::strcpy(name, "Bob");
    EXPECT_EQ(fourSteps(story), rules[9].output) << "no revenge yet: no ending";

    // The revenge counts from the next applied rule on.
    hadRevenge = true;
    Item* shovel = itemOf(story, "shovel");
    Item* sandbox = itemOf(story, "sandbox");
    story->combineItems(shovel, nullptr);
    EXPECT_EQ(story.take(), notThatWay) << "a failed combination ends nothing";
    story->combineItems(sandbox, shovel);
    EXPECT_EQ(story.take(), rules[0].output + endingFor("Sir. Bob"));
    EXPECT_STREQ(name, "Sir. Bob");
    story->combineItems(shovel, sandbox);
    EXPECT_EQ(story.take(), rules[0].output + endingFor("Sir. Sir. Bob"));
    EXPECT_STREQ(name, "Sir. Sir. Bob");
}

TEST(StoryEnding, TitledNameIsCutAtThirtyOneCharacters)
{
    support::Story story;
    const std::string longName = "ABCDEFGHIJKLMNOPQRSTUVWXYZ123"; // 29 characters
    std::strcpy(name, longName.c_str());
    hadRevenge = true;
    std::string once = "Sir. " + longName.substr(0, 26);
    EXPECT_EQ(fourSteps(story), rules[9].output + endingFor(once));
    EXPECT_STREQ(name, once.c_str());

    Item* shovel = itemOf(story, "shovel");
    Item* sandbox = itemOf(story, "sandbox");
    std::string titled = once;
    for (int i = 0; i < 8; ++i) {
        titled = ("Sir. " + titled).substr(0, 31);
        story->combineItems(shovel, sandbox);
        EXPECT_EQ(story.take(), rules[0].output + endingFor(titled));
        EXPECT_EQ(std::strlen(name), 31u);
    }
    EXPECT_STREQ(name, "Sir. Sir. Sir. Sir. Sir. Sir. S");
    EXPECT_EQ(name[31], '\0');
}

TEST(StoryEnding, EmptyNameGetsTheTitleAlone)
{
    support::Story story;
    name[0] = '\0';
    hadRevenge = true;
    EXPECT_EQ(fourSteps(story), rules[9].output + endingFor("Sir. "));
}

TEST(StoryTriggers, PistolUnlocksTheExecuteCommandOnce)
{
    support::Story story;
    Item* pistol = itemOf(story, "pistol");
    story.command("kill me");
    EXPECT_EQ(story.take(), "I dont understand the command.\n");
    const std::size_t handlers = story->commandCount();
    story->addToInventory(pistol);
    EXPECT_EQ(story.take(), "The USP.45 Tactical was added to your inventory\n");
    EXPECT_EQ(story->commandCount(), handlers + 1);
    // Taking the carried pistol again registers nothing more.
    story->addToInventory(pistol);
    EXPECT_EQ(story->commandCount(), handlers + 1);
    story->printHelp(true);
    const std::string help = story.take();
    EXPECT_NE(help.find(" - write-on\n\n - kill\n\n\n"), std::string::npos) << help;

    // The pistol stays.
    EXPECT_FALSE(story->removeInventoryItem(pistol, false));
    EXPECT_FALSE(story->removeInventoryItem(pistol, true));
    story.command("kill");
    EXPECT_EQ(story.take(), "\nkill what?\n");
    story.command("execute the");
    EXPECT_EQ(story.take(), "\nkill what?\n");
    story.command("kill bob");
    EXPECT_EQ(story.take(), "\n");
    story.command("kill gf");
    EXPECT_EQ(story.take(), "\n") << "she is not carried";
    EXPECT_FALSE(story->hasQuit());
}

TEST(StoryTriggers, GirlfriendClosesTheShoeStore)
{
    support::Story story;
    Room* shoestore = story.room("Shoestore");
    Room* street = story.room("Street");
    Item* girlfriend = itemOf(story, "girlfriend");
    ASSERT_EQ(shoestore->nextRoom(Direction::NORTHWEST), street);

    story->addToInventory(girlfriend);
    EXPECT_EQ(shoestore->nextRoom(Direction::NORTHWEST), nullptr);
    // Put down anywhere but the shoe store: open again.
    EXPECT_TRUE(story->removeInventoryItem(girlfriend, false));
    EXPECT_EQ(shoestore->nextRoom(Direction::NORTHWEST), street);
    story->addToInventory(girlfriend);
    EXPECT_EQ(shoestore->nextRoom(Direction::NORTHWEST), nullptr);
    story.take();

    // Walk her to the shoe store: no way out until she has had the shoes.
    for (const char* step : {"e", "ne", "se"}) {
        story.command(step);
    }
    ASSERT_EQ(story->getCurrentRoom(), shoestore);
    story.take();
    story.command("drop gf");
    story.command("nw");
    EXPECT_EQ(story.take(), "\nDropped the gf\n\nYou can't go that way!\n");
    story.command("take gf");
    story.command("take shoes");
    story.command("give shoes to gf");
    story.command("nw");
    story.take();
    EXPECT_EQ(story->getCurrentRoom(), shoestore);
    story.command("drop girlfriend");
    story.command("nw");
    EXPECT_EQ(story.take(), "\nDropped the girlfriend\n\nStreet\n");
}

TEST(StoryTriggers, KillMeEndsTheGameAtOnce)
{
    const std::string toShoes = support::walkTo("Shoestore");
    const support::PlayedGame played = support::playGame("Bob\n" + toShoes + "take pistol\nkill me\nlook\n");
    const std::vector<std::string>& answers = played.answers;
    const std::string& output = played.output;
    ASSERT_EQ(answers.size(), 5u);
    EXPECT_EQ(answers[4], "\n") << "only the empty line before the command, and no prompt after it";
    EXPECT_EQ(output.substr(output.size() - 4), "\n> \n");

    for (const char* me : {"me", "myself", "I"}) {
        const std::vector<std::string> rest =
            support::playGame("Bob\n" + toShoes + "t usp\nexecute " + me + "\ni\n").answers;
        ASSERT_EQ(rest.size(), 7u) << me;
        EXPECT_NE(rest[4].find("Bob"), std::string::npos) << "one line, and the game goes on";
        EXPECT_EQ(rest[4].find('\n', 1), rest[4].size() - 1);
        EXPECT_EQ(rest[5], "\nYour inventory: \nUSP.45 Tactical\n");
    }
    const std::vector<std::string> lower = support::playGame("Bob\n" + toShoes + "t gun\nkill i\ni\n").answers;
    ASSERT_EQ(lower.size(), 7u);
    EXPECT_EQ(lower[4], "\n");
}
