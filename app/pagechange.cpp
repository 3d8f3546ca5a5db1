#include "app/pagechange.h"

#include "common/stages.h"

namespace {

bool isRolePage(int index)
{
    return index == toInt(WizardPage::Receiver) || index == toInt(WizardPage::Sender);
}

} // namespace

PageChange pageChangeFor(int lastIndex, int index)
{
    PageChange change {PageChange::NoPage, PageChange::NoPage, toInt(BottomBar::Next)};
    // A role page runs exactly while it is current.
    if (isRolePage(lastIndex))
        change.unload = lastIndex;
    if (isRolePage(index)) {
        change.load = index;
        change.bar = toInt(BottomBar::Back);
    }
    return change;
}
