#include "codec_slot/video_module_loader.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "common/debug_channel.h"

#ifndef VELKORIX_VIDEO_MODULE_SIBLING_DIR
#define VELKORIX_VIDEO_MODULE_SIBLING_DIR ""
#endif

namespace velkorix::video {
namespace {

std::atomic<const VideoModuleTable *> g_table{nullptr};

std::mutex &LoadMutex() {
    static std::mutex m;
    return m;
}

// The table of the module at `path` (a path or a bare name for the loader's
// search), or null; a file that is not this build's module is closed again.
const VideoModuleTable *TryLoad(const std::string &path) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    const auto entry = reinterpret_cast<VideoModuleEntry>(dlsym(handle, kVideoModuleEntryName));
    const VideoModuleTable *table = entry ? entry() : nullptr;
    if (table && table->version == kVideoModuleVersion && table->size == sizeof(VideoModuleTable) &&
        table->create && table->release && table->decode && table->picture && table->pictureSize &&
        table->reorderDelay && table->setReordering && table->setSkipNonReference && table->setConcealment)
        return table;  // stays loaded for the life of the process
    dlclose(handle);
    return nullptr;
}

// The directory of the file this code was loaded from: the shared library, or
// the program itself when the codec slot is linked into it.
std::string OwnDirectory() {
    Dl_info info{};
    struct link_map *map = nullptr;
    static const int anchor = 0;
    if (!dladdr1(&anchor, &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP)) return {};
    std::string file;
    if (map && map->l_name && map->l_name[0] != '\0') {
        file = map->l_name;
    } else {
        // The main program has no name of its own in the loader's list.
        char buffer[4096];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
        if (n <= 0) return {};
        file.assign(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return {};
    return file.substr(0, slash + 1);
}

const VideoModuleTable *Search() {
    if (const char *named = secure_getenv(kVideoModuleEnvironment); named && named[0] != '\0')
        return TryLoad(named);
    const std::string directory = OwnDirectory();
    if (!directory.empty()) {
        if (const VideoModuleTable *table = TryLoad(directory + kVideoModuleFileName)) return table;
        const std::string sibling = VELKORIX_VIDEO_MODULE_SIBLING_DIR;
        if (!sibling.empty()) {
            if (const VideoModuleTable *table = TryLoad(directory + sibling + "/" + kVideoModuleFileName))
                return table;
        }
    }
    return TryLoad(kVideoModuleFileName);
}

}  // namespace

const VideoModuleTable *LoadVideoModule() {
    if (const VideoModuleTable *table = g_table.load(std::memory_order_acquire)) return table;
    std::lock_guard<std::mutex> lock(LoadMutex());
    const VideoModuleTable *table = g_table.load(std::memory_order_relaxed);
    if (!table) {
        table = Search();
        if (table)
            g_table.store(table, std::memory_order_release);
        else
            DebugOutput("VIDEO DECODER MODULE NOT LOADED\n");
    }
    return table;
}

}  // namespace velkorix::video
