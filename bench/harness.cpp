#include "harness.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace bench {

double ThreadSeconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    // CPU time of this thread: time spent descheduled while other processes
    // run on the shared cores does not count against any contender.
    timespec ts{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) == 0)
        return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
#endif
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

namespace {

double TimePasses(const Pass &pass, long repetitions) {
    const double start = ThreadSeconds();
    for (long i = 0; i < repetitions; ++i) pass();
    return (ThreadSeconds() - start) / static_cast<double>(repetitions);
}

// Passes per timed run so that one run takes about `seconds` of CPU time.
long Calibrate(const Pass &pass, double seconds) {
    pass();  // warm caches and lazily initialised tables
    long repetitions = 1;
    for (;;) {
        const double each = TimePasses(pass, repetitions);
        if (each * static_cast<double>(repetitions) >= seconds / 4 || repetitions > (1L << 24))
            return std::max(1L, static_cast<long>(std::ceil(seconds / std::max(each, 1e-9))));
        repetitions *= 4;
    }
}

Measured Summarise(std::vector<double> seconds, std::size_t samples) {
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    Measured m;
    m.rate = static_cast<double>(samples) / median;
    m.spread = (seconds.back() - seconds.front()) / median;
    return m;
}

}  // namespace

RowResult Run(const Row &row, const Options &options) {
    RowResult result;
    result.row = &row;
    result.check = row.check ? row.check() : Check{true, "-"};

    std::vector<const Contender *> all{&row.ours};
    for (const auto &p : row.peers) all.push_back(&p);
    std::vector<long> repetitions;
    for (const Contender *c : all) repetitions.push_back(Calibrate(c->pass, options.runSeconds));

    std::vector<std::vector<double>> seconds(all.size());
    for (int round = 0; round < options.rounds; ++round) {
        // Rotate the order each round so that no contender always runs first
        // (after the previous row) or last.
        for (std::size_t k = 0; k < all.size(); ++k) {
            const std::size_t i = (k + static_cast<std::size_t>(round)) % all.size();
            seconds[i].push_back(TimePasses(all[i]->pass, repetitions[i]));
        }
    }
    result.ours = Summarise(seconds[0], row.samples);
    for (std::size_t i = 1; i < all.size(); ++i) result.peers.push_back(Summarise(seconds[i], row.samples));
    return result;
}

void PrintTable(const std::vector<RowResult> &results) {
    std::printf("| row | velkorix Msamples/s | peer | peer Msamples/s | velkorix/peer | output |\n");
    std::printf("|---|---:|---|---:|---:|---|\n");
    for (const RowResult &r : results) {
        const Row &row = *r.row;
        const double ours = r.ours.rate / 1e6;
        std::string check = (r.check.ok ? "" : "**FAILED** ") + r.check.text;
        if (row.records > 0 && !r.peers.empty()) {
            // What the path costs per record beyond the direct call.
            const double extra = static_cast<double>(row.samples) * (1 / r.ours.rate - 1 / r.peers[0].rate) /
                                 static_cast<double>(row.records);
            char text[64];
            std::snprintf(text, sizeof text, "; %+.0f ns per record", extra * 1e9);
            check += text;
        }
        if (row.peers.empty()) {
            std::printf("| %s | %.2f | - | - | - | %s |\n", row.name.c_str(), ours, check.c_str());
            continue;
        }
        for (std::size_t i = 0; i < row.peers.size(); ++i) {
            const double peer = r.peers[i].rate / 1e6;
            if (i == 0)
                std::printf("| %s | %.2f | %s | %.2f | %.2f | %s |\n", row.name.c_str(), ours,
                            row.peers[i].name.c_str(), peer, ours / peer, check.c_str());
            else
                std::printf("| | | %s | %.2f | %.2f | |\n", row.peers[i].name.c_str(), peer, ours / peer);
        }
    }
    bool anyNote = false;
    for (const RowResult &r : results) {
        if (r.row->note.empty()) continue;
        if (!anyNote) std::printf("\n");
        anyNote = true;
        std::printf("- %s: %s\n", r.row->name.c_str(), r.row->note.c_str());
    }
}

}  // namespace bench
