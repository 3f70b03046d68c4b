#include "app/profile_window.h"

#include "app/profile_list.h"

namespace kestrane {

void LoadProfileList(ProfileWindow& window) { window.setProfileEntries(LoadProfileList()); }

void selectFirstEntry(ProfileWindow& window) {
    if (!window.profileEntries().empty())
        window.selectEntry(0);
}

} // namespace kestrane
