// kestrane-cli: the profile actions from the command line, in the current directory.
//
//   kestrane-cli list [--long]
//   kestrane-cli save --systems DIR --game DIR --name NAME [--archive]
//   kestrane-cli apply NAME [--save-changes | --discard-changes]
//   kestrane-cli rename OLD NEW
//   kestrane-cli delete NAME [--yes]
//   kestrane-cli undo NAME
//   kestrane-cli update NAME
//   kestrane-cli status [NAME]
//
// "--" ends the options: the arguments after it are names, even when they begin with "-".
// Exit status: 0 when the action reached its success message, 1 when it did not,
// 2 for a usage error.
#include "app/application.h"
#include "app/console_window.h"
#include "app/profile_actions.h"
#include "app/profile_archive.h"
#include "app/profile_list.h"
#include "archiver/zip_archiver.h"
#include "platform/program_arguments.h"

#include <algorithm>
#include <exception>
#include <optional>
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
    "usage: kestrane-cli list [--long]\n"
    "       kestrane-cli save --systems DIR --game DIR --name NAME [--archive]\n"
    "       kestrane-cli apply NAME [--save-changes | --discard-changes]\n"
    "       kestrane-cli rename OLD NEW\n"
    "       kestrane-cli delete NAME [--yes]\n"
    "       kestrane-cli undo NAME\n"
    "       kestrane-cli update NAME\n"
    "       kestrane-cli status [NAME]\n"
    "       (\"--\" before a name that begins with \"-\")\n";

struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options; // --name VALUE
    std::vector<std::string> flags;             // --flag
    bool has(const std::string& flag) const { return std::find(flags.begin(), flags.end(), flag) != flags.end(); }
};

// Splits arguments into positional ones and the options and flags a command accepts;
// nullopt when an option is unknown or misses its value.
std::optional<Arguments> parse(int argc, char** argv, const std::vector<std::string>& valueOptions,
                               const std::vector<std::string>& flags = {}) {
    Arguments args;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsEnded) {
            args.positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a.rfind("--", 0) == 0 && std::find(flags.begin(), flags.end(), a.substr(2)) != flags.end()) {
            args.flags.push_back(a.substr(2));
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

std::optional<std::string> ask(const std::string& question) {
    return ConsoleWindow::askOnTerminal(std::cout, question);
}

// The archiver's questions as lines: asked on a terminal; without one a failed file
// aborts and an existing file is not overwritten.
void installPrompts(archiver::TZipArchiver& zip) {
    zip.Prompts.askFailure = [](const std::string& message, bool allowRetry) {
        std::cout << kApplicationTitle << ": " << message << '\n';
        for (;;) {
            auto answer = ask(allowRetry ? "Abort, Retry or Ignore? [a/r/i]" : "Abort or Ignore? [a/i]");
            if (!answer || *answer == "a")
                return archiver::fxaAbort;
            if (*answer == "i")
                return archiver::fxaIgnore;
            if (allowRetry && *answer == "r")
                return archiver::fxaRetry;
        }
    };
    zip.Prompts.askOverwrite = [](const std::string& question) {
        auto answer = ask(question + " [y/n/N(o to all)/A(ll)]");
        if (!answer)
            return archiver::TZAOverwriteAnswer::No;
        if (*answer == "y")
            return archiver::TZAOverwriteAnswer::Yes;
        if (*answer == "A")
            return archiver::TZAOverwriteAnswer::YesToAll;
        if (*answer == "N")
            return archiver::TZAOverwriteAnswer::NoToAll;
        return archiver::TZAOverwriteAnswer::No;
    };
}

int run(int argc, char** argv) {
    if (argc < 2)
        return kUsage;
    const std::string command = argv[1];
    archiver::TZipArchiver zip;
    installPrompts(zip);
    ZipProfileArchive archive(zip);
    {
        // Whatever an interrupted run left is settled first, as the window does at start.
        ConsoleWindow quiet(std::cout, ConsoleWindow::Answer::Ask);
        RecoverInterruptedActions(quiet);
    }

    if (command == "list") {
        auto args = parse(argc, argv, {}, {"long"});
        if (!args || !args->positional.empty())
            return kUsage;
        if (!args->has("long")) {
            for (const auto& name : LoadProfileList())
                std::cout << name << '\n';
        } else {
            // Name, game folder and the archive flag, as the lines hold them.
            for (const auto& line : readListFile().texts())
                std::cout << line << '\n';
        }
        return kDone;
    }
    if (command == "save") {
        auto args = parse(argc, argv, {"systems", "game", "name"}, {"archive"});
        if (!args || !args->positional.empty() || args->options.size() != 3)
            return kUsage;
        ConsoleWindow window(std::cout, ConsoleWindow::Answer::Ask);
        LoadProfileList(window);
        window.systemsFolder = args->options["systems"];
        window.gameFolder = args->options["game"];
        window.name = args->options["name"];
        window.archiveBox = args->has("archive");
        return SaveProfile(window, &archive) ? kDone : kNotDone;
    }
    if (command == "status") {
        auto args = parse(argc, argv, {});
        if (!args || args->positional.size() > 1)
            return kUsage;
        static constexpr const char* kStates[] = {"-", "applied", "changed"};
        for (const ProfileStatus& status : ProfileStatuses()) {
            if (!args->positional.empty() && status.name != args->positional[0])
                continue;
            std::cout << status.name << '\t' << status.gameFolder << '\t'
                      << (status.valid ? status.archived ? "1" : "0" : "") << '\t'
                      << (status.valid ? kStates[int(status.state)] : "invalid") << '\n';
        }
        return kDone;
    }
    if (command == "apply" || command == "rename" || command == "delete" || command == "undo" || command == "update") {
        const std::vector<std::string> flags = command == "delete" ? std::vector<std::string>{"yes"}
                                               : command == "apply"
                                                   ? std::vector<std::string>{"save-changes", "discard-changes"}
                                                   : std::vector<std::string>{};
        auto args = parse(argc, argv, {}, flags);
        const std::size_t wanted = command == "rename" ? 2 : 1;
        if (!args || args->positional.size() != wanted || (args->has("save-changes") && args->has("discard-changes")))
            return kUsage;
        // The undo command is its own confirmation; a delete asks unless --yes.
        const bool yes = args->has("yes") || command == "undo";
        ConsoleWindow window(std::cout, yes ? ConsoleWindow::Answer::Yes : ConsoleWindow::Answer::Ask);
        if (args->has("save-changes"))
            window.presetChoice = Choice::Yes;
        else if (args->has("discard-changes"))
            window.presetChoice = Choice::No;
        if (!selectProfile(window, args->positional[0]))
            return kNotDone;
        bool done = false;
        if (command == "apply") {
            done = ApplyProfile(window, &archive);
        } else if (command == "update") {
            done = UpdateProfile(window, &archive);
        } else if (command == "undo") {
            done = UndoApply(window);
        } else if (command == "rename") {
            window.name = args->positional[1];
            done = RenameProfile(window, &archive);
        } else {
            done = DeleteProfile(window);
        }
        return done ? kDone : kNotDone;
    }
    return kUsage;
}

} // namespace

int main(int argc, char** argv) {
    platform::ProgramArguments utf8(argc, argv);
    int status;
    try {
        status = run(utf8.argc(), utf8.argv());
    } catch (const std::exception& e) {
        // The top-level error box, as a line.
        std::cout << kApplicationTitle << ": " << topLevelErrorText(e.what()) << std::endl;
        return kNotDone;
    }
    if (status == kUsage)
        std::cerr << kUsageText;
    return status;
}
