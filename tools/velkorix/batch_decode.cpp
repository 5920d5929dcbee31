#include "batch_decode.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "cli.h"

namespace velkorix::cli {
namespace {

std::atomic<bool> g_interrupted{false};
volatile sig_atomic_t g_signal = 0;
constexpr int kCaughtSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal) {
    g_signal = signal;
    g_interrupted.store(true);
}

using Clock = std::chrono::steady_clock;

// Standard error shared by the workers and the progress line: whole
// messages at a time, the progress line cleared before them and redrawn
// after by the next tick.
class Console {
public:
    void Print(const std::string &text) {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearLocked();
        std::fputs(text.c_str(), stderr);
    }
    void Draw(const std::string &line) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearLocked();
    }

private:
    void ClearLocked() {
        if (shown_) std::fputs("\r\033[K", stderr);
        shown_ = false;
    }
    std::mutex mutex_;
    bool shown_ = false;
};

// Counts the workers share with the progress display.
struct Progress {
    std::atomic<long> files{0};
    std::atomic<long> records{0};
    std::atomic<uint64_t> bytes{0};
    uint64_t totalBytes = 0;  // of the inputs that are regular files
    long totalFiles = 0;
    Clock::time_point start = Clock::now();
};

std::string Duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof(text), "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof(text), "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string ProgressLine(const Progress &progress) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - progress.start).count();
    const long records = progress.records.load();
    const uint64_t bytes = progress.bytes.load();
    std::string line = "velkorix: " + std::to_string(progress.files.load()) + "/" +
                       std::to_string(progress.totalFiles) + " files, " + std::to_string(records) + " records";
    if (elapsed > 0) line += ", " + std::to_string(static_cast<long>(records / elapsed)) + " records/s";
    if (bytes > 0 && progress.totalBytes >= bytes)
        line += ", " + Duration(elapsed * static_cast<double>(progress.totalBytes - bytes) / static_cast<double>(bytes)) +
                " left";
    return line;
}

int ProcessorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? static_cast<int>(n) : 1;
}

// Worse statuses win: a failure over a warning over success.
int Worse(int a, int b) {
    auto rank = [](int status) { return status == kExitFailure ? 2 : status == kExitWarning ? 1 : 0; };
    return rank(b) > rank(a) ? b : a;
}

std::string Quoted(const std::string &path) { return "'" + path + "'"; }

constexpr std::size_t kDebugLinesPerFile = 100;

// What one file's run has to say, as whole lines.
std::string FileMessages(const std::string &input, const std::string &output, const DecodeReport &report,
                         const std::vector<std::string> &debugLines, long debugLinesDropped, bool verbose,
                         bool quiet) {
    std::string text;
    for (const std::string &line : debugLines) text += "velkorix: " + Quoted(input) + ": [debug] " + line + "\n";
    if (debugLinesDropped > 0)
        text += "velkorix: " + Quoted(input) + ": [debug] " + std::to_string(debugLinesDropped) + " more messages\n";
    if (report.status == kExitFailure) return text + "velkorix: " + report.failure + "\n";
    const bool counts = report.invalidFormats || report.decodeFailures || report.truncatedSamples || report.g729Warnings;
    // A line for a file whose filter had something to say (not with -q), or
    // for every file with -v.
    if (verbose || (counts && !quiet)) {
        std::string formats;
        for (const auto &[format, count] : report.perFormat)
            formats += (formats.empty() ? "" : ", ") + std::string("format ") + std::to_string(format) + ": " +
                       std::to_string(count);
        text += "velkorix: " + Quoted(input) + ": " + std::to_string(report.records) + " records (" + formats + "), " +
                std::to_string(report.samples) + " samples written to " + Quoted(output) +
                "; invalid formats: " + std::to_string(report.invalidFormats) +
                ", decode failures: " + std::to_string(report.decodeFailures) +
                ", truncated samples: " + std::to_string(report.truncatedSamples);
        if (report.g729Warnings) text += ", G.729 warnings: " + std::to_string(report.g729Warnings);
        text += "\n";
    }
    for (const std::string &warning : report.warnings)
        text += "velkorix: warning: " + Quoted(input) + ": " + warning + "\n";
    return text;
}

// Makes `directory` and its parents when missing; false with `error` when it
// cannot be made or is not a directory.
bool MakeDirectory(const std::string &directory, std::string *error) {
    std::error_code code;
    const std::filesystem::path path(directory);
    if (std::filesystem::is_directory(path, code)) return true;
    if (std::filesystem::exists(path, code)) {
        *error = "cannot write into " + Quoted(directory) + ": it is not a directory";
        return false;
    }
    if (!std::filesystem::create_directories(path, code) && !std::filesystem::is_directory(path)) {
        *error = "cannot make the directory " + Quoted(directory) + ": " + code.message();
        return false;
    }
    return true;
}

}  // namespace

Interruption::Interruption() {
    g_interrupted.store(false);
    g_signal = 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a read waiting on a pipe gives up
    for (int i = 0; i < 3; ++i) sigaction(kCaughtSignals[i], &action, &previous_[i]);
}

Interruption::~Interruption() {
    for (int i = 0; i < 3; ++i) sigaction(kCaughtSignals[i], &previous_[i], nullptr);
}

const std::atomic<bool> &Interruption::Flag() const { return g_interrupted; }

int Interruption::ExitStatus() const { return 128 + (g_signal ? static_cast<int>(g_signal) : SIGINT); }

std::string BatchOutputName(const std::string &input, const std::string &directory, const std::string &extension) {
    std::string base = input;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const std::size_t slash = base.find_last_of('/');
    if (slash != std::string::npos) base = base.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot != 0) base.resize(dot);
    std::string path = directory;
    if (path.empty() || path.back() != '/') path += '/';
    return path + base + "." + extension;
}

int RunBatch(const std::vector<std::string> &inputs, const std::string &directory, const BatchOptions &options) {
    const OutputType &type = options.settings.type ? *options.settings.type : WavType();
    // Everything that makes the request impossible is found before any file
    // is touched.
    std::vector<std::string> outputs;
    std::map<std::string, std::string> claimed;  // output -> the input that gets it
    for (const std::string &input : inputs) {
        if (input == "-") {
            Error("standard input (-) cannot be decoded with -d: it has no name to give its output");
            return kExitUsage;
        }
        outputs.push_back(BatchOutputName(input, directory, type.extension));
        const auto [at, fresh] = claimed.emplace(outputs.back(), input);
        if (!fresh) {
            Error(Quoted(at->second) + " and " + Quoted(input) + " would both be decoded to " + Quoted(at->first) +
                  ": rename one, or decode them into different directories");
            return kExitUsage;
        }
    }
    std::set<std::pair<dev_t, ino_t>> inputFiles;
    Progress progress;
    progress.totalFiles = static_cast<long>(inputs.size());
    for (const std::string &input : inputs) {
        struct stat info;
        if (stat(input.c_str(), &info) != 0) continue;
        inputFiles.emplace(info.st_dev, info.st_ino);
        if (S_ISREG(info.st_mode)) progress.totalBytes += static_cast<uint64_t>(info.st_size);
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        struct stat info;
        if (stat(outputs[i].c_str(), &info) == 0 && inputFiles.count({info.st_dev, info.st_ino})) {
            Error("the output of " + Quoted(inputs[i]) + ", " + Quoted(outputs[i]) +
                  ", is one of the inputs: decode into another directory");
            return kExitUsage;
        }
    }
    std::string error;
    if (!MakeDirectory(directory, &error)) {
        Error(error);
        return kExitFailure;
    }

    const int workers = std::max(1, std::min(options.jobs > 0 ? options.jobs : ProcessorCount(),
                                             static_cast<int>(inputs.size())));
    const bool showProgress = !options.quiet && isatty(STDERR_FILENO);
    Console console;
    Interruption interruption;
    std::vector<DecodeReport> reports(inputs.size());
    std::vector<char> finished(inputs.size(), 0);  // one byte each: workers set theirs apart
    std::atomic<std::size_t> next{0};

    auto work = [&]() {
        for (;;) {
            if (interruption.Flag().load()) return;
            const std::size_t i = next.fetch_add(1);
            if (i >= inputs.size()) return;
            std::vector<std::string> debugLines;
            long dropped = 0;
            DecodeHooks hooks;
            auto keep = [&](const char *text) {
                if (!options.verbose) return;
                if (debugLines.size() >= kDebugLinesPerFile) {
                    ++dropped;
                    return;
                }
                std::string line = text;
                while (!line.empty() && line.back() == '\n') line.pop_back();
                debugLines.push_back(line);
            };
            hooks.onDebug = keep;
            hooks.onG729Warning = keep;
            hooks.onRecord = [&](uint64_t bytes) {
                progress.records.fetch_add(1, std::memory_order_relaxed);
                progress.bytes.fetch_add(bytes, std::memory_order_relaxed);
            };
            hooks.cancel = &interruption.Flag();
            reports[i] = DecodeStreamFile(inputs[i], outputs[i], options.settings, hooks);
            if (reports[i].interrupted) return;
            finished[i] = 1;
            progress.files.fetch_add(1);
            const std::string text =
                FileMessages(inputs[i], outputs[i], reports[i], debugLines, dropped, options.verbose, options.quiet);
            if (!text.empty()) console.Print(text);
        }
    };

    std::mutex tickMutex;
    std::condition_variable tick;
    bool done = false;
    std::thread ticker;
    if (showProgress) {
        ticker = std::thread([&]() {
            std::unique_lock<std::mutex> lock(tickMutex);
            while (!tick.wait_for(lock, std::chrono::milliseconds(200), [&] { return done; }))
                console.Draw(ProgressLine(progress));
        });
    }
    std::vector<std::thread> threads;
    for (int w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (std::thread &thread : threads) thread.join();
    if (ticker.joinable()) {
        {
            std::lock_guard<std::mutex> lock(tickMutex);
            done = true;
        }
        tick.notify_one();
        ticker.join();
        console.Clear();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - progress.start).count();

    int status = kExitOk;
    long clean = 0, warned = 0, failed = 0, notDone = 0, records = 0;
    long invalidFormats = 0, decodeFailures = 0, truncatedSamples = 0;
    uint64_t samples = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const DecodeReport &report = reports[i];
        if (!finished[i]) {
            ++notDone;
            continue;
        }
        status = Worse(status, report.status);
        if (report.status == kExitFailure) {
            ++failed;
            continue;
        }
        ++(report.status == kExitWarning ? warned : clean);
        records += report.records;
        samples += report.samples;
        invalidFormats += report.invalidFormats;
        decodeFailures += report.decodeFailures;
        truncatedSamples += report.truncatedSamples;
    }
    if (notDone > 0) {
        Error("interrupted: " + std::to_string(clean + warned) + " files decoded, " + std::to_string(failed) +
              " failed, " + std::to_string(notDone) + " not decoded (no partial output left)");
        return interruption.ExitStatus();
    }
    if (!options.quiet) {
        std::fprintf(stderr, "velkorix: %zu files: %ld decoded, %ld decoded with warnings, %ld failed\n", inputs.size(),
                     clean, warned, failed);
        std::fprintf(stderr, "velkorix: %ld records, %llu samples written to %s in %.2f s (%.1f files/s, %d %s)\n",
                     records, static_cast<unsigned long long>(samples), Quoted(directory).c_str(), seconds,
                     seconds > 0 ? static_cast<double>(inputs.size()) / seconds : 0.0, workers,
                     workers == 1 ? "worker" : "workers");
        std::fprintf(stderr, "velkorix: invalid formats: %ld, decode failures: %ld, truncated samples: %ld\n",
                     invalidFormats, decodeFailures, truncatedSamples);
    }
    return status;
}

}  // namespace velkorix::cli
