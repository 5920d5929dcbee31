#include "options.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "cli.h"

namespace velkorix::cli {
namespace {

const Argument kHelpFlag = FlagOption("-h", "--help", "show this help");
const Argument kVersionFlag = FlagOption(nullptr, "--version", "show the version");

// Labels up to this long share the help column; longer ones stand alone.
constexpr std::size_t kMaxLabel = 20;

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

bool IsOptionWord(const std::string &word) { return word.size() > 1 && word[0] == '-'; }

}  // namespace

std::string Argument::Key() const {
    if (kind == Kind::Positional) return valueName;
    return longName ? longName : shortName;
}

std::string Argument::Name() const {
    if (kind == Kind::Positional) return valueName;
    return shortName ? shortName : longName;
}

std::string Argument::Label() const {
    if (kind == Kind::Positional) return std::string(valueName) + (most == 1 ? "" : "...");
    const std::string value = kind == Kind::Value ? std::string(" ") + valueName : "";
    if (shortName && longName) {
        // A flag: "-v, --verbose"; a value: "-o OUTPUT, --output OUTPUT".
        return std::string(shortName) + (kind == Kind::Value ? value : "") + ", " + longName + value;
    }
    return std::string(shortName ? shortName : longName) + value;
}

Argument ValueOption(const char *shortName, const char *longName, const char *valueName, const char *help,
                    ValueCheck check) {
    Argument arg;
    arg.kind = Argument::Kind::Value;
    arg.shortName = shortName;
    arg.longName = longName;
    arg.valueName = valueName;
    arg.help = help;
    arg.check = std::move(check);
    return arg;
}

Argument FlagOption(const char *shortName, const char *longName, const char *help) {
    Argument arg;
    arg.kind = Argument::Kind::Flag;
    arg.shortName = shortName;
    arg.longName = longName;
    arg.help = help;
    return arg;
}

Argument Positional(const char *name, const char *help, int most, const char *tooMany) {
    Argument arg;
    arg.kind = Argument::Kind::Positional;
    arg.valueName = name;
    arg.help = help;
    arg.most = most;
    arg.tooMany = tooMany;
    return arg;
}

ValueCheck IntegerIn(long long min, long long max, const char *what) {
    return [=](const std::string &text) -> std::string {
        long long value = 0;
        if (ParseInt(text, min, max, &value)) return "";
        return std::string("must be ") + what + " from " + std::to_string(min) + " to " + std::to_string(max) +
               ", not '" + text + "'";
    };
}

std::string CommandSyntax::SeeHelp(const std::string &message) const {
    return message + " (see '" + (helpPath.empty() ? path : helpPath) + " --help')";
}

const std::string &ParsedArgs::Value(const std::string &key) const {
    static const std::string kNone;
    const auto found = values_.find(key);
    return found == values_.end() ? kNone : found->second.back();
}

const std::vector<std::string> &ParsedArgs::Values(const std::string &key) const {
    static const std::vector<std::string> kNone;
    const auto found = values_.find(key);
    return found == values_.end() ? kNone : found->second;
}

long long ParsedArgs::Integer(const std::string &key, long long fallback) const {
    long long value = fallback;
    if (Has(key) && !ParseInt(Value(key), LLONG_MIN, LLONG_MAX, &value)) value = fallback;
    return value;
}

std::optional<int> ParseArgs(const CommandSyntax &syntax, const std::vector<std::string> &args, ParsedArgs *out) {
    out->values_.clear();
    // A value check's message names the option the way usage errors do.
    auto checked = [&](const Argument &arg, const std::string &value) {
        const std::string problem = arg.check ? arg.check(value) : std::string();
        if (!problem.empty()) Error(arg.kind == Argument::Kind::Positional ? problem : arg.Name() + " " + problem);
        return problem.empty();
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &word = args[i];
        if (word == kHelpFlag.shortName || word == kHelpFlag.longName) {
            std::fputs(HelpText(syntax).c_str(), stdout);
            return kExitOk;
        }
        if (word == kVersionFlag.longName) {
            std::printf("%s\n", Version().c_str());
            return kExitOk;
        }
        const auto option = std::find_if(syntax.args.begin(), syntax.args.end(), [&](const Argument &arg) {
            return arg.kind != Argument::Kind::Positional &&
                   ((arg.shortName && word == arg.shortName) || (arg.longName && word == arg.longName));
        });
        if (option != syntax.args.end()) {
            if (option->kind == Argument::Kind::Flag) {
                out->values_[option->Key()].emplace_back();
                continue;
            }
            if (i + 1 >= args.size()) {
                Error(syntax.SeeHelp(option->Name() + " needs a value"));
                return kExitUsage;
            }
            const std::string &value = args[++i];
            if (!checked(*option, value)) return kExitUsage;
            out->values_[option->Key()].push_back(value);
            continue;
        }
        if (IsOptionWord(word)) {
            Error(syntax.SeeHelp("unknown option '" + word + "'"));
            return kExitUsage;
        }
        // The first positional argument with room left takes the word.
        const Argument *last = nullptr;
        const Argument *target = nullptr;
        for (const Argument &arg : syntax.args) {
            if (arg.kind != Argument::Kind::Positional) continue;
            last = &arg;
            if (arg.most == 0 || static_cast<int>(out->Values(arg.Key()).size()) < arg.most) {
                target = &arg;
                break;
            }
        }
        if (!target) {
            Error(syntax.SeeHelp(last && last->tooMany ? last->tooMany : "unexpected argument '" + word + "'"));
            return kExitUsage;
        }
        if (!checked(*target, word)) return kExitUsage;
        out->values_[target->Key()].push_back(word);
    }
    return std::nullopt;
}

std::string FormatEntries(const std::vector<std::pair<std::string, std::string>> &entries) {
    std::size_t width = 0;
    for (const auto &entry : entries)
        if (entry.first.size() <= kMaxLabel) width = std::max(width, entry.first.size());
    const std::string indent(2 + width + 2, ' ');
    std::string text;
    for (const auto &[label, help] : entries) {
        const std::vector<std::string> lines = Lines(help);
        text += "  " + label;
        if (label.size() <= kMaxLabel) {
            text += std::string(width + 2 - label.size(), ' ') + lines[0] + "\n";
        } else {
            text += "\n" + indent + lines[0] + "\n";
        }
        for (std::size_t k = 1; k < lines.size(); ++k) text += indent + lines[k] + "\n";
    }
    return text;
}

std::string HelpText(const CommandSyntax &syntax) {
    std::string text;
    const std::vector<std::string> usage = Lines(syntax.synopsis);
    for (std::size_t k = 0; k < usage.size(); ++k) text += (k == 0 ? "usage: " : "       ") + usage[k] + "\n";
    if (!syntax.about.empty()) text += "\n" + syntax.about + "\n";
    std::vector<std::pair<std::string, std::string>> entries;
    for (const Argument &arg : syntax.args) entries.emplace_back(arg.Label(), arg.help);
    entries.emplace_back(kHelpFlag.Label(), kHelpFlag.help);
    entries.emplace_back(kVersionFlag.Label(), kVersionFlag.help);
    text += '\n';
    text += FormatEntries(entries);
    if (!syntax.epilogue.empty()) text += "\n" + syntax.epilogue + "\n";
    return text;
}

int RunSubcommand(const char *group, const std::string &help, const std::vector<Subcommand> &commands,
                  const std::vector<std::string> &args) {
    if (args.empty()) {
        std::fputs(help.c_str(), stderr);
        return kExitUsage;
    }
    const std::string &name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(help.c_str(), stdout);
        return kExitOk;
    }
    if (name == kVersionFlag.longName) {
        std::printf("%s\n", Version().c_str());
        return kExitOk;
    }
    for (const Subcommand &command : commands)
        if (name == command.name) return command.run(std::vector<std::string>(args.begin() + 1, args.end()));
    Error("unknown " + std::string(group) + " command '" + name + "' (see 'velkorix " + group + " --help')");
    return kExitUsage;
}

}  // namespace velkorix::cli
