// The plugin: registers kavrosrc.
#include <gst/gst.h>

#include "gstreamer/kavro_src.h"

GST_DEBUG_CATEGORY(kavro_src_debug);

namespace {

gboolean initPlugin(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(kavro_src_debug, "kavrosrc", 0, "GigE Vision camera source");
    return gst_element_register(plugin, "kavrosrc", GST_RANK_NONE, KAVRO_TYPE_SRC);
}

}  // namespace

#define PACKAGE "KavroGigEVisionLib"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kavro,
                  "GigE Vision cameras through KavroGigEVisionLib", initPlugin, KAVRO_VERSION,
                  "unknown", "KavroGigEVisionLib", "KavroGigEVisionLib")
