// The stand-in's module services: last-error code, module path, version
// information, thread notifications, character conversion and GUID text.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <mutex>

#include "common/debug_channel.h"
#include "stand_in_control.h"
#include "stand_in_internal.h"

namespace velkorix::standin {
namespace {

struct ModuleState {
    std::mutex mutex;
    bool pathSet = false;
    std::string path;
    DWORD pathError = 0;
    bool versionSucceeds = true;
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    HMODULE threadCallsDisabledFor = nullptr;
    int threadCallsDisabled = 0;
};

ModuleState &State() {
    static ModuleState state;
    return state;
}

thread_local DWORD lastError = 0;

std::string RunningProgram() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string("velkorix");
}

}  // namespace

void Reset() {
    {
        ModuleState &s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.pathSet = false;
        s.path.clear();
        s.pathError = 0;
        s.versionSucceeds = true;
        s.platformId = VER_PLATFORM_WIN32_NT;
        s.threadCallsDisabledFor = nullptr;
        s.threadCallsDisabled = 0;
    }
    ResetRegistry();
    ResetComRuntime();
}

void SetModuleFileName(const std::string &path) {
    ModuleState &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.pathSet = true;
    s.path = path;
}

void FailModuleFileName(DWORD error) {
    ModuleState &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.pathError = error;
}

void SetVersionInfo(bool succeeds, DWORD platformId) {
    ModuleState &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.versionSucceeds = succeeds;
    s.platformId = platformId;
}

HMODULE ThreadCallsDisabledFor() {
    ModuleState &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.threadCallsDisabledFor;
}

int ThreadCallsDisabledCount() {
    ModuleState &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.threadCallsDisabled;
}

}  // namespace velkorix::standin

using namespace velkorix::standin;

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

DWORD GetModuleFileNameA(HMODULE, LPSTR path, DWORD size) {
    std::string text;
    {
        ModuleState &s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.pathError != 0) {
            SetLastError(s.pathError);
            return 0;
        }
        text = s.pathSet ? s.path : RunningProgram();
    }
    if (!path || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // As on the platform: a path that does not fit is cut to size - 1
    // characters, terminated, and the full size is returned.
    if (text.size() + 1 > size) {
        std::memcpy(path, text.data(), size - 1);
        path[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(path, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

BOOL GetVersionExA(OSVERSIONINFOA *info) {
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ModuleState &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.versionSucceeds) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 7601;
    info->dwPlatformId = s.platformId;
    info->szCSDVersion[0] = 0;
    return TRUE;
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
    ModuleState &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.threadCallsDisabledFor = module;
    ++s.threadCallsDisabled;
    return TRUE;
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR text, int length, LPWSTR wide, int wideLength) {
    if (!text || length == 0 || wideLength < 0 || (wideLength > 0 && !wide)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the text and its terminator.
    const std::size_t count = length < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
    if (wideLength == 0) return static_cast<int>(count);
    if (count > static_cast<std::size_t>(wideLength)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (std::size_t i = 0; i < count; ++i) wide[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
    return static_cast<int>(count);
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int wideLength, LPSTR text, int length, LPCSTR defaultChar,
                        BOOL *usedDefault) {
    if (!wide || wideLength == 0 || length < 0 || (length > 0 && !text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t count = 0;
    if (wideLength < 0) {
        while (wide[count]) ++count;
        ++count;
    } else {
        count = static_cast<std::size_t>(wideLength);
    }
    if (usedDefault) *usedDefault = FALSE;
    if (length == 0) return static_cast<int>(count);
    if (count > static_cast<std::size_t>(length)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const char replacement = defaultChar ? *defaultChar : '?';
    for (std::size_t i = 0; i < count; ++i) {
        const auto c = static_cast<uint32_t>(wide[i]);
        if (c > 0xFF) {
            text[i] = replacement;
            if (usedDefault) *usedDefault = TRUE;
        } else {
            text[i] = static_cast<char>(c);
        }
    }
    return static_cast<int>(count);
}

int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
    if (!text || size < 39) return 0;
    char buffer[40];
    std::snprintf(buffer, sizeof(buffer), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    for (int i = 0; i < 39; ++i) text[i] = static_cast<WCHAR>(static_cast<unsigned char>(buffer[i]));
    return 39;
}

// The debugger channel of the platform: the project's own debug output.
void OutputDebugStringA(const char *text) { velkorix::DebugOutput(text); }
