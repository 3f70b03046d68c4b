// kestrane-cli: the profile actions from the command line, in the current directory.
// The commands, their arguments and the usage lines are the table `commands()` below.
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
#include <functional>
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

int runList(const Arguments& args, ProfileArchive&) {
    if (!args.has("long")) {
        for (const auto& name : LoadProfileList())
            std::cout << name << '\n';
    } else {
        // Name, game folder and the archive flag, as the lines hold them.
        for (const auto& line : readListFile().texts())
            std::cout << line << '\n';
    }
    return kDone;
}

int runSave(const Arguments& args, ProfileArchive& archive) {
    ConsoleWindow window(std::cout, ConsoleWindow::Answer::Ask);
    LoadProfileList(window);
    window.systemsFolder = args.options.at("systems");
    window.gameFolder = args.options.at("game");
    window.name = args.options.at("name");
    window.archiveBox = args.has("archive");
    return SaveProfile(window, &archive) ? kDone : kNotDone;
}

int runStatus(const Arguments& args, ProfileArchive&) {
    static constexpr const char* kStates[] = {"-", "applied", "changed"};
    for (const ProfileStatus& status : ProfileStatuses()) {
        if (!args.positional.empty() && status.name != args.positional[0])
            continue;
        std::cout << status.name << '\t' << status.gameFolder << '\t'
                  << (status.valid ? status.archived ? "1" : "0" : "") << '\t'
                  << (status.valid ? kStates[int(status.state)] : "invalid") << '\n';
    }
    return kDone;
}

// Runs an action on the profile named by the first argument, selected as a click in the
// window's list would; `yes` answers the action's yes/no question.
int onProfile(const Arguments& args, bool yes, const std::function<bool(ConsoleWindow&)>& action) {
    ConsoleWindow window(std::cout, yes ? ConsoleWindow::Answer::Yes : ConsoleWindow::Answer::Ask);
    if (args.has("save-changes"))
        window.presetChoice = Choice::Yes;
    else if (args.has("discard-changes"))
        window.presetChoice = Choice::No;
    if (!selectProfile(window, args.positional[0]))
        return kNotDone;
    return action(window) ? kDone : kNotDone;
}

int runApply(const Arguments& args, ProfileArchive& archive) {
    if (args.has("save-changes") && args.has("discard-changes"))
        return kUsage;
    return onProfile(args, false, [&](ConsoleWindow& window) { return ApplyProfile(window, &archive); });
}

int runRename(const Arguments& args, ProfileArchive& archive) {
    return onProfile(args, false, [&](ConsoleWindow& window) {
        window.name = args.positional[1];
        return RenameProfile(window, &archive);
    });
}

// A delete asks unless --yes.
int runDelete(const Arguments& args, ProfileArchive&) {
    return onProfile(args, args.has("yes"), [](ConsoleWindow& window) { return DeleteProfile(window); });
}

// The undo command is its own confirmation.
int runUndo(const Arguments& args, ProfileArchive&) {
    return onProfile(args, true, [](ConsoleWindow& window) { return UndoApply(window); });
}

int runUpdate(const Arguments& args, ProfileArchive& archive) {
    return onProfile(args, false, [&](ConsoleWindow& window) { return UpdateProfile(window, &archive); });
}

struct Command {
    std::string name;
    std::string usage;                     // the arguments, as the usage line shows them
    std::vector<std::string> valueOptions; // --option VALUE
    std::vector<std::string> flags;        // --flag
    bool allOptions;                       // every value option must be given
    std::size_t minNames, maxNames;        // how many positional arguments
    int (*handler)(const Arguments& args, ProfileArchive& archive);
};

// The commands, in the order of the usage lines.
const std::vector<Command>& commands() {
    static const std::vector<Command> kCommands = {
        {"list", "[--long]", {}, {"long"}, false, 0, 0, runList},
        {"save",
         "--systems DIR --game DIR --name NAME [--archive]",
         {"systems", "game", "name"},
         {"archive"},
         true,
         0,
         0,
         runSave},
        {"apply",
         "NAME [--save-changes | --discard-changes]",
         {},
         {"save-changes", "discard-changes"},
         false,
         1,
         1,
         runApply},
        {"rename", "OLD NEW", {}, {}, false, 2, 2, runRename},
        {"delete", "NAME [--yes]", {}, {"yes"}, false, 1, 1, runDelete},
        {"undo", "NAME", {}, {}, false, 1, 1, runUndo},
        {"update", "NAME", {}, {}, false, 1, 1, runUpdate},
        {"status", "[NAME]", {}, {}, false, 0, 1, runStatus},
    };
    return kCommands;
}

std::string usageText() {
    std::string text;
    for (const Command& command : commands())
        text += (text.empty() ? "usage: " : "       ") + std::string("kestrane-cli ") + command.name + " " +
                command.usage + "\n";
    return text + "       (\"--\" before a name that begins with \"-\")\n";
}

int run(int argc, char** argv) {
    if (argc < 2)
        return kUsage;
    const std::string name = argv[1];
    archiver::TZipArchiver zip;
    installPrompts(zip);
    ZipProfileArchive archive(zip);
    {
        // Whatever an interrupted run left is settled first, as the window does at start.
        ConsoleWindow quiet(std::cout, ConsoleWindow::Answer::Ask);
        RecoverInterruptedActions(quiet);
    }
    const auto& all = commands();
    const auto command = std::find_if(all.begin(), all.end(), [&](const Command& c) { return c.name == name; });
    if (command == all.end())
        return kUsage;
    const auto args = parse(argc, argv, command->valueOptions, command->flags);
    if (!args || args->positional.size() < command->minNames || args->positional.size() > command->maxNames ||
        (command->allOptions && args->options.size() != command->valueOptions.size()))
        return kUsage;
    return command->handler(*args, archive);
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
        std::cerr << usageText();
    return status;
}
