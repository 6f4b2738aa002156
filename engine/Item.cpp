#include "Item.h"

#include <algorithm>
#include <utility>

Item::Item(ItemType type, bool canInventory, bool canDrop, std::string name, std::vector<std::string> keywords,
           std::string originalDescription, std::string details)
    : keywords(std::move(keywords)), name(std::move(name)), originalDescription(std::move(originalDescription)),
      details(std::move(details)), type(type), inventoryAllowed(canInventory), dropAllowed(canDrop)
{
}

bool Item::keywordMatch(std::string_view text) const
{
    return std::any_of(keywords.begin(), keywords.end(),
                       [text](const std::string& keyword) { return keyword == text; });
}
