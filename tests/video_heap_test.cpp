// The video decoders behind the codec slot free everything they take, and
// the slot adds no heap work of its own to a decode call.
//
// libavcodec allocates with posix_memalign, which the test binary's counter
// (heap_counter.h) does not see, so the leak check counts bytes in use
// instead: glibc's mallinfo2 in a plain build (with the allocator's
// per-thread cache off, which otherwise keeps freed blocks counted as in
// use), LeakSanitizer in a sanitizer build.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "heap_counter.h"
#include "video_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#if defined(__SANITIZE_ADDRESS__)
#define VELKORIX_VIDEO_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELKORIX_VIDEO_LSAN 1
#endif
#endif

#if VELKORIX_VIDEO_LSAN
#include <sanitizer/lsan_interface.h>
#else
#include <malloc.h>
#endif

extern char **environ;

namespace {

using namespace velkorix::test;

int SlotType(VideoCodec codec) { return codec == VideoCodec::Mpeg4 ? CODEC_TYPE_VIDEO_MPEG4 : CODEC_TYPE_VIDEO_H264; }

// One life of a decoder: create, decode the first `cut` units (pictures held
// back, drained or not), release.
void Cycle(VideoCodec codec, const std::vector<Unit> &units, std::size_t cut, bool drain) {
    auto slot = std::make_unique<CodecSlot>();
    ASSERT_EQ(CodecSlotCreate(slot.get(), 0, 0, SlotType(codec)), 1);
    ASSERT_NE(slot->instance, nullptr);
    for (std::size_t i = 0; i < cut; ++i) DecodeUnit(slot.get(), units[i].data(), units[i].size());
    if (drain)
        while (DecodeUnit(slot.get(), nullptr, 0)) {
        }
    ASSERT_EQ(CodecSlotDestroy(slot.get()), 1);
}

void EveryCut(VideoCodec codec, const std::vector<Unit> &units) {
    for (std::size_t cut = 0; cut <= units.size(); ++cut) Cycle(codec, units, cut, cut % 2 == 1);
}

#if !VELKORIX_VIDEO_LSAN
bool AllocatorCacheOff() {
    const char *tunables = std::getenv("GLIBC_TUNABLES");
    return tunables && std::strstr(tunables, "glibc.malloc.tcache_count=0");
}

// Runs this test again in a process of its own with the allocator's cache
// off (it can only be chosen at start); true when that run passed.
bool RunAgainWithoutAllocatorCache() {
    const std::string filter = std::string("--gtest_filter=") +
                               ::testing::UnitTest::GetInstance()->current_test_suite()->name() + "." +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::vector<std::string> env = {"GLIBC_TUNABLES=glibc.malloc.tcache_count=0"};
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "GLIBC_TUNABLES=", 15) != 0) env.emplace_back(*e);
    std::vector<char *> envp, argv;
    for (auto &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    argv = {self.data(), const_cast<char *>(filter.c_str()), nullptr};
    pid_t child;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data()) != 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

// Decoders created, fed part or all of a stream (pictures held back for
// reordering, queued, drained) and released, again and again: the bytes in
// use afterwards are those before.
TEST(VideoHeap, CreateDecodeReleaseLeavesNothing) {
#if !VELKORIX_VIDEO_LSAN
    if (!AllocatorCacheOff()) {
        EXPECT_TRUE(RunAgainWithoutAllocatorCache()) << "the leak check failed in its own process (output above)";
        return;
    }
#endif
    for (VideoCodec codec : {VideoCodec::Mpeg4, VideoCodec::H264}) {
        VELKORIX_REQUIRE_ENCODER(codec);
        StreamSpec spec;
        spec.codec = codec;
        spec.frames = 10;
        const auto units = EncodeStream(spec);
        ASSERT_FALSE(units.empty());
        // The first round sets up what libavcodec keeps for the process
        // (its static tables): not a leak.
        EveryCut(codec, units);
#if VELKORIX_VIDEO_LSAN
        EveryCut(codec, units);
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "blocks leaked (report above)";
#else
        const std::size_t before = mallinfo2().uordblks;
        for (int round = 0; round < 3; ++round) EveryCut(codec, units);
        const std::size_t after = mallinfo2().uordblks;
        EXPECT_EQ(after, before) << (codec == VideoCodec::Mpeg4 ? "MPEG-4" : "H.264") << ": "
                                 << static_cast<long long>(after - before) << " bytes more in use";
#endif
    }
}

// The heap calls the counter sees (malloc, realloc, new) during a decode
// call: through the slot no more than in libavcodec's own decode of the same
// packet, so the slot, the binding and the module make none of their own.
TEST(VideoHeap, SlotAddsNoHeapCallsToADecode) {
    for (VideoCodec codec : {VideoCodec::Mpeg4, VideoCodec::H264}) {
        VELKORIX_REQUIRE_ENCODER(codec);
        StreamSpec spec;
        spec.codec = codec;
        spec.frames = 30;
        const auto units = EncodeStream(spec);

        const AVCodec *decoder = avcodec_find_decoder(codec == VideoCodec::Mpeg4 ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264);
        AVCodecContext *c = avcodec_alloc_context3(decoder);
        c->thread_count = 1;
        ASSERT_EQ(avcodec_open2(c, decoder, nullptr), 0);
        AVPacket *packet = av_packet_alloc();
        AVFrame *frame = av_frame_alloc();
        auto slot = std::make_unique<CodecSlot>();
        ASSERT_EQ(CodecSlotCreate(slot.get(), 0, 0, SlotType(codec)), 1);

        long direct = 0, throughSlot = 0;
        for (std::size_t i = 0; i < units.size(); ++i) {
            const Unit &unit = units[i];
            const long d = HeapCallsDuring([&] {
                av_new_packet(packet, static_cast<int>(unit.size()));
                std::memcpy(packet->data, unit.data(), unit.size());
                avcodec_send_packet(c, packet);
                av_packet_unref(packet);
                while (avcodec_receive_frame(c, frame) == 0) av_frame_unref(frame);
            });
            const long s = HeapCallsDuring([&] { DecodeUnit(slot.get(), unit.data(), unit.size()); });
            if (i < 4) continue;  // both set up their buffers first
            direct += d;
            throughSlot += s;
        }
        EXPECT_LE(throughSlot, direct) << (codec == VideoCodec::Mpeg4 ? "MPEG-4" : "H.264");
        if (CountsMalloc()) {
            EXPECT_GT(direct, 0) << "the counter saw none of libavcodec's calls";
        }
        CodecSlotDestroy(slot.get());
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&c);
    }
}

}  // namespace
