#pragma once

// What the wizard does when its content stack moves from page lastIndex to page index
// (0 chooser, 1 receiver page, 2 sender page). -1 means nothing to load or unload.
struct PageChange
{
    int unload;
    int load;
    int bar;
};

PageChange pageChangeFor(int lastIndex, int index);
