// The mark of the profile whose files are in its game folder's `system` folder, drawn by
// the profile list: the entry in bold with a dot in the left margin, green while the
// folder is as applied, orange once the game has changed it. The entry's text stays the
// profile's name; hovering an entry shows its game folder, whether it is archived and
// when it was applied.
#pragma once

#include <QColor>

class QListWidget;

namespace kestrane {

inline const QColor kAppliedMark(0x2E, 0xA0, 0x3C);
inline const QColor kChangedMark(0xF0, 0x8C, 0x00);

// Marks the list's entries by ProfileStatuses(), matched by position in options.ini. A
// list that does not show the options.ini read (it has not followed a change yet) keeps
// its marks; an entry whose mark stays is left untouched, so that calling this often
// repaints nothing.
void markAppliedProfiles(QListWidget& list);

} // namespace kestrane
