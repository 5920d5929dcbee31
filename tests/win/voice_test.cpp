// The QX_VOICE_ functions of the loaded Velkorix.ax, found with
// GetProcAddress, run through the record of voice_vectors.h.
//   voice MODULE_PATH OUT
#include <cstdio>

#include "harness.h"
#include "voice_vectors.h"

namespace {

template <typename Function>
bool Find(HMODULE module, const char *name, Function *function) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    if (!*function) vtest::Fail(__FILE__, __LINE__, std::string("GetProcAddress(") + name + ") found nothing");
    return *function != nullptr;
}

}  // namespace

VTEST_COMMAND(VoiceCommand, "voice", "voice MODULE_PATH OUT") {
    if (argc != 3) {
        std::printf("usage: voice MODULE_PATH OUT\n");
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    REQUIRE(module != nullptr);
    vtest::VoiceApi api;
    bool found = Find(module, "QX_VOICE_GetVersion", &api.getVersion);
    found &= Find(module, "QX_VOICE_EncReset", &api.encReset);
    found &= Find(module, "QX_VOICE_DecReset", &api.decReset);
    found &= Find(module, "QX_VOICE_EncodeFrame", &api.encodeFrame);
    found &= Find(module, "QX_VOICE_DecodeFrame", &api.decodeFrame);
    found &= Find(module, "QX_VOICE_TransCodeReset", &api.transCodeReset);
    found &= Find(module, "QX_VOICE_TransCodeFrame", &api.transCodeFrame);
    REQUIRE(found);

    vtest::VoiceRecord record;
    vtest::RunVoiceVectors(api, record);
    FILE *out = std::fopen(argv[2], "wb");
    REQUIRE(out != nullptr);
    REQUIRE(std::fwrite(record.bytes.data(), 1, record.bytes.size(), out) == record.bytes.size());
    REQUIRE(std::fclose(out) == 0);
    std::printf("  %zu bytes of results, frames and samples\n", record.bytes.size());
    FreeLibrary(module);
    return vtest::Finish(argv[0]);
}
