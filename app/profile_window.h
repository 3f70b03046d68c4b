// What the profile actions need from the window that runs them: the field texts, the
// archive box, the profile list, message boxes, message pumping and the busy window.
// The main window implements it; so do kestrane-cli and the tests.
#pragma once

#include <string>
#include <vector>

namespace kestrane {

// The answer to a Yes/No/Cancel question.
enum class Choice { Yes, No, Cancel };

class ProfileWindow {
public:
    virtual ~ProfileWindow() = default;

    // The entry fields and the archive box, read afresh at each step.
    virtual std::string systemsFolderText() const = 0;
    virtual std::string gameFolderText() const = 0;
    virtual std::string nameText() const = 0;
    virtual bool archiveBoxTicked() const = 0;

    // The profile list: its entries, refilled from options.ini, and the selected entry
    // (-1 when nothing is selected).
    virtual std::vector<std::string> profileEntries() const = 0;
    virtual void setProfileEntries(const std::vector<std::string>& names) = 0;
    virtual int SelectedIndex() const = 0;
    virtual void selectEntry(int index) = 0;

    // Modal message boxes: "Error" with the stop icon, "Information" with the
    // information icon, the plain box captioned with the application's title, and a
    // Yes/No question with the question icon (true for Yes).
    virtual void showError(const std::string& text) = 0;
    virtual void showInformation(const std::string& text) = 0;
    virtual void showPlain(const std::string& text) = 0;
    virtual bool askYesNo(const std::string& caption, const std::string& text) = 0;
    // A Yes/No/Cancel question with the question icon.
    virtual Choice askYesNoCancel(const std::string& caption, const std::string& text) = 0;

    // Processes every waiting window message and returns when the queue is empty.
    virtual void pumpMessages() = 0;
    virtual void showBusyWindow() = 0;
    virtual void hideBusyWindow() = 0;

    // Browse mode, the list reloaded when options.ini exists, the first entry selected.
    virtual void RefreshMainWindow() = 0;
    // Empties the systems folder field, the name field and the game folder field.
    virtual void ClearEntryFields() = 0;
};

// Fills the window's list from options.ini (LoadProfileList on the window's list).
void LoadProfileList(ProfileWindow& window);
// Selects the first entry when the list is not empty.
void selectFirstEntry(ProfileWindow& window);

} // namespace kestrane
