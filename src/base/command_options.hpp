// A command's options, declared once in a table with their help: the
// parsing of the command line and the help's list of options come from it.
#pragma once

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

namespace placatermo {

// How an option takes its value.
enum class OptionValue {
    none,    // --batch
    joined,  // --multigrid=CICLO: the name ends with '=' and the value follows
    next,    // --tarefas N: the next argument (without one, no option matches)
};

// Where an option stands in the program's usage line.
enum class OptionPlace {
    optional,  // [--batch]
    instead,   // | --help: instead of a run
    command,   // estudo ...: the first argument, a usage line of its own
};

template <class Target>
struct CommandOption {
    std::string_view name;  // "--batch", "--multigrid=", "--tarefas", "estudo"
    OptionValue value = OptionValue::none;
    OptionPlace place = OptionPlace::optional;
    std::string_view synopsis;  // in the usage line ("--multigrid=CICLO"); empty: not there
    std::string_view listed;    // in the help's list ("--multigrid=classico"); empty: not there
    std::string_view help;      // its text in the list, one line a '\n'
    // Takes the option with its value (empty for none): false when the
    // value is not one it takes (the argument is then unknown). Refusals
    // that have a message of their own throw a FatalError.
    bool (*take)(Target& target, std::string_view value) = nullptr;
    std::string_view alias = {};  // "-h"
};

// Takes argv[i] as an option of `table` (and argv[i + 1] as its value when
// the option takes the next argument, moving `i` past it): the option, or
// null when none takes it (a command takes only the first argument).
template <class Target>
const CommandOption<Target>* take_option(std::span<const CommandOption<Target>> table, int argc, char** argv, int& i,
                                         Target& target)
{
    const std::string_view argument = argv[i];
    for (const auto& option : table) {
        std::string_view value;
        bool named = false;
        switch (option.value) {
        case OptionValue::none:
            named = (argument == option.name || (!option.alias.empty() && argument == option.alias)) &&
                    (option.place != OptionPlace::command || i == 1);
            break;
        case OptionValue::joined:
            named = argument.substr(0, option.name.size()) == option.name;
            value = argument.substr(std::min(option.name.size(), argument.size()));
            break;
        case OptionValue::next:
            named = argument == option.name && i + 1 < argc;
            if (named) value = argv[i + 1];
            break;
        }
        if (!named) continue;
        if (!option.take(target, value)) return nullptr;
        if (option.value == OptionValue::next) ++i;
        return &option;
    }
    return nullptr;
}

// The help's list of options: two blanks, the option as listed, and its text
// from column `width` + 4 (on a line of its own after an option longer than
// `width`), its further lines under its first.
template <class Target>
std::string option_list(std::span<const CommandOption<Target>> table, std::size_t width)
{
    const std::string indent(width + 4, ' ');
    std::string list;
    for (const auto& option : table) {
        if (option.listed.empty()) continue;
        list.append("  ").append(option.listed);
        if (option.listed.size() > width)
            list.append("\n").append(indent);
        else
            list.append(width + 2 - option.listed.size(), ' ');
        for (const char c : option.help) {
            list += c;
            if (c == '\n') list += indent;
        }
        list += '\n';
    }
    return list;
}

}  // namespace placatermo
