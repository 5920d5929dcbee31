// Finds and loads the video module (libvelkorix-video.so) when the first
// decoder of codec type 0, 1 or 16 is created. Linux only: the Windows module
// keeps the placeholder decoders of video_seam.cpp.
//
// Where it looks, in order, taking the first file that loads and carries this
// build's table (video_module_interface.h):
//   1. only the file named by the environment variable VELKORIX_VIDEO_MODULE,
//      when it is set (not for set-user-ID programs);
//   2. the directory of the file holding this code (libvelkorix.so, or the
//      program that links the codec slot in), then that directory's
//      VELKORIX_VIDEO_MODULE_SIBLING_DIR (the installed library directory seen
//      from the installed program directory, "../lib");
//   3. the dynamic loader's search path (LD_LIBRARY_PATH, the cache, the
//      system directories).
#pragma once

#include "codec_slot/video_module_interface.h"

namespace velkorix::video {

// The module's table, loading the module on the first call that finds it;
// null when no module is found or none carries this build's table (a line
// "VIDEO DECODER MODULE NOT LOADED\n" goes to the debugger channel then).
// Safe to call from any thread. A search that failed is made again on the next
// call, so a module installed meanwhile is found; a loaded module stays loaded
// until the process ends.
const VideoModuleTable *LoadVideoModule();

}  // namespace velkorix::video
