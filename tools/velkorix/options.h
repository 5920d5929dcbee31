// The tool's one argument parser. Each command describes what it takes in a
// table (options with a short and/or long name and a value, flags,
// positional arguments that may repeat) and reads its command line through
// ParseArgs; the command's --help is written from the same table, so every
// option the parser accepts is named there.
//
// Rules, the same for every command: words are read left to right; an
// option's value is the next word, whatever it looks like; "-" is a
// positional argument (standard input or output), any other word starting
// with "-" must be an option of the table; "-h" or "--help" prints the help
// and ends the command with status 0 when the parser reaches it,
// and "--version" prints "velkorix <version>" the same way. Anything
// else that does not fit is a usage error: a message on standard error and
// exit status 2.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velkorix::cli {

// Checks a value as it is read: returns the usage error in words, or "".
using ValueCheck = std::function<std::string(const std::string &value)>;

struct Argument {
    enum class Kind { Value, Flag, Positional };
    Kind kind = Kind::Flag;
    const char *shortName = nullptr;  // "-o"
    const char *longName = nullptr;   // "--output"
    const char *valueName = nullptr;  // Value: what the value is ("OUTPUT"); Positional: the argument ("INPUT")
    const char *help = "";            // lines separated by '\n'
    ValueCheck check;                 // Value and Positional; may be empty
    int most = 1;                     // Positional: how many may be given, 0 for any number
    const char *tooMany = nullptr;    // Positional: the usage error when more are given

    // The name the command reads it by: the long name, else the short name;
    // a positional argument's own name.
    std::string Key() const;
    // The name usage errors use: the short name, else the long name.
    std::string Name() const;
    // How the help shows it: "-o OUTPUT, --output OUTPUT", "--wav", "IN...".
    std::string Label() const;
};

// An option that takes a value; `shortName` or `longName` may be null.
Argument ValueOption(const char *shortName, const char *longName, const char *valueName, const char *help,
                    ValueCheck check = {});
Argument FlagOption(const char *shortName, const char *longName, const char *help);
// A positional argument; `most` 0 takes any number ("IN..." in the help).
Argument Positional(const char *name, const char *help, int most = 1,
                   const char *tooMany = "more than one input given");

// A value check for a whole decimal number in [min, max]: "NAME must be
// <what> from MIN to MAX, not 'TEXT'".
ValueCheck IntegerIn(long long min, long long max, const char *what = "a whole number");

struct CommandSyntax {
    std::string path;        // the command as typed: "velkorix voice encode"
    std::string helpPath;    // where usage errors send the user, when not `path`
    std::string synopsis;    // usage lines without "usage: ", separated by '\n'
    std::string about;       // what the command does, before the argument list
    std::vector<Argument> args;
    std::string epilogue;    // after the argument list

    // "<message> (see '<helpPath> --help')"
    std::string SeeHelp(const std::string &message) const;
};

// What a command line gave, by Argument::Key().
class ParsedArgs {
public:
    // True when the option or flag was given, or the positional argument.
    bool Has(const std::string &key) const { return values_.count(key) != 0; }
    // The last value given ("" when none).
    const std::string &Value(const std::string &key) const;
    // Every value given, in order (a flag: one empty value per time given).
    const std::vector<std::string> &Values(const std::string &key) const;
    // The last value as a whole number (one an IntegerIn check let through),
    // or `fallback` when none was given.
    long long Integer(const std::string &key, long long fallback) const;

private:
    friend std::optional<int> ParseArgs(const CommandSyntax &, const std::vector<std::string> &, ParsedArgs *);
    std::map<std::string, std::vector<std::string>> values_;
};

// Reads `args` (the words after the command's name) by `syntax` into `out`.
// Returns nothing when the command is to run; otherwise the exit status to
// end with: 0 after printing the help, 2 after a usage error (reported).
std::optional<int> ParseArgs(const CommandSyntax &syntax, const std::vector<std::string> &args, ParsedArgs *out);

// The command's help: usage lines, what it does, every argument with its
// help (-h, --help and --version included), the epilogue.
std::string HelpText(const CommandSyntax &syntax);

// Two columns of "  LABEL  help" lines: the help starts in one column for all
// entries (a label too long for it gets a line of its own) and its further
// lines are indented to that column.
std::string FormatEntries(const std::vector<std::pair<std::string, std::string>> &entries);

// A command made of subcommands ("velkorix voice encode"): runs the one
// `args` names, with the words after it. "-h", "--help" and "help" print
// `help`, "--version" the version; no words print the help to standard
// error as a usage error.
struct Subcommand {
    const char *name;
    int (*run)(const std::vector<std::string> &args);
};
int RunSubcommand(const char *group, const std::string &help, const std::vector<Subcommand> &commands,
                  const std::vector<std::string> &args);

}  // namespace velkorix::cli
