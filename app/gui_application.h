// What the windows share once a QApplication exists: Qt's own dialog texts in Russian like
// the program's, the windows' font also in Qt's dialogs, and message box buttons without
// icons, as on the classic desktop the windows imitate.
#pragma once

namespace kestrane {

// Installs the translation, the application font and the style; does it once, later
// calls do nothing. Needs a QApplication.
void prepareGuiApplication();

} // namespace kestrane
