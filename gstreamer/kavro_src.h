// kavrosrc: a live source of images from a GigE Vision camera.
#pragma once

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define KAVRO_TYPE_SRC (kavro_src_get_type())
G_DECLARE_FINAL_TYPE(KavroSrc, kavro_src, KAVRO, SRC, GstPushSrc)

G_END_DECLS
