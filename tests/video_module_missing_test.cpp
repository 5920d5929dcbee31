// Where the video module cannot be loaded (no file, or libavcodec missing
// beneath it), creating a video decoder leaves the slot without an instance,
// and every slot call then answers as it does for a slot without one.
//
// A process loads the module once and keeps it, so each case runs this test
// again in a process of its own, with VELKORIX_VIDEO_MODULE naming the file
// to try; the parent only makes the files and checks the children's exits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "velkorix/codec_slot.h"
#include "video_support.h"

extern char **environ;

namespace {

constexpr char kChildMarker[] = "VELKORIX_VIDEO_MISSING_CHILD";

// Runs the current test in a new process of this program with `extra`
// added to the environment (replacing variables of the same name).
// `quiet` sends its output to /dev/null.
bool RunChild(const std::vector<std::string> &extra, bool quiet = false) {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    std::vector<std::string> env = extra;
    for (char **e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string &x : extra)
            if (std::strncmp(*e, x.c_str(), x.find('=') + 1) == 0) replaced = true;
        if (!replaced) env.emplace_back(*e);
    }
    std::vector<char *> envp, argv;
    for (auto &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    argv = {self.data(), const_cast<char *>(filter.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t child;
    const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A copy of the video module whose dependency on libavcodec names a library
// that does not exist (same length, so the file stays valid): loading it fails
// as it does on a system without libavcodec.
std::string ModuleWithoutLibavcodec(const std::string &directory) {
    std::ifstream in(velkorix::test::VideoModulePath(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string from = "libavcodec.so.", to = "libavcodXX.so.";
    std::size_t replaced = 0;
    for (std::size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + 1)) {
        bytes.replace(at, from.size(), to);
        ++replaced;
    }
    EXPECT_GT(replaced, 0u) << "the module names no libavcodec";
    const std::string path = directory + "/libvelkorix-video.so";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// The child: every video type, created without a module.
void CheckSlotWithoutModule() {
    for (int32_t type : {CODEC_TYPE_VIDEO_MPEG4, CODEC_TYPE_VIDEO_H264, CODEC_TYPE_VIDEO_H264_PREFIXED}) {
        SCOPED_TRACE(type);
        auto slot = std::make_unique<CodecSlot>();
        std::memset(slot.get(), 0, sizeof(CodecSlot));
        EXPECT_EQ(CodecSlotCreate(slot.get(), 176, 144, type), 1);
        EXPECT_EQ(slot->instance, nullptr);
        EXPECT_EQ(slot->type, type);
        std::vector<uint8_t> input(64, 0);
        input[2] = 1;
        input[3] = 0xB6;
        slot->input = input.data();
        slot->inputLength = static_cast<int32_t>(input.size());
        EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
        EXPECT_EQ(CodecSlotGetFrame(slot.get()), nullptr);
        int32_t w = -1, h = -1, t = -1;
        EXPECT_EQ(CodecSlotGetFrameSize(slot.get(), &w, &h, &t), 0);
        EXPECT_EQ(CodecSlotQueryDecoder(slot.get()), -1);
        const int32_t options = type == CODEC_TYPE_VIDEO_MPEG4 ? 0 : 1;  // type 0 needs an instance
        EXPECT_EQ(CodecSlotSetDelay(slot.get(), 0), options);
        EXPECT_EQ(CodecSlotSetDecoderFlag(slot.get(), 1), options);
        EXPECT_EQ(CodecSlotSetOutputOptions(slot.get(), 0, 0), options);
        // Nothing to release: the slot stays as it is.
        EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
        EXPECT_EQ(slot->type, type);
        // A second creation tries again and fails the same way.
        EXPECT_EQ(CodecSlotCreate(slot.get(), 0, 0, type), 1);
        EXPECT_EQ(slot->instance, nullptr);
    }
    // The audio types are untouched by the missing module.
    auto slot = std::make_unique<CodecSlot>();
    std::memset(slot.get(), 0, sizeof(CodecSlot));
    EXPECT_EQ(CodecSlotCreate(slot.get(), 0, 0, CODEC_TYPE_VOICE_G711A), 1);
    EXPECT_NE(slot->instance, nullptr);
    uint8_t in[4] = {0xD5, 0x55, 0x2A, 0xAA};
    uint8_t out[8] = {};
    slot->input = in;
    slot->inputLength = 4;
    slot->output = out;
    EXPECT_EQ(CodecSlotDecode(slot.get()), 1);
    EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
}

TEST(VideoModuleMissing, CreationLeavesNoInstance) {
    if (std::getenv(kChildMarker)) return CheckSlotWithoutModule();

    char pattern[] = "/tmp/velkorix_video_missing.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string marker = std::string(kChildMarker) + "=1";
    const std::string noFile = directory + "/no-such-module.so";
    const std::string noLibavcodec = ModuleWithoutLibavcodec(directory);

    EXPECT_TRUE(RunChild({marker, "VELKORIX_VIDEO_MODULE=" + noFile})) << "module file missing (output above)";
    EXPECT_TRUE(RunChild({marker, "VELKORIX_VIDEO_MODULE=" + noLibavcodec}))
        << "libavcodec missing (output above)";
    // A file that loads but is no video module (this program).
    EXPECT_TRUE(RunChild({marker, "VELKORIX_VIDEO_MODULE=/proc/self/exe"})) << "a file without the entry";
    // The unpatched module in the same child setup gives decoders, so the
    // three cases above fail for the reason they name.
    EXPECT_FALSE(RunChild({marker, std::string("VELKORIX_VIDEO_MODULE=") + velkorix::test::VideoModulePath()}, true))
        << "the real module should give an instance, failing the child's checks";

    std::remove(noLibavcodec.c_str());
    rmdir(directory.c_str());
}

}  // namespace
