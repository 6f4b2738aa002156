#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class ItemType { READABLE = 1, OBJECT = 2 };

// A thing of the game world. It lies in a room or is carried; rooms and the
// inventory refer to it by pointer, and it is never copied.
class Item {
public:
    Item(ItemType type, bool canInventory, bool canDrop, std::string name, std::vector<std::string> keywords,
         std::string originalDescription, std::string details);
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;
    virtual ~Item() = default;

    const std::string& getName() const { return name; }
    const std::string& getOriginalDescription() const { return originalDescription; }
    const std::vector<std::string>& getKeywords() const { return keywords; }
    ItemType getType() const { return type; }
    // The details, shown when the item is examined. An item whose details
    // follow from something else can put them together here.
    virtual std::string examine() const { return details; }
    bool canInventory() const { return inventoryAllowed; }
    bool canDrop() const { return dropAllowed; }
    void setDropped(bool value) { dropped = value; }
    bool wasDropped() const { return dropped; }

    // True if text equals one of the keywords byte for byte.
    bool keywordMatch(std::string_view text) const;

    void setNewItemName(std::string newName) { name = std::move(newName); }
    void setNewItemDetails(std::string newDetails) { details = std::move(newDetails); }

private:
    std::vector<std::string> keywords;
    std::string name;
    std::string originalDescription;
    std::string details;
    ItemType type;
    bool inventoryAllowed;
    bool dropAllowed;
    bool dropped = false;
};
