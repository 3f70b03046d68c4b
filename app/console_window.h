// The profile actions' window on a terminal: fields come from the command line, message
// boxes become lines "Caption: text" on standard output, questions are answered by a
// flag, asked on the terminal, or answered No.
#pragma once

#include "app/profile_window.h"

#include <iosfwd>
#include <optional>

namespace kestrane {

class ConsoleWindow : public ProfileWindow {
public:
    enum class Answer { Ask, Yes };

    ConsoleWindow(std::ostream& out, Answer answer);

    std::string systemsFolder, gameFolder, name;
    bool archiveBox = false;

    std::string systemsFolderText() const override { return systemsFolder; }
    std::string gameFolderText() const override { return gameFolder; }
    std::string nameText() const override { return name; }
    bool archiveBoxTicked() const override { return archiveBox; }

    std::vector<std::string> profileEntries() const override { return m_entries; }
    void setProfileEntries(const std::vector<std::string>& names) override;
    int SelectedIndex() const override { return m_selected; }
    void selectEntry(int index) override { m_selected = index; }

    void showError(const std::string& text) override;
    void showInformation(const std::string& text) override;
    void showPlain(const std::string& text) override;
    bool askYesNo(const std::string& caption, const std::string& text) override;
    // Answered by `presetChoice` when set, else asked on a terminal, else No.
    Choice askYesNoCancel(const std::string& caption, const std::string& text) override;
    std::optional<Choice> presetChoice;

    void pumpMessages() override {}
    void showBusyWindow() override {}
    void hideBusyWindow() override {}
    void RefreshMainWindow() override;
    void ClearEntryFields() override;

    // Asks on the terminal: the reply line, or nullopt without a terminal or at its end.
    static std::optional<std::string> askOnTerminal(std::ostream& out, const std::string& question);

    // Selects the entry whose text is name, as a click in the list would; false when
    // the list has no such entry.
    bool selectByName(const std::string& name);

private:
    std::ostream& m_out;
    Answer m_answer;
    std::vector<std::string> m_entries;
    int m_selected = -1;
};

} // namespace kestrane
