// kestrane-cli: the profile actions from the command line, in the current directory.
//
//   kestrane-cli list
//   kestrane-cli save --systems DIR --game DIR --name NAME
//   kestrane-cli apply NAME
//   kestrane-cli rename OLD NEW
//   kestrane-cli delete NAME [--yes]
//
// Exit status: 0 when the action reached its success message, 1 when it did not,
// 2 for a usage error.
#include "app/application.h"
#include "app/console_window.h"
#include "app/profile_actions.h"
#include "app/profile_list.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

using namespace kestrane;

namespace {

constexpr int kDone = 0;
constexpr int kNotDone = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: kestrane-cli list\n"
    "       kestrane-cli save --systems DIR --game DIR --name NAME\n"
    "       kestrane-cli apply NAME\n"
    "       kestrane-cli rename OLD NEW\n"
    "       kestrane-cli delete NAME [--yes]\n";

struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;   // --name VALUE
    bool yes = false;
};

// Splits arguments into positional ones and the options a command accepts; nullopt when
// an option is unknown or misses its value.
std::optional<Arguments> parse(int argc, char** argv, const std::vector<std::string>& valueOptions, bool allowYes) {
    Arguments args;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (allowYes && a == "--yes") {
            args.yes = true;
        } else if (a.rfind("--", 0) == 0) {
            const std::string key = a.substr(2);
            if (std::find(valueOptions.begin(), valueOptions.end(), key) == valueOptions.end() || i + 1 >= argc)
                return std::nullopt;
            args.options[key] = argv[++i];
        } else {
            args.positional.push_back(a);
        }
    }
    return args;
}

// Loads the list and selects name in it, as a click in the window's list would.
bool selectProfile(ConsoleWindow& window, const std::string& name) {
    LoadProfileList(window);
    if (window.selectByName(name))
        return true;
    window.showError("Сервер не найден: " + name);
    return false;
}

int run(int argc, char** argv) {
    if (argc < 2)
        return kUsage;
    const std::string command = argv[1];

    if (command == "list") {
        if (argc != 2)
            return kUsage;
        for (const auto& name : LoadProfileList())
            std::cout << name << '\n';
        return kDone;
    }
    if (command == "save") {
        auto args = parse(argc, argv, {"systems", "game", "name"}, false);
        if (!args || !args->positional.empty() || args->options.size() != 3)
            return kUsage;
        ConsoleWindow window(std::cout, ConsoleWindow::Answer::Ask);
        LoadProfileList(window);
        window.systemsFolder = args->options["systems"];
        window.gameFolder = args->options["game"];
        window.name = args->options["name"];
        return SaveProfile(window) ? kDone : kNotDone;
    }
    if (command == "apply" || command == "rename" || command == "delete") {
        auto args = parse(argc, argv, {}, command == "delete");
        const std::size_t wanted = command == "rename" ? 2 : 1;
        if (!args || args->positional.size() != wanted)
            return kUsage;
        ConsoleWindow window(std::cout, args->yes ? ConsoleWindow::Answer::Yes : ConsoleWindow::Answer::Ask);
        if (!selectProfile(window, args->positional[0]))
            return kNotDone;
        bool done = false;
        if (command == "apply") {
            done = ApplyProfile(window);
        } else if (command == "rename") {
            window.name = args->positional[1];
            done = RenameProfile(window);
        } else {
            done = DeleteProfile(window);
        }
        return done ? kDone : kNotDone;
    }
    return kUsage;
}

} // namespace

int main(int argc, char** argv) {
    int status;
    try {
        status = run(argc, argv);
    } catch (const std::exception& e) {
        // The top-level error box, as a line.
        std::cout << kApplicationTitle << ": " << topLevelErrorText(e.what()) << std::endl;
        return kNotDone;
    }
    if (status == kUsage)
        std::cerr << kUsageText;
    return status;
}
