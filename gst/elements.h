// The plugin's features: the type finder of framed streams, the parser
// (velkorixparse) and the decoder (velkorixdec).
#pragma once

#include <gst/gst.h>

namespace velkorix::gst {

// Caps of a framed stream as found in a file, and as the parser gives it: one
// record per buffer, with the rate and channel count of the decoded output.
inline constexpr char kStreamCaps[] = "audio/x-velkorix-stream";
inline constexpr char kFramedCaps[] =
    "audio/x-velkorix-stream, framed = (boolean) true, rate = (int) [ 1, 768000 ], channels = (int) [ 1, 16 ]";
inline constexpr int kDefaultRate = 8000;
inline constexpr int kDefaultChannels = 1;
inline constexpr int kMaxRate = 768000;
inline constexpr int kMaxChannels = 16;

GType ParseGetType();
GType DecoderGetType();

gboolean RegisterTypeFinder(GstPlugin *plugin);
gboolean RegisterParse(GstPlugin *plugin);
gboolean RegisterDecoder(GstPlugin *plugin);

}  // namespace velkorix::gst
