// The command-line tool's argument parser: options by short and long name,
// values, flags, repeated and bounded positional arguments, the usage errors
// and their status, and the help written from the same table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli.h"
#include "options.h"

namespace {

using velkorix::cli::CommandSyntax;
using velkorix::cli::FlagOption;
using velkorix::cli::IntegerIn;
using velkorix::cli::ParseArgs;
using velkorix::cli::ParsedArgs;
using velkorix::cli::Positional;
using velkorix::cli::ValueOption;

// A command shaped like the batch decoding to come: many inputs, an output
// directory, a worker count, flags with and without a short name.
CommandSyntax Syntax() {
    return CommandSyntax{
        "velkorix try",
        "",
        "velkorix try IN... -d OUTDIR [-j N] [-q]",
        "Tries the parser.",
        {
            Positional("IN", "inputs", 0),
            ValueOption("-d", "--directory", "OUTDIR", "where outputs go"),
            ValueOption("-j", "--jobs", "N", "worker threads", IntegerIn(1, 64)),
            ValueOption(nullptr, "--type", "T", "output type:\nwav  WAV\n     (the default)"),
            FlagOption("-q", "--quiet", "say nothing"),
            FlagOption(nullptr, "--json", "write JSON"),
        },
        "The end.",
    };
}

struct Outcome {
    int status;  // -1: the command runs
    ParsedArgs parsed;
    std::string out, err;
};

Outcome Parse(const CommandSyntax &syntax, const std::vector<std::string> &args) {
    Outcome o;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const auto exit = ParseArgs(syntax, args, &o.parsed);
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    o.status = exit ? *exit : -1;
    return o;
}

TEST(CliOptions, ShortAndLongNamesValuesFlagsAndRepeatedInputs) {
    const Outcome o = Parse(Syntax(), {"a.vks", "-d", "out", "b.vks", "--jobs", "4", "-", "-q", "--json", "c.vks",
                                     "--directory", "-weird", "--quiet"});
    ASSERT_EQ(o.status, -1) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.parsed.Values("IN"), (std::vector<std::string>{"a.vks", "b.vks", "-", "c.vks"}));
    EXPECT_EQ(o.parsed.Value("--directory"), "-weird");  // the last one given; a value may start with '-'
    EXPECT_EQ(o.parsed.Values("--directory").size(), 2u);
    EXPECT_EQ(o.parsed.Integer("--jobs", 1), 4);
    EXPECT_EQ(o.parsed.Values("--quiet").size(), 2u);
    EXPECT_TRUE(o.parsed.Has("--json"));
    EXPECT_FALSE(o.parsed.Has("--type"));
    EXPECT_EQ(o.parsed.Value("--type"), "");
    EXPECT_EQ(o.parsed.Integer("--type", 7), 7);
}

TEST(CliOptions, UsageErrorsEndWithStatusTwoAndSayWhy) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"a", "--bogus"}, "velkorix: unknown option '--bogus' (see 'velkorix try --help')\n"},
        {{"a", "-x", "--help"}, "velkorix: unknown option '-x' (see 'velkorix try --help')\n"},
        {{"a", "-d"}, "velkorix: -d needs a value (see 'velkorix try --help')\n"},
        {{"a", "--directory"}, "velkorix: -d needs a value (see 'velkorix try --help')\n"},
        {{"a", "--type"}, "velkorix: --type needs a value (see 'velkorix try --help')\n"},
        {{"a", "-j", "0"}, "velkorix: -j must be a whole number from 1 to 64, not '0'\n"},
        {{"a", "--jobs", "four", "--help"}, "velkorix: -j must be a whole number from 1 to 64, not 'four'\n"},
        {{"a", "--jobs=4"}, "velkorix: unknown option '--jobs=4' (see 'velkorix try --help')\n"},
    };
    for (const Case &c : cases) {
        const Outcome o = Parse(Syntax(), c.args);
        EXPECT_EQ(o.status, velkorix::cli::kExitUsage) << c.message;
        EXPECT_EQ(o.err, c.message);
        EXPECT_EQ(o.out, "");
    }
    // A bounded positional argument: the argument's own complaint.
    CommandSyntax one = Syntax();
    one.args[0] = Positional("INPUT", "the input");
    one.helpPath = "velkorix elsewhere";
    const Outcome o = Parse(one, {"a", "b"});
    EXPECT_EQ(o.status, velkorix::cli::kExitUsage);
    EXPECT_EQ(o.err, "velkorix: more than one input given (see 'velkorix elsewhere --help')\n");
    // No positional argument at all.
    CommandSyntax none = Syntax();
    none.args.erase(none.args.begin());
    EXPECT_EQ(Parse(none, {"a"}).err, "velkorix: unexpected argument 'a' (see 'velkorix try --help')\n");
}

TEST(CliOptions, HelpWhereverItComesAndFromTheTable) {
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"a", "-j", "2", "-h", "--bogus"}, {"-d", "x", "--help", "-j", "0"}}) {
        const Outcome o = Parse(Syntax(), args);
        EXPECT_EQ(o.status, velkorix::cli::kExitOk);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.out, velkorix::cli::HelpText(Syntax()));
    }
    // "-d --help": --help is -d's value.
    EXPECT_EQ(Parse(Syntax(), {"-d", "--help"}).status, -1);
    EXPECT_EQ(velkorix::cli::HelpText(Syntax()),
              "usage: velkorix try IN... -d OUTDIR [-j N] [-q]\n"
              "\n"
              "Tries the parser.\n"
              "\n"
              "  IN...           inputs\n"
              "  -d OUTDIR, --directory OUTDIR\n"
              "                  where outputs go\n"
              "  -j N, --jobs N  worker threads\n"
              "  --type T        output type:\n"
              "                  wav  WAV\n"
              "                       (the default)\n"
              "  -q, --quiet     say nothing\n"
              "  --json          write JSON\n"
              "  -h, --help      show this help\n"
              "  --version       show the version\n"
              "\n"
              "The end.\n");
    // Every name the parser accepts is in the help.
    const std::string help = velkorix::cli::HelpText(Syntax());
    for (const auto &arg : Syntax().args) {
        for (const char *name : {arg.shortName, arg.longName}) {
            if (name) {
                EXPECT_NE(help.find(name), std::string::npos) << name;
            }
        }
    }
}

TEST(CliOptions, VersionWhereverItComes) {
    const std::string version = velkorix::cli::Version();
    EXPECT_EQ(version, std::string("velkorix ") + VELKORIX_VERSION);
    EXPECT_EQ(version.rfind("velkorix 1.", 0), 0u) << version;
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--version"}, {"a", "-j", "2", "--version", "--bogus"}, {"-d", "x", "--version", "-j", "0"}}) {
        const Outcome o = Parse(Syntax(), args);
        EXPECT_EQ(o.status, velkorix::cli::kExitOk);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.out, version + "\n");
    }
    // "-d --version": --version is -d's value; "-version" is no option.
    EXPECT_EQ(Parse(Syntax(), {"-d", "--version"}).status, -1);
    EXPECT_EQ(Parse(Syntax(), {"-version"}).status, velkorix::cli::kExitUsage);
}

TEST(CliOptions, SubcommandsAndTheirHelp) {
    static int seen = 0;
    const std::vector<velkorix::cli::Subcommand> commands = {
        {"one", [](const std::vector<std::string> &args) { return seen = static_cast<int>(args.size()); }}};
    auto run = [&](const std::vector<std::string> &args, std::string *out, std::string *err) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = velkorix::cli::RunSubcommand("grp", "HELP\n", commands, args);
        *out = testing::internal::GetCapturedStdout();
        *err = testing::internal::GetCapturedStderr();
        return status;
    };
    std::string out, err;
    EXPECT_EQ(run({"one", "a", "b"}, &out, &err), 2);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(run({}, &out, &err), velkorix::cli::kExitUsage);
    EXPECT_EQ(err, "HELP\n");
    for (const char *word : {"--help", "-h", "help"}) {
        EXPECT_EQ(run({word}, &out, &err), velkorix::cli::kExitOk);
        EXPECT_EQ(out, "HELP\n");
    }
    EXPECT_EQ(run({"--version"}, &out, &err), velkorix::cli::kExitOk);
    EXPECT_EQ(out, velkorix::cli::Version() + "\n");
    EXPECT_EQ(run({"two"}, &out, &err), velkorix::cli::kExitUsage);
    EXPECT_EQ(err, "velkorix: unknown grp command 'two' (see 'velkorix grp --help')\n");
}

}  // namespace
