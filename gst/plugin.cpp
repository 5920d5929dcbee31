// The plugin: its descriptor (the library's one export), the type finder of
// framed streams and the two elements.
#include <gst/gst.h>

#include "elements.h"
#include "g729/g729_decoder.h"
#include "type_find.h"

#ifndef PACKAGE
#define PACKAGE "velkorix"
#endif

GST_DEBUG_CATEGORY_STATIC(velkorix_typefind_debug);
GST_DEBUG_CATEGORY_STATIC(velkorix_g729_debug);

namespace velkorix::gst {
namespace {

const uint8_t *Peek(void *context, uint64_t offset, uint32_t size) {
    if (offset > static_cast<uint64_t>(G_MAXINT64)) return nullptr;
    return gst_type_find_peek(static_cast<GstTypeFind *>(context), static_cast<gint64>(offset), size);
}

void FindType(GstTypeFind *find, gpointer) {
    const TypeFindResult result = FindStreamType(Peek, find, gst_type_find_get_length(find));
    GST_CAT_DEBUG(velkorix_typefind_debug, "%d records chain (%d decodable)%s: probability %d", result.records,
                  result.decodable, result.wholeInput ? ", the whole input" : "", result.probability);
    if (result.probability > 0)
        gst_type_find_suggest_simple(find, static_cast<guint>(result.probability), kStreamCaps, "framed",
                                     G_TYPE_BOOLEAN, FALSE, nullptr);
}

// The G.729 decoder's LSP warnings go to the debug log, not to standard
// output (which a pipeline may be writing to).
void LogG729Warning(void *, const char *text) { GST_CAT_INFO(velkorix_g729_debug, "%s", text); }

gboolean Init(GstPlugin *plugin) {
    GST_DEBUG_CATEGORY_INIT(velkorix_typefind_debug, "velkorixtypefind", 0, "Velkorix stream type finder");
    GST_DEBUG_CATEGORY_INIT(velkorix_g729_debug, "velkorixg729", 0, "Velkorix G.729 decoder warnings");
    g729::G729SetDiagnosticSink(LogG729Warning, nullptr);
    return RegisterTypeFinder(plugin) && RegisterParse(plugin) && RegisterDecoder(plugin);
}

}  // namespace

gboolean RegisterTypeFinder(GstPlugin *plugin) {
    GstCaps *caps = gst_caps_new_simple(kStreamCaps, "framed", G_TYPE_BOOLEAN, FALSE, nullptr);
    const gboolean done =
        gst_type_find_register(plugin, "audio/x-velkorix-stream", GST_RANK_SECONDARY, FindType, "vks", caps, nullptr, nullptr);
    gst_caps_unref(caps);
    return done;
}

}  // namespace velkorix::gst

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, velkorix,
                  "Velkorix framed voice streams: type finder, parser and decoder", velkorix::gst::Init,
                  VELKORIX_VERSION, "Proprietary", "Velkorix", "Velkorix")
