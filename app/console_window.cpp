#include "app/console_window.h"

#include "app/application.h"

#include "platform/terminal.h"

#include <iostream>
#include <string>

namespace kestrane {

ConsoleWindow::ConsoleWindow(std::ostream& out, Answer answer) : m_out(out), m_answer(answer) {}

void ConsoleWindow::setProfileEntries(const std::vector<std::string>& names) {
    m_entries = names;
    m_selected = -1;
}

void ConsoleWindow::showError(const std::string& text) { m_out << "Error: " << text << '\n'; }
void ConsoleWindow::showInformation(const std::string& text) { m_out << "Information: " << text << '\n'; }
void ConsoleWindow::showPlain(const std::string& text) { m_out << kApplicationTitle << ": " << text << '\n'; }

bool ConsoleWindow::askYesNo(const std::string& caption, const std::string& text) {
    if (m_answer == Answer::Yes) {
        m_out << caption << ": " << text << " Yes\n";
        return true;
    }
    const auto reply = askOnTerminal(m_out, caption + ": " + text + " [y/N]");
    if (!reply) {
        m_out << caption << ": " << text << " No\n";
        return false;
    }
    return !reply->empty() && ((*reply)[0] == 'y' || (*reply)[0] == 'Y');
}

Choice ConsoleWindow::askYesNoCancel(const std::string& caption, const std::string& text) {
    static constexpr const char* kWords[] = {"Yes", "No", "Cancel"};
    std::optional<Choice> choice = presetChoice;
    if (!choice) {
        const auto reply = askOnTerminal(m_out, caption + ": " + text + " [y/n/c]");
        if (reply) {
            const char c = reply->empty() ? 'n' : (*reply)[0];
            return c == 'y' || c == 'Y' ? Choice::Yes : c == 'c' || c == 'C' ? Choice::Cancel : Choice::No;
        }
        choice = Choice::No;
    }
    m_out << caption << ": " << text << ' ' << kWords[int(*choice)] << '\n';
    return *choice;
}

std::optional<std::string> ConsoleWindow::askOnTerminal(std::ostream& out, const std::string& question) {
    if (!platform::isTerminal(platform::StandardStream::Input))
        return std::nullopt;
    out << question << ' ' << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return std::nullopt;
    return answer;
}

void ConsoleWindow::RefreshMainWindow() {
    LoadProfileList(*this);
    selectFirstEntry(*this);
}

void ConsoleWindow::ClearEntryFields() {
    systemsFolder.clear();
    name.clear();
    gameFolder.clear();
}

bool ConsoleWindow::selectByName(const std::string& wanted) {
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i] == wanted) {
            m_selected = int(i);
            return true;
        }
    }
    return false;
}

} // namespace kestrane
