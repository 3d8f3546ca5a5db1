#include "app/pagechange.h"

PageChange pageChangeFor(int lastIndex, int index)
{
    PageChange change {-1, -1, 0};
    // A role page runs exactly while it is current.
    if (lastIndex == 1 || lastIndex == 2)
        change.unload = lastIndex;
    if (index == 1 || index == 2) {
        change.load = index;
        change.bar = 1;
    }
    return change;
}
