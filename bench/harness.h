// A small benchmark harness: every row runs this project's code and its peer
// libraries on identical input, in interleaved rounds within one process, and
// reports the median rate of each and the ratio this/peer.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// One pass over a row's whole input.
using Pass = std::function<void()>;

struct Contender {
    std::string name;  // "velkorix", "spandsp", ...
    Pass pass;
};

// Whether a row's output is still what it must be (bit-exact against its
// reference, or within the SNR floor), with a short statement for the table.
struct Check {
    bool ok = false;
    std::string text;
};

struct Row {
    std::string name;          // "G.726 24 kbit/s decode"
    std::size_t samples = 0;   // samples per pass
    Contender ours;
    std::vector<Contender> peers;  // empty: an absolute figure only
    std::function<Check()> check;  // run once before timing
    std::string note;              // framing or other conditions of the row
    std::size_t records = 0;       // filter rows: records per pass (the table shows the cost of one)
};

struct Options {
    int rounds = 9;              // interleaved rounds; the median is reported
    double runSeconds = 0.04;    // CPU time of one timed run (repeated passes)
    std::vector<std::string> only;  // substrings of row names to run (empty: all)
};

struct Measured {
    double rate = 0;  // samples per second, median over the rounds
    double spread = 0;  // (max - min) / median over the rounds
};

struct RowResult {
    const Row *row = nullptr;
    Check check;
    Measured ours;
    std::vector<Measured> peers;
};

// Runs the check, calibrates and times every contender of the row.
RowResult Run(const Row &row, const Options &options);

// Prints the table of all results to standard output.
void PrintTable(const std::vector<RowResult> &results);

// CPU time of the calling thread in seconds (wall clock where that is unavailable).
double ThreadSeconds();

}  // namespace bench
