#include "gstreamer/kavro_src.h"

#include <gst/video/video.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "gstreamer/camera.h"
#include "gstreamer/pixel_formats.h"

GST_DEBUG_CATEGORY_EXTERN(kavro_src_debug);
#define GST_CAT_DEFAULT kavro_src_debug

namespace {

using kavro::gst::Camera;
using kavro::gst::CameraError;
using kavro::gst::CameraSettings;
using kavro::gst::Geometry;
using kavro::gst::PixelFormatCaps;

// Caps of the reference timestamp meta that carries the camera's timestamp (in nanoseconds:
// ticks times the tick length).
constexpr const char* kCameraTimestampCaps = "timestamp/x-gige-vision";

enum Property : guint {
    kPropAddress = 1,
    kPropSerial,
    kPropPacketSize,
    kPropPacketResend,
    kPropBufferCount,
    kPropFeatures,
};

constexpr guint kDefaultBufferCount = 16;

// What the element keeps besides the GObject parts.
struct SourceState {
    std::mutex settingsMutex;
    CameraSettings settings;  // guarded by settingsMutex

    // The camera is used by the streaming thread and by state changes, one at a time.
    std::mutex cameraMutex;
    std::unique_ptr<Camera> camera;
    // What the camera sends and can send, changed under both mutexes; caps and latency queries
    // read it under capsMutex alone, so they don't wait for an image.
    std::mutex capsMutex;
    Geometry geometry;
    GstCaps* offered = nullptr;  // null while the camera is closed

    std::atomic<bool> flushing{false};
    uint64_t lastBlockId = 0;
    guint64 processed = 0;
    guint64 dropped = 0;
    GstCaps* timestampCaps = nullptr;
};

}  // namespace

struct _KavroSrc {
    GstPushSrc parent;
    SourceState* state;
};

G_DEFINE_TYPE(KavroSrc, kavro_src, GST_TYPE_PUSH_SRC)

namespace {

SourceState& stateOf(gpointer self) {
    return *KAVRO_SRC(self)->state;
}

void postError(KavroSrc* src, const CameraError& error) {
    GST_ELEMENT_ERROR(src, RESOURCE, FAILED, ("%s", error.text.c_str()),
                      ("status 0x%04X", error.status));
}

GstStructure* structureFor(const PixelFormatCaps& f) {
    return gst_structure_new(f.mediaType, "format", G_TYPE_STRING, f.format, nullptr);
}

void setIntRange(GstStructure* s, const char* field, const kavro::gst::IntegerRange& r,
                 uint32_t current) {
    if (r.max <= r.min || r.max > G_MAXINT || r.min < 1) {
        gst_structure_set(s, field, G_TYPE_INT, static_cast<gint>(current), nullptr);
        return;
    }
    GValue range = G_VALUE_INIT;
    g_value_init(&range, GST_TYPE_INT_RANGE);
    const int64_t step = r.step > 0 && r.step <= r.max - r.min ? r.step : 1;
    // The bounds of a stepped range are multiples of the step.
    const int64_t low = (r.min + step - 1) / step * step;
    const int64_t high = r.max / step * step;
    if (high <= low) {
        g_value_unset(&range);
        gst_structure_set(s, field, G_TYPE_INT, static_cast<gint>(current), nullptr);
        return;
    }
    gst_value_set_int_range_step(&range, static_cast<gint>(low), static_cast<gint>(high),
                                 static_cast<gint>(step));
    gst_structure_take_value(s, field, &range);
}

void setFrameRate(GstStructure* s, double rate) {
    gint n = 0;
    gint d = 1;
    if (rate > 0.0)
        gst_util_double_to_fraction(rate, &n, &d);
    gst_structure_set(s, "framerate", GST_TYPE_FRACTION, n, d, nullptr);
}

// The current format first (what fixation keeps), then the other formats the camera offers,
// with the sizes it allows.
GstCaps* offeredCaps(const Camera& camera, const Geometry& g) {
    GstCaps* caps = gst_caps_new_empty();
    const kavro::gst::Choices choices = camera.readChoices();
    if (g.format != nullptr) {
        GstStructure* s = structureFor(*g.format);
        setIntRange(s, "width", choices.width, g.width);
        setIntRange(s, "height", choices.height, g.height);
        setFrameRate(s, g.frameRate);
        gst_caps_append_structure(caps, s);
    }
    for (const PixelFormatCaps* f : choices.formats) {
        if (f == g.format)
            continue;
        GstStructure* s = structureFor(*f);
        setIntRange(s, "width", choices.width, g.width);
        setIntRange(s, "height", choices.height, g.height);
        setFrameRate(s, g.frameRate);
        gst_caps_append_structure(caps, s);
    }
    return caps;
}

GstClockTime frameDuration(const Geometry& g) {
    return g.frameRate > 0.0 ? static_cast<GstClockTime>(GST_SECOND / g.frameRate)
                             : GST_CLOCK_TIME_NONE;
}

GstClockTime runningTime(GstElement* element) {
    GstClock* clock = gst_element_get_clock(element);
    if (clock == nullptr)
        return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(element);
    return now >= base ? now - base : 0;
}

// Frames that are not pushed: a QoS message with the running counts, and a warning that says
// why.
void reportDropped(KavroSrc* src, guint64 frames, const char* why, uint64_t blockId,
                   uint32_t missing) {
    SourceState& st = *src->state;
    st.dropped += frames;
    const GstClockTime now = runningTime(GST_ELEMENT(src));
    GstMessage* qos = gst_message_new_qos(GST_OBJECT(src), TRUE, now, GST_CLOCK_TIME_NONE, now,
                                          frameDuration(st.geometry));
    gst_message_set_qos_stats(qos, GST_FORMAT_BUFFERS, st.processed, st.dropped);
    gst_element_post_message(GST_ELEMENT(src), qos);
    GST_ELEMENT_WARNING(src, STREAM, FAILED, ("%s", why),
                        ("block %" G_GUINT64_FORMAT ": %u packets missing, %" G_GUINT64_FORMAT
                         " frames dropped so far",
                         static_cast<guint64>(blockId), missing, st.dropped));
}

// A buffer with the image's bytes without line padding, or null when the padding doesn't fit
// the ring entry.
GstBuffer* copyWithoutPadding(const uint8_t* data, uint32_t payloadSize, size_t line,
                              uint32_t lines, uint16_t padding) {
    const size_t stride = line + padding;
    if (lines == 0 || (lines - 1) * stride + line > payloadSize)
        return nullptr;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, line * lines, nullptr);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        gst_buffer_unref(buffer);
        return nullptr;
    }
    for (uint32_t y = 0; y < lines; ++y)
        std::memcpy(map.data + y * line, data + y * stride, line);
    gst_buffer_unmap(buffer, &map);
    return buffer;
}

// ---- GObject ---------------------------------------------------------------------------

void kavroSrcSetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    SourceState& st = stateOf(object);
    std::lock_guard lock(st.settingsMutex);
    CameraSettings& s = st.settings;
    switch (id) {
        case kPropAddress:
            s.address = g_value_get_string(value) != nullptr ? g_value_get_string(value) : "";
            break;
        case kPropSerial:
            s.serial = g_value_get_string(value) != nullptr ? g_value_get_string(value) : "";
            break;
        case kPropPacketSize:
            s.packetSize = g_value_get_uint(value);
            break;
        case kPropPacketResend:
            s.packetResend = g_value_get_boolean(value) != FALSE;
            break;
        case kPropBufferCount:
            s.bufferCount = static_cast<uint16_t>(g_value_get_uint(value));
            break;
        case kPropFeatures:
            s.features = g_value_get_string(value) != nullptr ? g_value_get_string(value) : "";
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
            break;
    }
}

void kavroSrcGetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    SourceState& st = stateOf(object);
    std::lock_guard lock(st.settingsMutex);
    const CameraSettings& s = st.settings;
    switch (id) {
        case kPropAddress:
            g_value_set_string(value, s.address.c_str());
            break;
        case kPropSerial:
            g_value_set_string(value, s.serial.c_str());
            break;
        case kPropPacketSize:
            g_value_set_uint(value, s.packetSize);
            break;
        case kPropPacketResend:
            g_value_set_boolean(value, s.packetResend ? TRUE : FALSE);
            break;
        case kPropBufferCount:
            g_value_set_uint(value, s.bufferCount);
            break;
        case kPropFeatures:
            g_value_set_string(value, s.features.c_str());
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
            break;
    }
}

void kavroSrcFinalize(GObject* object) {
    KavroSrc* src = KAVRO_SRC(object);
    SourceState* st = src->state;
    src->state = nullptr;
    if (st->offered != nullptr)
        gst_caps_unref(st->offered);
    gst_caps_unref(st->timestampCaps);
    delete st;
    G_OBJECT_CLASS(kavro_src_parent_class)->finalize(object);
}

// ---- Base source ---------------------------------------------------------------------

gboolean kavroSrcStart(GstBaseSrc* base) {
    KavroSrc* src = KAVRO_SRC(base);
    SourceState& st = *src->state;
    CameraSettings settings;
    {
        std::lock_guard lock(st.settingsMutex);
        settings = st.settings;
    }
    std::lock_guard lock(st.cameraMutex);
    CameraError error;
    std::unique_ptr<Camera> camera = Camera::open(settings, error);
    Geometry geometry;
    if (!camera || !camera->readGeometry(geometry, error)) {
        postError(src, error);
        return FALSE;
    }
    {
        std::lock_guard capsLock(st.capsMutex);
        st.geometry = geometry;
        if (st.offered != nullptr)
            gst_caps_unref(st.offered);
        st.offered = offeredCaps(*camera, geometry);
    }
    if (camera->resendUnavailable()) {
        GST_ELEMENT_WARNING(src, RESOURCE, SETTINGS, ("the camera can't resend lost packets"),
                            ("%s", GEVStatusText(GEV_STATUS_NOT_SUPPORTED)));
    }
    st.camera = std::move(camera);
    st.lastBlockId = 0;
    st.processed = 0;
    st.dropped = 0;
    GST_INFO_OBJECT(src, "camera open on device %u: %ux%u, pixel format 0x%08X",
                    st.camera->device(), st.geometry.width, st.geometry.height,
                    st.geometry.pixelFormat);
    return TRUE;
}

gboolean kavroSrcStop(GstBaseSrc* base) {
    SourceState& st = stateOf(base);
    std::lock_guard lock(st.cameraMutex);
    st.camera.reset();
    std::lock_guard capsLock(st.capsMutex);
    if (st.offered != nullptr)
        gst_caps_unref(st.offered);
    st.offered = nullptr;
    return TRUE;
}

GstCaps* kavroSrcGetCaps(GstBaseSrc* base, GstCaps* filter) {
    SourceState& st = stateOf(base);
    GstCaps* caps = nullptr;
    {
        std::lock_guard lock(st.capsMutex);
        if (st.offered != nullptr)
            caps = gst_caps_ref(st.offered);
    }
    if (caps == nullptr)
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

GstCaps* kavroSrcFixate(GstBaseSrc* base, GstCaps* caps) {
    SourceState& st = stateOf(base);
    Geometry g;
    {
        std::lock_guard lock(st.capsMutex);
        g = st.geometry;
    }
    caps = gst_caps_make_writable(caps);
    caps = gst_caps_truncate(caps);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    // Ranges settle on the camera's current size rather than their low ends.
    gst_structure_fixate_field_nearest_int(s, "width", static_cast<int>(g.width));
    gst_structure_fixate_field_nearest_int(s, "height", static_cast<int>(g.height));
    gst_structure_fixate_field_nearest_fraction(s, "framerate", 0, 1);
    return GST_BASE_SRC_CLASS(kavro_src_parent_class)->fixate(base, caps);
}

gboolean kavroSrcSetCaps(GstBaseSrc* base, GstCaps* caps) {
    KavroSrc* src = KAVRO_SRC(base);
    SourceState& st = *src->state;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const PixelFormatCaps* format = kavro::gst::pixelFormatByCaps(s);
    gint width = 0;
    gint height = 0;
    if (format == nullptr || !gst_structure_get_int(s, "width", &width) ||
        !gst_structure_get_int(s, "height", &height) || width <= 0 || height <= 0) {
        gchar* text = gst_caps_to_string(caps);
        GST_ELEMENT_ERROR(src, CORE, NEGOTIATION, ("caps the camera can't send"), ("%s", text));
        g_free(text);
        return FALSE;
    }
    std::lock_guard lock(st.cameraMutex);
    if (!st.camera)
        return FALSE;
    const Geometry& g = st.geometry;
    if (g.format == format && g.width == static_cast<uint32_t>(width) &&
        g.height == static_cast<uint32_t>(height)) {
        return TRUE;
    }
    // The image format is held while the camera streams: stop, change, start again.
    const bool acquiring = st.camera->acquiring();
    st.camera->stopAcquisition();
    CameraError error;
    Geometry changed;
    const bool ok = st.camera->setGeometry(*format, static_cast<uint32_t>(width),
                                           static_cast<uint32_t>(height), error) &&
                    st.camera->readGeometry(changed, error);
    if (ok) {
        std::lock_guard capsLock(st.capsMutex);
        st.geometry = changed;
    }
    if (!ok || (acquiring && !st.camera->startAcquisition(error))) {
        postError(src, error);
        return FALSE;
    }
    GST_INFO_OBJECT(src, "camera set to %s %dx%d", format->entry, width, height);
    return TRUE;
}

gboolean kavroSrcQuery(GstBaseSrc* base, GstQuery* query) {
    if (GST_QUERY_TYPE(query) != GST_QUERY_LATENCY)
        return GST_BASE_SRC_CLASS(kavro_src_parent_class)->query(base, query);
    SourceState& st = stateOf(base);
    std::lock_guard lock(st.capsMutex);
    if (st.offered == nullptr)
        return FALSE;
    // A frame is pushed once it has arrived whole: one frame time late at least.
    const GstClockTime frame = frameDuration(st.geometry);
    const GstClockTime min = GST_CLOCK_TIME_IS_VALID(frame) ? frame : 0;
    gst_query_set_latency(query, TRUE, min, GST_CLOCK_TIME_NONE);
    return TRUE;
}

gboolean kavroSrcUnlock(GstBaseSrc* base) {
    stateOf(base).flushing = true;
    return TRUE;
}

gboolean kavroSrcUnlockStop(GstBaseSrc* base) {
    stateOf(base).flushing = false;
    return TRUE;
}

// The camera's timestamp in nanoseconds; exact for a whole number of nanoseconds per tick.
GstClockTime cameraNanoseconds(uint64_t ticks, const Camera& camera) {
    const double perTick = camera.nanosecondsPerTick();
    if (perTick >= 1.0 && perTick == static_cast<double>(static_cast<uint64_t>(perTick)))
        return ticks * static_cast<uint64_t>(perTick);
    return static_cast<GstClockTime>(static_cast<double>(ticks) * perTick);
}

// The buffer for a delivered image, or null (the image is then given back and reported).
GstBuffer* bufferFor(KavroSrc* src, const GevImageHeader& h, uint8_t index) {
    SourceState& st = *src->state;
    const auto& ring = st.camera->ring();
    const Geometry& g = st.geometry;
    if (g.format == nullptr || h.pixelFormat != g.pixelFormat || h.sizeX != g.width ||
        h.sizeY != g.height) {
        ring->giveBack(index);
        reportDropped(src, 1, "an image of another format than negotiated", h.blockId, 0);
        return nullptr;
    }
    const size_t line = size_t{g.width} * g.format->bytesPerPixel;
    const size_t bytes = line * g.height;
    GstBuffer* buffer = nullptr;
    if (h.paddingX == 0 && bytes <= ring->payloadSize()) {
        buffer = ring->lend(index, bytes);
        if (buffer == nullptr)
            ring->giveBack(index);
    } else {
        buffer =
            copyWithoutPadding(ring->data(index), ring->payloadSize(), line, g.height, h.paddingX);
        ring->giveBack(index);
    }
    if (buffer == nullptr) {
        reportDropped(src, 1, "an image larger than the camera's payload size", h.blockId, 0);
        return nullptr;
    }
    GST_BUFFER_OFFSET(buffer) = h.blockId;
    GST_BUFFER_OFFSET_END(buffer) = h.blockId + 1;
    GST_BUFFER_DURATION(buffer) = frameDuration(g);
    gst_buffer_add_reference_timestamp_meta(
        buffer, st.timestampCaps, cameraNanoseconds(h.timestamp, *st.camera), GST_CLOCK_TIME_NONE);
    return buffer;
}

GstFlowReturn kavroSrcCreate(GstPushSrc* push, GstBuffer** out) {
    KavroSrc* src = KAVRO_SRC(push);
    SourceState& st = *src->state;
    std::lock_guard lock(st.cameraMutex);
    if (!st.camera)
        return GST_FLOW_FLUSHING;
    CameraError error;
    // Live: create runs only in PLAYING, so the first call starts the camera.
    if (!st.camera->acquiring()) {
        if (!st.camera->startAcquisition(error)) {
            postError(src, error);
            return GST_FLOW_ERROR;
        }
        st.lastBlockId = 0;  // a new acquisition numbers its blocks anew
    }
    const uint8_t device = st.camera->device();
    while (!st.flushing) {
        GevImageHeader h{};
        uint8_t index = 0;
        const GevStatus s = GEVGetImageRingBuffer(device, &h, &index);
        if (s == GEV_STATUS_TIMEOUT) {
            uint8_t connection = GEV_CONNECTION_OK;
            uint8_t reserved = 0;
            if (GEVGetConnectionStatus(device, &connection, &reserved) == GEV_STATUS_SUCCESS &&
                connection == GEV_CONNECTION_FAILED) {
                GST_ELEMENT_ERROR(src, RESOURCE, READ, ("the camera stopped answering"),
                                  ("%s", GEVStatusText(GEV_STATUS_ACCESS_DENIED)));
                return GST_FLOW_ERROR;
            }
            continue;
        }
        if (s != GEV_STATUS_SUCCESS && s != GEV_STATUS_IMAGE_INCOMPLETE) {
            GST_ELEMENT_ERROR(src, RESOURCE, READ, ("no image from the camera"),
                              ("%s", GEVStatusText(s)));
            return GST_FLOW_ERROR;
        }
        if (!st.camera->ring()->handedOut(index)) {
            GST_ELEMENT_ERROR(src, RESOURCE, READ, ("the library handed out a wrong image buffer"),
                              ("entry %u", index));
            return GST_FLOW_ERROR;
        }
        // Whole frames that never arrived show as a gap in the block ids.
        if (st.lastBlockId != 0 && h.blockId > st.lastBlockId + 1)
            reportDropped(src, h.blockId - st.lastBlockId - 1, "frames lost", h.blockId, 0);
        st.lastBlockId = h.blockId;
        if (s == GEV_STATUS_IMAGE_INCOMPLETE || h.missingPackets != 0) {
            st.camera->ring()->giveBack(index);
            reportDropped(src, 1, "an incomplete image was dropped", h.blockId, h.missingPackets);
            continue;
        }
        if (GstBuffer* buffer = bufferFor(src, h, index)) {
            ++st.processed;
            *out = buffer;
            return GST_FLOW_OK;
        }
    }
    return GST_FLOW_FLUSHING;
}

GstStateChangeReturn kavroSrcChangeState(GstElement* element, GstStateChange transition) {
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(kavro_src_parent_class)->change_state(element, transition);
    if (result == GST_STATE_CHANGE_FAILURE)
        return result;
    if (transition == GST_STATE_CHANGE_PLAYING_TO_PAUSED) {
        // The base class has taken the streaming thread out of create: the camera stops until
        // the next PLAYING.
        SourceState& st = stateOf(element);
        std::lock_guard lock(st.cameraMutex);
        if (st.camera)
            st.camera->stopAcquisition();
    }
    return result;
}

}  // namespace

static void kavro_src_class_init(KavroSrcClass* klass) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* push = GST_PUSH_SRC_CLASS(klass);

    object->set_property = kavroSrcSetProperty;
    object->get_property = kavroSrcGetProperty;
    object->finalize = kavroSrcFinalize;

    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(
        object, kPropAddress,
        g_param_spec_string("address", "Camera address",
                            "IPv4 address of the camera (takes precedence over serial)", "",
                            flags));
    g_object_class_install_property(
        object, kPropSerial,
        g_param_spec_string("serial", "Serial number",
                            "Serial number of the camera, found by discovery when no address "
                            "is set",
                            "", flags));
    g_object_class_install_property(
        object, kPropPacketSize,
        g_param_spec_uint("packet-size", "Packet size",
                          "Stream packet size in bytes (0 keeps the camera's)", 0, 65535, 0,
                          flags));
    g_object_class_install_property(
        object, kPropPacketResend,
        g_param_spec_boolean("packet-resend", "Packet resend",
                             "Ask the camera to send lost packets again", TRUE, flags));
    g_object_class_install_property(
        object, kPropBufferCount,
        g_param_spec_uint("buffer-count", "Buffer count",
                          "Image buffers of the acquisition, those downstream included", 1, 256,
                          kDefaultBufferCount, flags));
    g_object_class_install_property(
        object, kPropFeatures,
        g_param_spec_string("features", "Features",
                            "Camera features set at start, \"Name=Value\" separated by spaces "
                            "(a command by its name alone)",
                            "", flags));
    // A property that picks the receive path (socket or filter driver) belongs here once the
    // library offers the choice through its interface.

    gst_element_class_set_static_metadata(element, "GigE Vision camera source", "Source/Video",
                                          "Live images from a GigE Vision camera",
                                          "KavroGigEVisionLib");
    GstCaps* caps = kavro::gst::templateCaps();
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
    element->change_state = kavroSrcChangeState;

    base->start = kavroSrcStart;
    base->stop = kavroSrcStop;
    base->get_caps = kavroSrcGetCaps;
    base->fixate = kavroSrcFixate;
    base->set_caps = kavroSrcSetCaps;
    base->query = kavroSrcQuery;
    base->unlock = kavroSrcUnlock;
    base->unlock_stop = kavroSrcUnlockStop;
    push->create = kavroSrcCreate;
}

static void kavro_src_init(KavroSrc* src) {
    src->state = new SourceState;
    src->state->settings.bufferCount = kDefaultBufferCount;
    src->state->timestampCaps = gst_caps_new_empty_simple(kCameraTimestampCaps);
    gst_base_src_set_live(GST_BASE_SRC(src), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(src), GST_FORMAT_TIME);
    gst_base_src_set_do_timestamp(GST_BASE_SRC(src), TRUE);
}
