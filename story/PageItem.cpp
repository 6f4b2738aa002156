#include "PageItem.h"

#include "Pages.h"
#include "WorldNames.h"

PageItem::PageItem()
    : Item(ItemType::OBJECT, true, false, pageItemName(pages.size()), {keywords::page, keywords::pages},
           "pages out of the big old book", "")
{
}

std::string PageItem::examine() const { return pageDetails(pages); }

void PageItem::recount() { setNewItemName(pageItemName(pages.size())); }
