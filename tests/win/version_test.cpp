// The module's version record as Windows reads it (GetFileVersionInfo and
// VerQueryValue).
//   version MODULE_PATH
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"

namespace {

std::wstring Widen(const char *text) {
    std::wstring wide;
    for (const char *p = text; *p; ++p) wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return wide;
}

}  // namespace

VTEST_COMMAND(VersionCommand, "version", "version MODULE_PATH") {
    if (argc < 2) {
        std::printf("usage: version MODULE_PATH\n");
        return 2;
    }
    const std::wstring path = Widen(argv[1]);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    REQUIRE(size > 0);
    std::vector<BYTE> block(size);
    REQUIRE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    REQUIRE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&fixed), &length) && fixed);
    CHECK_EQ(fixed->dwSignature, 0xFEEF04BDul);
    CHECK_EQ(fixed->dwFileVersionMS, 0x00010000ul);
    CHECK_EQ(fixed->dwFileVersionLS, 0x00003503ul);  // 0.13571
    CHECK_EQ(fixed->dwProductVersionMS, 0x00010000ul);
    CHECK_EQ(fixed->dwProductVersionLS, 0x00003503ul);
    CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    // Exactly one translation: Chinese (PRC), UTF-16.
    WORD *translation = nullptr;
    REQUIRE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                           &length) &&
            translation);
    CHECK_EQ(length, 4u);
    CHECK_EQ(translation[0], 0x0804);
    CHECK_EQ(translation[1], 1200);

    const struct {
        const wchar_t *name;
        const wchar_t *value;
    } strings[] = {
        {L"FileVersion", L"1, 0, 0, 13571"},   {L"ProductVersion", L"1, 0, 0, 13571"},
        {L"FileDescription", L"Velkorix"},     {L"InternalName", L"Velkorix"},
        {L"OriginalFilename", L"Velkorix.ax"},
    };
    for (const auto &s : strings) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\080404b0\\") + s.name;
        wchar_t *value = nullptr;
        length = 0;
        const bool found = VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void **>(&value), &length);
        if (!found || !value || std::wcscmp(value, s.value) != 0) {
            std::string name;
            for (const wchar_t *p = s.name; *p; ++p) name += static_cast<char>(*p);
            vtest::Fail(__FILE__, __LINE__, "string " + name + " is missing or differs");
        }
    }
    return vtest::Finish(argv[0]);
}
