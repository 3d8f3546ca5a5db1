#pragma once

// The bars of the main window's bottom stack.
enum class BottomBar : int {
    Next = 0, // below the role chooser
    Back = 1, // below a role page
    Finished = 2, // after a run: home, transfer again, exit
};

// What the wizard does when its content stack moves from page lastIndex to page index (WizardPage
// values as numbers). NoPage means nothing to load or unload.
struct PageChange
{
    static constexpr int NoPage = -1;

    int unload; // the role page to stop, or NoPage
    int load; // the role page to start, or NoPage
    int bar; // a BottomBar value
};

PageChange pageChangeFor(int lastIndex, int index);
