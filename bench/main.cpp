// velkorix_bench: this project's codecs against the peer libraries on the
// same input, in one process, one table.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "harness.h"
#include "rows.h"
#include "signals.h"

namespace {

const char kUsage[] =
    "usage: velkorix_bench [--speech FILE.raw] [--rounds N] [--time SECONDS] [--frame SAMPLES] [--only TEXT]...\n"
    "\n"
    "  --speech FILE   8 kHz mono 16-bit little-endian speech (e.g. espeak-ng through sox);\n"
    "                  without it a generated speech-like signal is used\n"
    "  --rounds N      interleaved rounds per row, the median is reported (default 9)\n"
    "  --time S        CPU seconds of one timed run of one contender (default 0.04)\n"
    "  --frame N       samples per voice-library frame: 80, 160, 240, 320, 400 or 480 (default 160)\n"
    "  --only TEXT     run only the rows whose name contains TEXT (repeatable)\n";

std::string CpuModel() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos) return line.substr(colon + 2);
        }
    }
    return "unknown processor";
}

}  // namespace

namespace bench {

std::string Mismatch(const std::vector<int16_t> &ours, const std::vector<int16_t> &reference) {
    if (ours.size() != reference.size())
        return std::to_string(ours.size()) + " samples against " + std::to_string(reference.size());
    std::size_t differing = 0, first = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (ours[i] != reference[i] && differing++ == 0) first = i;
    }
    if (differing == 0) return {};
    return std::to_string(differing) + " of " + std::to_string(ours.size()) + " samples, first at " +
           std::to_string(first) + " (" + std::to_string(ours[first]) + " against " +
           std::to_string(reference[first]) + ")";
}

}  // namespace bench

int main(int argc, char **argv) {
    bench::Options options;
    std::string speechFile;
    int frame = 160;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--speech" && hasValue) {
            speechFile = argv[++i];
        } else if (a == "--rounds" && hasValue) {
            options.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--time" && hasValue) {
            options.runSeconds = std::max(0.001, std::atof(argv[++i]));
        } else if (a == "--frame" && hasValue) {
            frame = std::atoi(argv[++i]);
            if (frame < 80 || frame > 480 || frame % 80 != 0) {
                std::fputs(kUsage, stderr);
                return 2;
            }
        } else if (a == "--only" && hasValue) {
            options.only.push_back(argv[++i]);
        } else {
            std::fputs(kUsage, stderr);
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }

    bench::Input input;
    std::string description;
    input.pcm = bench::BenchInput(speechFile, 30.0, 10.0, 480, &description);
    input.frameSamples = frame;

    std::vector<bench::Row> rows;
    bench::AddVoiceRows(rows, input);
    bench::AddStreamRows(rows, input);
    bench::AddG729Rows(rows, input);
    bench::AddFilterRows(rows, input);

    std::printf("Machine: %s, %u logical processors\n", CpuModel().c_str(), std::thread::hardware_concurrency());
    std::printf("Compiler: %s\n", __VERSION__);
    std::printf("Input: %s (%zu samples at 8 kHz); voice-library frames of %d samples\n", description.c_str(),
                input.pcm.size(), frame);
    std::printf("Timing: thread CPU time, median of %d interleaved rounds of %.0f ms per contender\n\n",
                options.rounds, options.runSeconds * 1000);
    std::fflush(stdout);

    std::vector<bench::RowResult> results;
    bool allOk = true;
    for (const bench::Row &row : rows) {
        bool selected = options.only.empty();
        for (const auto &text : options.only) selected = selected || row.name.find(text) != std::string::npos;
        if (!selected) continue;
        std::fprintf(stderr, "bench: %s\n", row.name.c_str());
        results.push_back(bench::Run(row, options));
        allOk = allOk && results.back().check.ok;
    }
    bench::PrintTable(results);
    if (!allOk) std::fprintf(stderr, "bench: some output is not what it must be (see the table)\n");
    return allOk ? 0 : 1;
}
