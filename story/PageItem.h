#pragma once

#include "Item.h"

// The torn-out pages, carried as one item. Its name counts the pages held;
// its details are the blocks of those pages, oldest first, put together
// when someone looks at them. Writing and hiding a page then only change
// the list of pages, so that each costs the same however many are held.
class PageItem : public Item {
public:
    PageItem();

    std::string examine() const override;
    // Names the item after the number of pages held now.
    void recount();
};
