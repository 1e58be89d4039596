// kavrosrc in real pipelines against a simulated camera on loopback: frames with the caps and
// bytes the camera sent, features and caps that change the camera, incomplete frames kept out
// of the stream, state changes that start, stop and release the camera, and a camera that
// vanishes.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gvcp/bootstrap.h"
#include "platform/socket.h"
#include "sim/camera_server.h"
#include "sim/feature_registers.h"
#include "sim/stream_source.h"

namespace kavro::test {
namespace {

namespace feature = sim::feature;

// 100 frames a second, with an exposure short enough for the rate; the ring is deep enough that
// a test process starved of CPU for a while on a busy machine loses no frame.
constexpr const char* kFastFrames =
    "ExposureTime=1000 AcquisitionFrameRateEnable=1 AcquisitionFrameRate=100";
constexpr const char* kDeepRing = "buffer-count=32";
constexpr GstClockTime kRunLimit = 30 * GST_SECOND;

// What the sink saw.
struct Received {
    std::mutex mutex;
    std::vector<uint64_t> blockIds;
    size_t damaged = 0;  // frames whose size or bytes differ from what the camera sent
    size_t withoutCameraTimestamp = 0;
    std::string caps;
    size_t expectedBytes = 0;
    size_t holdAfter = SIZE_MAX;   // frames after this many are kept (held downstream)
    std::vector<GstBuffer*> held;  // in arrival order
    ~Received() {
        for (GstBuffer* b : held)
            gst_buffer_unref(b);
    }
};

// Bytes of a buffer that differ from what the camera sent for its block.
bool intact(GstBuffer* buffer, size_t expectedBytes) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return false;
    const uint64_t blockId = GST_BUFFER_OFFSET(buffer);
    bool same = map.size == expectedBytes;
    for (size_t o = 0; same && o < map.size; ++o)
        same = map.data[o] == sim::frameByte(blockId, o);
    gst_buffer_unmap(buffer, &map);
    return same;
}

void onHandoff(GstElement*, GstBuffer* buffer, GstPad* pad, gpointer data) {
    auto& r = *static_cast<Received*>(data);
    std::lock_guard lock(r.mutex);
    if (r.caps.empty()) {
        if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
            gchar* text = gst_caps_to_string(caps);
            r.caps = text;
            g_free(text);
            gst_caps_unref(caps);
        }
    }
    r.blockIds.push_back(GST_BUFFER_OFFSET(buffer));
    r.damaged += intact(buffer, r.expectedBytes) ? 0 : 1;
    if (r.blockIds.size() > r.holdAfter)
        r.held.push_back(gst_buffer_ref(buffer));
    GstCaps* timestampCaps = gst_caps_from_string("timestamp/x-gige-vision");
    if (gst_buffer_get_reference_timestamp_meta(buffer, timestampCaps) == nullptr)
        ++r.withoutCameraTimestamp;
    gst_caps_unref(timestampCaps);
}

struct BusOutcome {
    bool eos = false;
    std::string error;  // the first error's text and debug text
    size_t warnings = 0;
    guint64 droppedByQos = 0;
};

// Messages until end of stream, an error, or the limit.
BusOutcome runUntilEnd(GstElement* pipeline, GstClockTime limit = kRunLimit) {
    BusOutcome out;
    GstBus* bus = gst_element_get_bus(pipeline);
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR |
                                                   GST_MESSAGE_WARNING | GST_MESSAGE_QOS);
    while (!out.eos && out.error.empty()) {
        GstMessage* m = gst_bus_timed_pop_filtered(bus, limit, types);
        if (m == nullptr) {
            out.error = "no end of stream within the limit";
            break;
        }
        if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS) {
            out.eos = true;
        } else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
            GError* e = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(m, &e, &debug);
            out.error = std::string(e->message) + " | " + (debug != nullptr ? debug : "");
            g_error_free(e);
            g_free(debug);
        } else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_WARNING) {
            ++out.warnings;
        } else {
            GstFormat format{};
            guint64 processed = 0;
            guint64 dropped = 0;
            gst_message_parse_qos_stats(m, &format, &processed, &dropped);
            out.droppedByQos = std::max<guint64>(out.droppedByQos, dropped);
        }
        gst_message_unref(m);
    }
    gst_object_unref(bus);
    return out;
}

class KavroSrcTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        gst_init(nullptr, nullptr);
        GError* error = nullptr;
        GstPlugin* plugin = gst_plugin_load_file(KAVRO_GST_PLUGIN, &error);
        ASSERT_NE(plugin, nullptr) << (error != nullptr ? error->message : "");
        gst_object_unref(plugin);
    }

    void TearDown() override { reset(); }

    // Back to no pipeline and no camera.
    void reset() {
        if (pipeline_ != nullptr) {
            gst_element_set_state(pipeline_, GST_STATE_NULL);
            gst_object_unref(pipeline_);
            pipeline_ = nullptr;
        }
        received_ = std::make_unique<Received>();
    }

    void startCamera(const sim::CameraConfig& config = {}) {
        camera_ = sim::CameraServer::startOnLoopback(config);
        ASSERT_NE(camera_, nullptr);
        char text[16];
        platform::formatIpv4(camera_->addressNet(), text);
        address_ = text;
    }

    // "kavrosrc address=<camera> <source> features=<features> ! <between> ! fakesink", the sink
    // checking every frame against `bytes` per frame.
    void makePipeline(const std::string& source, const std::string& features = kFastFrames,
                      const std::string& between = "", size_t bytes = 640 * 480) {
        std::string description = "kavrosrc name=src address=" + address_ + " " + kDeepRing + " " +
                                  source + " features=\"" + features + "\"";
        if (!between.empty())
            description += " ! " + between;
        description += " ! fakesink name=sink signal-handoffs=true";
        GError* error = nullptr;
        pipeline_ = gst_parse_launch(description.c_str(), &error);
        ASSERT_NE(pipeline_, nullptr) << (error != nullptr ? error->message : "");
        received_->expectedBytes = bytes;
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
        g_signal_connect(sink, "handoff", G_CALLBACK(onHandoff), received_.get());
        gst_object_unref(sink);
    }

    // Sets PLAYING (a start that fails posts its error) and reads the bus.
    BusOutcome play() {
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
        return runUntilEnd(pipeline_);
    }

    uint32_t cameraRegister(uint32_t address) { return camera_->model().readRegister(address); }
    size_t frames() {
        std::lock_guard lock(received_->mutex);
        return received_->blockIds.size();
    }
    // Waits up to 3 s for the sink to have seen `atLeast` frames.
    bool framesAfter(size_t atLeast) {
        for (int i = 0; i < 300 && frames() < atLeast; ++i)
            g_usleep(10000);
        return frames() >= atLeast;
    }

    std::unique_ptr<sim::CameraServer> camera_;
    std::string address_;
    GstElement* pipeline_ = nullptr;
    std::unique_ptr<Received> received_ = std::make_unique<Received>();
};

// 100 frames through the element: each whole, with the camera's bytes, its block id as the
// offset (consecutive) and the camera timestamp as a meta; the caps follow the camera's
// format, whether features or downstream caps chose it; lost packets come back by resend, and
// without resend the frames that lost packets are reported on the bus and never pushed.
TEST_F(KavroSrcTest, DeliversWholeFramesInTheNegotiatedFormat) {
    struct Case {
        const char* name;
        std::string features;
        const char* between;
        double loss;
        const char* caps;
        size_t bytes;
        uint32_t packetSize = 0;  // the element's packet-size; 0 leaves it unset
        bool colour = false;      // a camera with a Bayer RG sensor
        bool resend = true;
    };
    const std::string fast = kFastFrames;
    const Case cases[] = {
        {"camera's format", fast, "", 0.0,
         "video/x-raw, format=(string)GRAY8, width=(int)640, height=(int)480", 640 * 480},
        {"features", fast + " Width=320 Height=200 PixelFormat=Mono16 GlobalGain=3", "", 0.0,
         "video/x-raw, format=(string)GRAY16_LE, width=(int)320, height=(int)200", 320 * 200 * 2},
        {"caps", fast, "video/x-raw,format=GRAY16_LE,width=256,height=128", 0.0,
         "video/x-raw, format=(string)GRAY16_LE, width=(int)256, height=(int)128", 256 * 128 * 2},
        {"1 % loss with resend, 4000-byte packets", fast, "", 0.01,
         "video/x-raw, format=(string)GRAY8, width=(int)640, height=(int)480", 640 * 480, 4000},
        {"Bayer", fast + " PixelFormat=BayerRG8", "", 0.0,
         "video/x-bayer, format=(string)rggb, width=(int)640, height=(int)480", 640 * 480, 0, true},
        {"1 % loss without resend", fast + " Width=320 Height=200", "", 0.01,
         "video/x-raw, format=(string)GRAY8, width=(int)320, height=(int)200", 320 * 200, 0, false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::CameraConfig config;
        config.streamLoss = c.loss;
        config.colourSensor = c.colour;
        startCamera(config);
        makePipeline("num-buffers=100 packet-size=" + std::to_string(c.packetSize) +
                         (c.resend ? "" : " packet-resend=false"),
                     c.features, c.between, c.bytes);
        const BusOutcome out = play();
        EXPECT_TRUE(out.eos) << out.error;
        EXPECT_EQ(out.warnings > 0, !c.resend) << out.warnings;
        EXPECT_EQ(out.droppedByQos > 0, !c.resend) << out.droppedByQos;
        {
            std::lock_guard lock(received_->mutex);
            EXPECT_EQ(received_->caps.rfind(c.caps, 0), 0u) << received_->caps;
            ASSERT_EQ(received_->blockIds.size(), 100u);
            EXPECT_EQ(received_->damaged, 0u);
            EXPECT_EQ(received_->withoutCameraTimestamp, 0u);
            for (size_t i = 1; i < received_->blockIds.size(); ++i) {
                const uint64_t step = received_->blockIds[i] - received_->blockIds[i - 1];
                EXPECT_TRUE(c.resend ? step == 1 : step >= 1) << step;
            }
        }
        if (c.packetSize != 0) {
            EXPECT_EQ(cameraRegister(gvcp::reg::kScps0) & 0xFFFF, c.packetSize);
        }
        if (c.features.find("GlobalGain=3") != std::string::npos) {
            EXPECT_EQ(cameraRegister(feature::kGlobalGain), 3u);
        }
        EXPECT_EQ(cameraRegister(feature::kExposureTime), 1000u);
        reset();
        camera_.reset();
    }
}

// PLAYING streams, PAUSED stops the camera, PLAYING again resumes, NULL releases the camera so
// that another element can open it; a setting the camera refuses fails the start with the
// library's status text, and a camera that vanishes ends the stream with an error.
TEST_F(KavroSrcTest, StateChangesStartStopAndReleaseTheCameraAndItsLossEndsTheStream) {
    startCamera();
    makePipeline("");
    ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    EXPECT_NE(cameraRegister(gvcp::reg::kCcp), 0u);
    EXPECT_EQ(cameraRegister(feature::kAcquisitionActive), 0u);

    ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(framesAfter(10));
    EXPECT_EQ(cameraRegister(feature::kAcquisitionActive), 1u);

    ASSERT_EQ(gst_element_set_state(pipeline_, GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);
    EXPECT_EQ(cameraRegister(feature::kAcquisitionActive), 0u);
    const size_t paused = frames();
    ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    EXPECT_TRUE(framesAfter(paused + 10));

    ASSERT_EQ(gst_element_set_state(pipeline_, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(cameraRegister(feature::kAcquisitionActive), 0u);
    EXPECT_EQ(cameraRegister(gvcp::reg::kCcp), 0u);

    // The released camera opens again; a feature it lacks fails that start with the status.
    reset();
    makePipeline("num-buffers=1", "NoSuchFeature=1");
    const BusOutcome refused = play();
    EXPECT_NE(refused.error.find("NoSuchFeature=1: GEV_STATUS_FEATURE_NOT_FOUND"),
              std::string::npos)
        << refused.error;
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    EXPECT_EQ(cameraRegister(gvcp::reg::kCcp), 0u);

    // A camera that goes away mid-stream ends the stream with an error, not a hang.
    reset();
    makePipeline("");
    ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    EXPECT_TRUE(framesAfter(1));
    camera_.reset();
    const BusOutcome out = runUntilEnd(pipeline_);
    EXPECT_FALSE(out.eos);
    EXPECT_NE(out.error.find("the camera stopped answering"), std::string::npos) << out.error;
}

// Images reach downstream without a copy, in buffers lent from the element's ring: buffers
// still held downstream keep the camera's bytes after the camera was stopped and closed, and
// while a new pipeline streams from it.
TEST_F(KavroSrcTest, BuffersHeldDownstreamOutliveTheAcquisition) {
    startCamera();
    makePipeline("num-buffers=30");
    received_->holdAfter = 20;  // the pipeline is not yet playing
    EXPECT_TRUE(play().eos);
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    EXPECT_EQ(cameraRegister(gvcp::reg::kCcp), 0u);
    std::vector<GstBuffer*> held;
    held.swap(received_->held);  // the pipeline has stopped
    ASSERT_EQ(held.size(), 10u);
    reset();
    makePipeline("num-buffers=30");
    EXPECT_TRUE(play().eos);
    for (GstBuffer* b : held) {
        EXPECT_TRUE(intact(b, 640 * 480)) << GST_BUFFER_OFFSET(b);
        gst_buffer_unref(b);
    }
}

}  // namespace
}  // namespace kavro::test
