// The tool's decoding pieces below the command line: output types by name and
// extension, the output names of a batch, and runs of one file per thread,
// each with its own filter, whose debugger messages are counted per thread
// (run under ThreadSanitizer by the tsan preset: the test name says
// Concurrency).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "batch_decode.h"
#include "cli.h"
#include "common/debug_channel.h"
#include "decode_job.h"
#include "output_type.h"
#include "stream/frame_format.h"
#include "test_support.h"

namespace {

using velkorix::cli::BatchOutputName;
using velkorix::cli::DecodeReport;
using velkorix::cli::DecodeSettings;
using velkorix::cli::DecodeStreamFile;
using velkorix::cli::FindOutputType;
using velkorix::cli::OutputType;
using velkorix::cli::OutputTypeFromName;
using velkorix::cli::WavType;

std::string TypeOf(const std::string &path) {
    std::string error;
    const OutputType *type = OutputTypeFromName(path, &WavType(), &error);
    return type ? type->name : "error: " + error;
}

TEST(CliOutputTypes, ChosenByExtensionInAnyCaseWithWavForNone) {
    EXPECT_EQ(TypeOf("a.wav"), "wav");
    EXPECT_EQ(TypeOf("dir.x/a.FLAC"), "flac");
    EXPECT_EQ(TypeOf("a.ogg"), "ogg");
    EXPECT_EQ(TypeOf("a.oga"), "ogg");
    EXPECT_EQ(TypeOf("a.aiff"), "aiff");
    EXPECT_EQ(TypeOf("a.Aif"), "aiff");
    EXPECT_EQ(TypeOf("a.caf"), "caf");
    EXPECT_EQ(TypeOf("a.au"), "au");
    EXPECT_EQ(TypeOf("a.snd"), "au");
    EXPECT_EQ(TypeOf("a.tar.raw"), "raw");
    // No extension: the default. A dot in a directory or leading a hidden
    // file's name is no extension.
    EXPECT_EQ(TypeOf("-"), "wav");
    EXPECT_EQ(TypeOf("out"), "wav");
    EXPECT_EQ(TypeOf("dir.flac/out"), "wav");
    EXPECT_EQ(TypeOf(".flac"), "wav");
    EXPECT_EQ(TypeOf("/dev/null"), "wav");
    EXPECT_EQ(TypeOf("a.mp3"),
              "error: cannot tell the output type from the extension '.mp3' of 'a.mp3': name one with --type "
              "(wav, flac, ogg, aiff, caf, au, raw)");
    EXPECT_EQ(TypeOf("a."), "wav");  // an empty extension is none
    // --type names, in any case; only the types' own names.
    EXPECT_STREQ(FindOutputType("FLAC")->name, "flac");
    EXPECT_EQ(FindOutputType("aif"), nullptr);
    EXPECT_EQ(FindOutputType(""), nullptr);
    EXPECT_EQ(velkorix::cli::OutputTypeNames(true), "wav, ogg, au, raw");
}

TEST(CliBatchNames, NameWithoutItsLastExtensionInTheDirectory) {
    EXPECT_EQ(BatchOutputName("a.vks", "out", "wav"), "out/a.wav");
    EXPECT_EQ(BatchOutputName("x/y/a.b.vks", "out/", "flac"), "out/a.b.flac");
    EXPECT_EQ(BatchOutputName("capture", "/tmp/o", "raw"), "/tmp/o/capture.raw");
    EXPECT_EQ(BatchOutputName(".hidden", "o", "wav"), "o/.hidden.wav");
    EXPECT_EQ(BatchOutputName("dir.d/", "o", "wav"), "o/dir.wav");
    EXPECT_EQ(BatchOutputName("../a.vks", ".", "au"), "./a.au");
}

// A stream file whose filter reports `invalid` invalid formats and
// `truncated` truncated samples among G.726 records.
std::vector<uint8_t> StreamWith(int invalid, int truncated, uint32_t seed) {
    velkorix::test::Lcg rng(seed);
    std::vector<uint8_t> bytes;
    auto add = [&](uint8_t format, int32_t length, int32_t present) {
        uint8_t header[velkorix::stream::kHeaderSize];
        velkorix::stream::WriteHeader(header, format, length);
        bytes.insert(bytes.end(), header, header + sizeof(header));
        for (int32_t i = 0; i < present; ++i) bytes.push_back(static_cast<uint8_t>(rng.Next() >> 24));
    };
    for (int i = 0; i < 40 + invalid + truncated; ++i) {
        add(0, 120, 120);
        if (i < invalid) add(4, 30, 30);
        if (i < truncated) add(3, 20, 20);  // G.729 needs 40 bytes: reported as truncated
    }
    return bytes;
}

std::string Directory() {
#ifdef VELKORIX_TEST_BINARY_DIR
    std::string pattern = std::string(VELKORIX_TEST_BINARY_DIR) + "/cli_batch.XXXXXX";
#else
    std::string pattern = ::testing::TempDir() + "cli_batch.XXXXXX";
#endif
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) ? buffer.data() : "";
}

std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CliDecodeConcurrency, RunsOnThreadsCountTheirOwnFilterMessages) {
    const std::string dir = Directory();
    ASSERT_FALSE(dir.empty());
    constexpr int kFiles = 4;
    DecodeSettings settings;
    settings.type = FindOutputType("raw");
    std::vector<std::string> inputs;
    std::vector<DecodeReport> alone;
    std::vector<std::vector<uint8_t>> expected;
    for (int f = 0; f < kFiles; ++f) {
        inputs.push_back(dir + "/in" + std::to_string(f) + ".vks");
        const std::vector<uint8_t> stream = StreamWith(3 * f + 1, 5 * f + 2, 40u + static_cast<uint32_t>(f));
        std::FILE *file = std::fopen(inputs.back().c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(stream.data(), 1, stream.size(), file);
        std::fclose(file);
        alone.push_back(DecodeStreamFile(inputs.back(), dir + "/alone" + std::to_string(f) + ".raw", settings));
        ASSERT_EQ(alone.back().status, velkorix::cli::kExitOk) << alone.back().failure;
        EXPECT_EQ(alone.back().invalidFormats, 3 * f + 1);
        EXPECT_EQ(alone.back().truncatedSamples, 5 * f + 2);
        expected.push_back(ReadFile(dir + "/alone" + std::to_string(f) + ".raw"));
        ASSERT_FALSE(expected.back().empty());
    }
    // Each thread decodes its own file again and again while the others do
    // theirs; every run counts exactly its own file's messages.
    struct ProcessSink {
        static void Count(void *context, const char *) { ++*static_cast<std::atomic<long> *>(context); }
        std::atomic<long> seen{0};
        velkorix::DebugSink previous = nullptr;
        void *previousContext = nullptr;
        ProcessSink() { velkorix::SetDebugSink(Count, &seen, &previous, &previousContext); }
        ~ProcessSink() { velkorix::SetDebugSink(previous, previousContext); }
    } processSink;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int f = 0; f < kFiles; ++f) {
        threads.emplace_back([&, f]() {
            for (int round = 0; round < 6; ++round) {
                const std::string output = dir + "/t" + std::to_string(f) + ".raw";
                const DecodeReport report = DecodeStreamFile(inputs[static_cast<std::size_t>(f)], output, settings);
                const DecodeReport &want = alone[static_cast<std::size_t>(f)];
                if (report.status != want.status || report.invalidFormats != want.invalidFormats ||
                    report.truncatedSamples != want.truncatedSamples || report.decodeFailures != want.decodeFailures ||
                    report.records != want.records || report.samples != want.samples ||
                    ReadFile(output) != expected[static_cast<std::size_t>(f)])
                    ++mismatches;
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    // The process-wide sink saw none of it: runs catch their messages on
    // their own thread.
    EXPECT_EQ(processSink.seen.load(), 0);
    std::string cleanup = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(cleanup.c_str()), 0);
}

TEST(CliDecodeConcurrency, AFailedOrCancelledRunLeavesNothingBehind) {
    const std::string dir = Directory();
    ASSERT_FALSE(dir.empty());
    DecodeSettings settings;
    const std::vector<uint8_t> stream = StreamWith(0, 0, 7);
    const std::string input = dir + "/in.vks";
    std::FILE *file = std::fopen(input.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(stream.data(), 1, stream.size(), file);
    std::fclose(file);
    std::atomic<bool> cancel{true};
    velkorix::cli::DecodeHooks hooks;
    hooks.cancel = &cancel;
    long records = 0;
    hooks.onRecord = [&](uint64_t bytes) {
        ++records;
        EXPECT_EQ(bytes, 138u);
    };
    const DecodeReport cancelled = DecodeStreamFile(input, dir + "/out.wav", settings, hooks);
    EXPECT_TRUE(cancelled.interrupted);
    EXPECT_EQ(cancelled.status, velkorix::cli::kExitFailure);
    EXPECT_EQ(records, 1);
    const DecodeReport missing = DecodeStreamFile(dir + "/none.vks", dir + "/none.wav", settings);
    EXPECT_EQ(missing.status, velkorix::cli::kExitFailure);
    EXPECT_EQ(missing.failure, "cannot read '" + dir + "/none.vks': No such file or directory");
    // Only the input is left.
    std::string listing;
    std::FILE *ls = popen(("ls -A '" + dir + "'").c_str(), "r");
    ASSERT_NE(ls, nullptr);
    char line[256];
    while (std::fgets(line, sizeof(line), ls)) listing += line;
    pclose(ls);
    EXPECT_EQ(listing, "in.vks\n");
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
