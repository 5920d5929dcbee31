// The command-line tool with G.729: `velkorix g729 decode` on ITU serial
// bitstreams, and `velkorix decode` on format-3 streams, with standard output
// kept free of text when it carries audio.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "g729_support.h"

namespace {

using namespace g729test;

const std::string kCli = VELKORIX_CLI_PATH;

class G729Cli : public ::testing::Test {
protected:
    void SetUp() override {
        if (kCli.empty()) GTEST_SKIP() << "the velkorix tool is not built";
#ifdef VELKORIX_TEST_BINARY_DIR
        std::string pattern = std::string(VELKORIX_TEST_BINARY_DIR) + "/g729_cli.XXXXXX";
#else
        std::string pattern = ::testing::TempDir() + "g729_cli.XXXXXX";
#endif
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        ASSERT_NE(mkdtemp(buffer.data()), nullptr);
        dir_ = buffer.data();
    }
    void TearDown() override {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    std::string Path(const std::string &name) const { return dir_ + "/" + name; }

    // Runs the tool with `args` (already quoted), standard output and
    // standard error into files; returns the exit status.
    int Run(const std::string &args) {
        const std::string command =
            "'" + kCli + "' " + args + " > '" + Path("stdout") + "' 2> '" + Path("stderr") + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::vector<uint8_t> Stdout() const { return ReadFile(Path("stdout")); }
    std::string Stderr() const {
        const std::vector<uint8_t> bytes = ReadFile(Path("stderr"));
        return std::string(bytes.begin(), bytes.end());
    }

    std::string dir_;
    DiagnosticCapture quiet_;  // warnings of the in-process reference decoding
};

// Random frames with, in the middle, frames that make the decoder warn about
// both LSP clamps.
std::vector<Frame> WarningFrames() {
    Lcg rng(17);
    std::vector<Frame> frames(60);
    for (auto &f : frames)
        for (auto &b : f) b = static_cast<uint8_t>(rng.Next() >> 24);
    for (int i = 0; i < 8; ++i) {
        frames[10 + i] = Frame{0x11, 0x8C, 0x40, 0, 0, 0, 0, 0, 0, 0};
        frames[30 + i] = Frame{0x79, 0x5A, 0xC0, 0, 0, 0, 0, 0, 0, 0};
    }
    return frames;
}

std::vector<uint8_t> LittleEndian(const std::vector<int16_t> &samples) {
    std::vector<uint8_t> bytes;
    for (int16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s)));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    return bytes;
}

// The data chunk of a WAV file, or empty.
std::vector<uint8_t> WavData(const std::vector<uint8_t> &wav) {
    if (wav.size() < 12 || std::memcmp(wav.data(), "RIFF", 4) != 0 || std::memcmp(wav.data() + 8, "WAVE", 4) != 0)
        return {};
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        const uint32_t size = wav[at + 4] | wav[at + 5] << 8 | wav[at + 6] << 16 | static_cast<uint32_t>(wav[at + 7]) << 24;
        if (std::memcmp(wav.data() + at, "data", 4) == 0) {
            const std::size_t end = size == 0xFFFFFFFFu ? wav.size() : std::min(wav.size(), at + 8 + size);
            return std::vector<uint8_t>(wav.begin() + static_cast<long>(at) + 8, wav.begin() + static_cast<long>(end));
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

TEST_F(G729Cli, DecodesBitstreamsToRawPcmAndWav) {
    const std::vector<Frame> frames = WarningFrames();
    ASSERT_TRUE(WriteFile(Path("in.bit"), MakeItuBitstream(frames)));
    const std::vector<uint8_t> expected = LittleEndian(DecodeFrames(frames));

    EXPECT_EQ(Run("g729 decode '" + Path("in.bit") + "' -o '" + Path("out.raw") + "'"), 0) << Stderr();
    EXPECT_EQ(ReadFile(Path("out.raw")), expected);
    EXPECT_TRUE(Stdout().empty());
    EXPECT_NE(Stderr().find(kG729LspLowWarning), std::string::npos) << "warnings on standard error";
    EXPECT_NE(Stderr().find("60 frames decoded"), std::string::npos) << Stderr();

    EXPECT_EQ(Run("g729 decode '" + Path("in.bit") + "' -o '" + Path("out.wav") + "'"), 0) << Stderr();
    EXPECT_EQ(WavData(ReadFile(Path("out.wav"))), expected);
}

TEST_F(G729Cli, StandardOutputCarriesOnlyAudio) {
    const std::vector<Frame> frames = WarningFrames();
    const std::vector<uint8_t> expected = LittleEndian(DecodeFrames(frames));
    ASSERT_TRUE(WriteFile(Path("in.bit"), MakeItuBitstream(frames)));
    ASSERT_TRUE(WriteFile(Path("in.vks"), MakeFormat3Stream(frames)));

    // Raw PCM from the bitstream tool.
    EXPECT_EQ(Run("g729 decode '" + Path("in.bit") + "' -o -"), 0) << Stderr();
    EXPECT_EQ(Stdout(), expected);
    EXPECT_NE(Stderr().find(kG729LspLowWarning), std::string::npos);
    EXPECT_NE(Stderr().find(kG729LspHighWarning), std::string::npos);

    // WAV from the filter path: the streamed header, then exactly the samples.
    EXPECT_EQ(Run("decode '" + Path("in.vks") + "' -o -"), 0) << Stderr();
    const std::vector<uint8_t> wav = Stdout();
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.size(), 44u + 15 * 640);  // 15 records of 640 bytes
    EXPECT_EQ(std::vector<uint8_t>(wav.begin() + 44, wav.end()), expected);
    EXPECT_NE(Stderr().find(kG729LspLowWarning), std::string::npos);
    EXPECT_NE(Stderr().find(kG729LspHighWarning), std::string::npos);
}

TEST_F(G729Cli, ErasedBitsReadAsZero) {
    std::vector<Frame> frames = WarningFrames();
    std::vector<uint8_t> bits = MakeItuBitstream(frames);
    // Erase every bit of frame 5 that is a one, and bit 0 of frame 7.
    for (int k = 0; k < 80; ++k) {
        if ((frames[5][k / 8] >> (7 - k % 8)) & 1) {
            const std::size_t at = 164 * 5 + 4 + 2 * static_cast<std::size_t>(k);
            bits[at] = bits[at + 1] = 0;
        }
    }
    bits[164 * 7 + 4] = bits[164 * 7 + 5] = 0;
    frames[5] = Frame{};
    frames[7][0] &= 0x7F;
    ASSERT_TRUE(WriteFile(Path("in.bit"), bits));
    EXPECT_EQ(Run("g729 decode '" + Path("in.bit") + "' -o '" + Path("out.raw") + "'"), 0) << Stderr();
    EXPECT_EQ(ReadFile(Path("out.raw")), LittleEndian(DecodeFrames(frames)));
    EXPECT_NE(Stderr().find("erased bits read as zero"), std::string::npos) << Stderr();
}

TEST_F(G729Cli, DamagedStreamsAndUsage) {
    const std::vector<Frame> frames = WarningFrames();
    std::vector<uint8_t> bits = MakeItuBitstream(frames);

    // Cut inside frame 20: the 20 whole frames are written, status 3.
    std::vector<uint8_t> cut(bits.begin(), bits.begin() + 164 * 20 + 100);
    ASSERT_TRUE(WriteFile(Path("cut.bit"), cut));
    EXPECT_EQ(Run("g729 decode '" + Path("cut.bit") + "' -o '" + Path("cut.raw") + "'"), 3);
    EXPECT_EQ(ReadFile(Path("cut.raw")),
              LittleEndian(DecodeFrames(std::vector<Frame>(frames.begin(), frames.begin() + 20))));
    EXPECT_NE(Stderr().find("byte offset 3280"), std::string::npos) << Stderr();

    // A lost sync word after frame 3: what came before is written, status 3.
    std::vector<uint8_t> broken = bits;
    broken[164 * 3] = 0x00;
    ASSERT_TRUE(WriteFile(Path("broken.bit"), broken));
    EXPECT_EQ(Run("g729 decode '" + Path("broken.bit") + "' -o '" + Path("broken.raw") + "'"), 3);
    EXPECT_EQ(ReadFile(Path("broken.raw")).size(), 3u * 160);

    // Not a bitstream at all: failure, and no output file.
    ASSERT_TRUE(WriteFile(Path("noise.bit"), std::vector<uint8_t>(500, 0x42)));
    EXPECT_EQ(Run("g729 decode '" + Path("noise.bit") + "' -o '" + Path("noise.raw") + "'"), 1);
    struct stat info;
    EXPECT_NE(stat(Path("noise.raw").c_str(), &info), 0) << "no output left behind";

    EXPECT_EQ(Run("g729 decode '" + Path("missing.bit") + "' -o '" + Path("x.raw") + "'"), 1);
    EXPECT_EQ(Run("g729"), 2);
    EXPECT_EQ(Run("g729 encode x -o y"), 2);
    EXPECT_EQ(Run("g729 decode '" + Path("cut.bit") + "'"), 2);
    EXPECT_EQ(Run("g729 decode a b -o c"), 2);
    EXPECT_EQ(Run("g729 decode --bogus a -o c"), 2);
    EXPECT_EQ(Run("g729 --help"), 0);
    const std::vector<uint8_t> help = Stdout();
    EXPECT_NE(std::string(help.begin(), help.end()).find("usage: velkorix g729 decode"), std::string::npos);
}

TEST_F(G729Cli, NamedPipeIsWrittenInPlace) {
    const std::vector<Frame> frames = WarningFrames();
    ASSERT_TRUE(WriteFile(Path("in.bit"), MakeItuBitstream(frames)));
    const std::string fifo = Path("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<uint8_t> received;
    std::thread reader([&] { received = ReadFile(fifo); });
    EXPECT_EQ(Run("g729 decode '" + Path("in.bit") + "' -o '" + fifo + "'"), 0) << Stderr();
    // Should the tool not have opened the pipe, release the waiting reader.
    const int release = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (release >= 0) close(release);
    reader.join();
    struct stat info;
    ASSERT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the pipe was replaced";
    EXPECT_EQ(received, LittleEndian(DecodeFrames(frames)));
}

}  // namespace
