#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "AbstractGame.h"

// The player's name: at most 31 characters and a terminating zero. The
// welcome fills it, the ending puts a title in front of it.
extern char name[32];

// Puts the story's program-wide state back where every game starts: the
// debug switch on, no revenge taken, no name, no pages held. Each new game
// calls it, also when several are played one after another in one process.
void resetStoryState();

// The weekend story: a hung-over young man's weekend in a small town.
class Example : public AbstractGame {
public:
    // pageFilePath is the page file shared by every game on the machine.
    Example(std::istream& input, std::ostream& output, std::string pageFilePath);
    ~Example() override = default;
    Example(const Example&) = delete;
    Example& operator=(const Example&) = delete;

    void init() override;
    void createRooms() override;
    void createItems() override;
    void combineItems(Item* first, Item* second) override;
    void addToInventory(Item* item) override;
    bool removeInventoryItem(Item* item, bool vanish) override;
    void printWelcome() override;

    const std::string& pageFilePath() const { return pageFile; }
    // The story game being played.
    static Example& current() { return static_cast<Example&>(*AbstractGame::instance); }

private:
    struct Combination;
    static const Combination combinations[];

    void repairComputer();
    void highFiveAgain();
    void checkEnding();

    Room* yourRoom = nullptr;
    Room* entranceArea = nullptr;
    Room* yourGarden = nullptr;
    Room* street = nullptr;
    Room* girlfriendsHouse = nullptr;
    Room* neighboursGarden = nullptr;
    Room* girlfriendsBedroom = nullptr;
    Room* computerStore = nullptr;
    Room* localPub = nullptr;
    Room* backAlley = nullptr;
    Room* worstEnemysHouse = nullptr;
    Room* shoestore = nullptr;
    Room* library = nullptr;
    Room* streetParty = nullptr;

    Item* computer = nullptr;
    Item* socks = nullptr;
    Item* shovel = nullptr;
    Item* sandbox = nullptr;
    Item* girlfriend = nullptr;
    Item* mattress = nullptr;
    Item* powerSupply = nullptr;
    Item* drunkFriend = nullptr;
    Item* bucket = nullptr;
    Item* enemysComputer = nullptr;
    Item* deadMaleBody = nullptr;
    Item* deadFemaleBody = nullptr;
    Item* pistol = nullptr;
    Item* shoes = nullptr;
    Item* book = nullptr;

    // Progress towards the ending; once set, never cleared.
    bool revengeTaken = false;
    bool computerRepaired = false;
    bool friendThrewUp = false;
    bool highFiveGiven = false;
    bool shoesGiven = false;

    std::string pageFile;
};
