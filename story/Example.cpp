#include "Example.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string_view>
#include <utility>

#include "ExecuteCommand.h"
#include "FormatCommand.h"
#include "HideCommand.h"
#include "Pages.h"
#include "SearchCommand.h"
#include "WorldNames.h"
#include "WriteCommand.h"

char name[32] = {};

namespace {

// What the welcome keeps of the name line, and what the stored name holds.
constexpr std::size_t nameInputLimit = 29;
constexpr std::size_t nameLimit = sizeof(name) - 1;

// How much of text fits in most bytes without cutting a character in two:
// a name in UTF-8 loses a whole last character rather than half of one,
// which would show as a broken sign. Bytes that are not UTF-8 are cut where
// the limit falls.
std::size_t wholeCharacters(std::string_view text, std::size_t most)
{
    if (text.size() <= most) {
        return text.size();
    }
    const auto continuation = [&text](std::size_t at) { return (static_cast<unsigned char>(text[at]) & 0xc0) == 0x80; };
    std::size_t lead = most;
    while (lead > 0 && most - lead < 3 && continuation(lead)) {
        --lead;
    }
    const bool cutInside = lead < most && static_cast<unsigned char>(text[lead]) >= 0xc0;
    return cutInside ? lead : most;
}

struct RoomEntry {
    Room* Example::*member;
    const char* name;
    const char* description;
};

struct ExitEntry {
    Room* Example::*from;
    Direction direction;
    Room* Example::*to;
};

struct ItemEntry {
    Item* Example::*member;
    const char* name;
    std::initializer_list<const char*> keywords;
    bool canInventory;
    bool canDrop;
    Room* Example::*room;
    const char* originalDescription;
    const char* details; // null: the same text as the original description
};

} // namespace

// A pair of items that does something when used together, in either order.
struct Example::Combination {
    Item* Example::*one;
    Item* Example::*other;
    const char* text;         // printed when the rule applies
    bool Example::*progress;  // the progress the rule makes, if any
    bool once;                // the rule stops applying once that progress is made
    void (Example::*extra)(); // anything more the rule does, before progress is recorded
};

const Example::Combination Example::combinations[] = {
    {&Example::shovel, &Example::sandbox,
     "You build a wonderfull sandcastle! Damn all that childhood practice really payed off on the end! "
     "You should do that professionally.",
     nullptr, false, nullptr},
    {&Example::bucket, &Example::girlfriend,
     "You put the bucket on your head and start moving like a zombie. Your girlfriend laughs.", nullptr, false,
     nullptr},
    {&Example::powerSupply, &Example::girlfriend,
     "You sneak up to your girlfriend and pretend shocking her with the supply. She gets really mad!", nullptr, false,
     nullptr},
    {&Example::shovel, &Example::girlfriend,
     "You hit your girlfriend with the little shovel. She gets really mad and still wet ;o", nullptr, false, nullptr},
    {&Example::socks, &Example::girlfriend,
     "You try to sneak up to your girlfriend and scare her with your dirty socks. She disarms you and puts them "
     "into your mouth.",
     nullptr, false, nullptr},
    {&Example::shovel, &Example::bucket,
     "You take the shovel and put them into the bucket. Now you look like a 5 year old. You immediatly remove "
     "the shovel from the bucket",
     nullptr, false, nullptr},
    {&Example::powerSupply, &Example::computer,
     "Finally the computer is working again.\n"
     "The computer is starting up: Its resuming your last session\n"
     "There we go... \n"
     "Seems like the last page you visited tells you how to format a drive\n"
     "Ahhhh!! You now understand the command!",
     &Example::computerRepaired, true, &Example::repairComputer},
    {&Example::mattress, &Example::girlfriend,
     "Im not going to commentate on what you did right now. But. Give me a High Five :D ", &Example::highFiveGiven,
     false, &Example::highFiveAgain},
    {&Example::bucket, &Example::drunkFriend,
     "aowiealskdhajwhekja! ajshdkashdjhwo! He throwes up into the bucket. That's again the end of a legendary "
     "night with the guys!",
     &Example::friendThrewUp, true, nullptr},
    {&Example::shoes, &Example::girlfriend, "Oh my god she's so happy she can't get enough shoes!",
     &Example::shoesGiven, false, nullptr},
};

void resetStoryState()
{
    debugmodeon = true;
    hadRevenge = false;
    std::memset(name, 0, sizeof(name));
    pages.clear();
}

Example::Example(std::istream& input, std::ostream& output, std::string pageFilePath)
    : AbstractGame(input, output), pageFile(std::move(pageFilePath))
{
    instance = this;
    resetStoryState();
}

void Example::init()
{
    AbstractGame::init();
    addCommand(std::make_unique<SearchCommand>());
    addCommand(std::make_unique<HideCommand>());
    addCommand(std::make_unique<WriteCommand>());
}

void Example::createRooms()
{
    static const RoomEntry roomTable[] = {
        {&Example::yourRoom, rooms::yourRoom,
         "Your room, or what is left of it after last night: clothes, empty bottles and pizza boxes everywhere, "
         "and something under the bed is growing a fur. If anybody walked in and saw this, you would be in "
         "serious trouble. The only way out of this mess is the door on the east side."},
        {&Example::entranceArea, "Entrance area",
         "The entrance area of your home, spotless as always: not a single shoe out of line. The front door "
         "leads out to the northeast, the back door to the garden in the south. You could go back into your "
         "room and tidy it up. On a weekend? Not a chance."},
        {&Example::yourGarden, "Your Garden",
         "Your garden, full of childhood memories: the sand castles you built, playing hide and seek with the "
         "neighbours' daughter, the tree house, and the first beer you secretly drank behind it. That little "
         "girl from next door is your girlfriend now. Oh right: you promised to go shopping with her this "
         "weekend. Her parents' garden lies just over the fence to the east."},
        {&Example::street, "Street",
         "You are now in the streets of this little town. You can go anywhere you want. Seriously."},
        {&Example::girlfriendsHouse, "Your girlfriends House",
         "Your girlfriend's mother opens the door before you can even knock and fills the whole doorway. Come "
         "back later, she says, and then she starts talking. About her knees, the neighbours, the weather and "
         "the youth of today... (we will spare you the next hour) ...and that is why you should come back "
         "later. There is no getting past her: this is a dead end. The street is back to the north."},
        {&Example::neighboursGarden, "Neighbours Garden",
         "You climb over the fence, get stuck with one leg, lose a shoe for a moment and land face first in the "
         "neighbours' garden. Very elegant. To the north you can see your girlfriend's room, and its window is "
         "wide open. All that climbing has worn you out."},
        {&Example::girlfriendsBedroom, "You girlfriends bedroom",
         "Your girlfriend's bedroom, in the middle of being renovated: plastic sheets on the floor, paint "
         "buckets, and boxes full of her clothes stacked up to the ceiling. There is not much to find here, "
         "apart from a place to sleep."},
        {&Example::computerStore, "Computer Store",
         "The computer store. You never liked this place: overpriced, and full of people who say \"cloud\" a "
         "lot. Nobody is in sight, only some noises come from the back room, and the shelves are packed with "
         "stock. You came for a new laptop battery, but one look at the price tag settles that. If you want "
         "anything from here, you had better be a better runner than you are a climber."},
        {&Example::localPub, "Local Pub",
         "The local pub. Smoke hangs in the air, the music is far too loud, and your friends are partying as if "
         "last night had never ended. And as always one of them has had way too much to drink."},
        {&Example::backAlley, "Back Alley",
         "The back alley behind the pub. Fresh air at last. This is where that one friend always ends up when "
         "he is about to throw up."},
        {&Example::worstEnemysHouse, rooms::worstEnemysHouse,
         "The house of the guy you have hated for as long as you can remember. Nobody is home, and the back "
         "door was not even locked. This is the perfect chance for your revenge."},
        {&Example::shoestore, "Shoestore",
         "A shoe store. A word of warning: a man who walks in here with the girl he loves does not walk out "
         "again until she has found the right pair. There is no escape. Two customers lie dead on the floor "
         "next to a pistol; apparently they had a look at the prices."},
        {&Example::library, rooms::library,
         "You climb in through a broken window. Nobody has been in this old library for ages: dust on "
         "everything, books everywhere, and torn-out pages lying all around. A good place to hide information "
         "between the pages of a book, or to look for the secrets that others have hidden here."},
        {&Example::streetParty, "Street party",
         "The whole neighbourhood is out for a street party: barbecue, cheap beer and bad music. Even your "
         "childhood archenemy is here, grinning at you over his sausage."},
    };
    static const ExitEntry exitTable[] = {
        {&Example::yourRoom, Direction::EAST, &Example::entranceArea},
        {&Example::entranceArea, Direction::WEST, &Example::yourRoom},
        {&Example::entranceArea, Direction::SOUTH, &Example::yourGarden},
        {&Example::yourGarden, Direction::NORTH, &Example::entranceArea},
        {&Example::yourGarden, Direction::EAST, &Example::neighboursGarden},
        {&Example::neighboursGarden, Direction::WEST, &Example::yourGarden},
        {&Example::neighboursGarden, Direction::NORTH, &Example::girlfriendsBedroom},
        {&Example::girlfriendsBedroom, Direction::SOUTH, &Example::neighboursGarden},
        {&Example::entranceArea, Direction::NORTHEAST, &Example::street},
        {&Example::street, Direction::SOUTHWEST, &Example::entranceArea},
        {&Example::girlfriendsHouse, Direction::NORTH, &Example::street},
        {&Example::street, Direction::SOUTH, &Example::girlfriendsHouse},
        {&Example::shoestore, Direction::NORTHWEST, &Example::street},
        {&Example::street, Direction::SOUTHEAST, &Example::shoestore},
        {&Example::library, Direction::WEST, &Example::street},
        {&Example::street, Direction::EAST, &Example::library},
        {&Example::worstEnemysHouse, Direction::SOUTHWEST, &Example::street},
        {&Example::street, Direction::NORTHEAST, &Example::worstEnemysHouse},
        {&Example::localPub, Direction::SOUTH, &Example::street},
        {&Example::street, Direction::NORTH, &Example::localPub},
        {&Example::localPub, Direction::NORTH, &Example::backAlley},
        {&Example::backAlley, Direction::SOUTH, &Example::localPub},
        {&Example::computerStore, Direction::SOUTHEAST, &Example::street},
        {&Example::street, Direction::NORTHWEST, &Example::computerStore},
        {&Example::streetParty, Direction::EAST, &Example::street},
        {&Example::street, Direction::WEST, &Example::streetParty},
    };
    for (const RoomEntry& entry : roomTable) {
        this->*entry.member = keepRoom(std::make_unique<Room>(entry.name, entry.description));
    }
    for (const ExitEntry& entry : exitTable) {
        (this->*entry.from)->addExit(entry.direction, this->*entry.to);
    }
    setCurrentRoom(yourRoom);
}

void Example::createItems()
{
    // One row per item: member, name, keywords, may be taken, may be dropped,
    // starting room, placing sentence, details.
    // clang-format off
    static const ItemEntry itemTable[] = {
        {&Example::computer, "computer", {"pc", "computer"}, false, false, &Example::yourRoom,
         "Your desktop PC is lying there in pieces. Your power supply is broken",
         "Your Windows 7 Box. Windows is awesome and everyone knows it."},
        {&Example::socks, "dirty socks", {"socks", "dirty socks"}, true, true, &Example::yourRoom,
         "Your Dirty socks are lying all over your floor, bed, desk...", "Its socks. They are dirty."},
        {&Example::shovel, "shovel", {"shovel", "garden shovel"}, true, true, &Example::yourGarden,
         "Your old shovel lies near the sandbox", "Build all the sand castles!!"},
        {&Example::sandbox, "sandbox", {"sandbox", "box"}, false, false, &Example::yourGarden,
         "Your sandbox stands in the back", "You always loved that one as a kid. Every kid does"},
        {&Example::girlfriend, "girlfriend", {"gf", keywords::girlfriend}, true, true, &Example::girlfriendsBedroom,
         "Your gorgeus looking girlfriend. Damn she is pretty. No one knows how you got this lucky.", nullptr},
        {&Example::mattress, "mattress", {"mattress", "bed"}, false, false, &Example::girlfriendsBedroom,
         "A mattress is lying on the ground. You can \"sleep\" on that one.",
         "A mattress is lying on the ground. You can \"sleep\" on that one. Its a real special high tech one..."},
        {&Example::powerSupply, "power supply", {"supply", "power supply"}, true, true, &Example::computerStore,
         "There is a power supply on the main desk. Seems like exactly what you need.",
         "Excactly the power supply you need in order to repair your pc."},
        {&Example::drunkFriend, "damn drunk friend", {"friend", "drunk friend", "damn drunk friend"}, true, true,
         &Example::localPub, "One of your friends is really drunk and falls to the floor", "every god damn time..."},
        {&Example::bucket, "bucket", {"bucket"}, true, true, &Example::backAlley, "A simple bucket.", nullptr},
        {&Example::enemysComputer, "computer of that dick", {"computer", "pc"}, false, false,
         &Example::worstEnemysHouse,
         "On that dest there is that fancy new computer that you wanted since forever.", nullptr},
        {&Example::deadMaleBody, "dead male body", {"dead male body", "dead male", "dead man", "man"}, false, false,
         &Example::shoestore, "A dead mans body lies leans against the wall", "He's dead. He looks horrible."},
        {&Example::deadFemaleBody, "dead female body", {"dead female body", "dead female", "dead woman", "woman"},
         false, false, &Example::shoestore, "A dead female body is near the counter",
         "She's dead. She still looks hot."},
        {&Example::pistol, "USP.45 Tactical", {"pistol", "gun", "usp", "USP.45 Tactical"}, true, false,
         &Example::shoestore, "An USP.45 Tactical is lying right in the middle of the room",
         "DANGER! Smoking kills people. Ehm guns too."},
        {&Example::shoes, "Shoes", {"shoe", "shoes"}, true, true, &Example::shoestore, "Fancy shoes are everywhere",
         "Woman shoes. I dont know how to better describe shoes."},
        {&Example::book, "big old book", {keywords::book, "book"}, true, true, &Example::library,
         "Many books are everywhere", "You could leave a secret message on one of the pages of a book"},
    };
    // clang-format on
    for (const ItemEntry& entry : itemTable) {
        Item* item = keepItem(std::make_unique<Item>(
            ItemType::OBJECT, entry.canInventory, entry.canDrop, entry.name,
            std::vector<std::string>(entry.keywords.begin(), entry.keywords.end()), entry.originalDescription,
            entry.details != nullptr ? entry.details : entry.originalDescription));
        this->*entry.member = item;
        (this->*entry.room)->addItem(item);
    }
}

void Example::printWelcome()
{
    say("Have fun. One tip in advance: do human fuzzing. (Just play the game and make educated guesses)");
    say("Type 'help' if you need help. Type 'help more' if you need more help");
    say("");
    say("You wakeup. Its weekend! You are in your room. You drank so much that night that not even I can "
        "remember your name");
    output() << "Whats you name?\n" << prompt;
    // The whole line is consumed; only its first characters make the name.
    std::string line;
    if (!readLine(line)) {
        line.clear();
    }
    const std::size_t kept = wholeCharacters(line, nameInputLimit);
    std::memcpy(name, line.data(), kept);
    name[kept] = '\0';
    output() << "have fun again " << name << '\n';
    printCurrentRoom(true);
}

void Example::addToInventory(Item* item)
{
    const bool newlyCarried = item != nullptr && !isCarried(item);
    AbstractGame::addToInventory(item);
    if (item == girlfriend) {
        // With her in tow there is no leaving the shoe store.
        shoestore->addExit(Direction::NORTHWEST, nullptr);
    }
    if (item == pistol && newlyCarried) {
        addCommand(std::make_unique<ExecuteCommand>());
    }
}

bool Example::removeInventoryItem(Item* item, bool vanish)
{
    if (item == girlfriend && (getCurrentRoom() != shoestore || shoesGiven)) {
        shoestore->addExit(Direction::NORTHWEST, street);
    }
    return AbstractGame::removeInventoryItem(item, vanish);
}

void Example::combineItems(Item* first, Item* second)
{
    revengeTaken = hadRevenge;
    for (const Combination& rule : combinations) {
        const Item* one = this->*rule.one;
        const Item* other = this->*rule.other;
        const bool matches = (first == one && second == other) || (first == other && second == one);
        if (!matches || (rule.once && this->*rule.progress)) {
            continue;
        }
        say(rule.text);
        if (rule.extra != nullptr) {
            (this->*rule.extra)();
        }
        if (rule.progress != nullptr) {
            this->*rule.progress = true;
        }
        checkEnding();
        return;
    }
    debugmodeon = !debugmodeon;
    say("Those items can't be used in that fashion");
}

void Example::repairComputer() { addCommand(std::make_unique<FormatCommand>()); }

void Example::highFiveAgain()
{
    if (highFiveGiven) {
        say("and again and again ;) ");
    }
}

void Example::checkEnding()
{
    if (!(revengeTaken && highFiveGiven && friendThrewUp && computerRepaired && shoesGiven)) {
        return;
    }
    output() << "Congratulations! You did all the Teenager stuff also this weekend You are now pronounced ";
    std::string titled = "Sir. ";
    titled += name;
    titled.resize(wholeCharacters(titled, nameLimit));
    std::memcpy(name, titled.c_str(), titled.size() + 1);
    output() << name << '\n';
    clearScreen();
    say("The end.");
}
