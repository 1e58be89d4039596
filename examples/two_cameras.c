/* Two cameras at once: each is opened on its own device index and streams from its own thread;
 * calls for different devices may run in parallel.
 *   two_cameras ADDRESS1 ADDRESS2 */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>

#include "example_camera.h"

#define FRAMES 10

struct Camera {
    uint8_t device;
    int received;
};

static void* grab(void* argument) {
    struct Camera* camera = argument;
    GevImageHeader header;
    uint64_t payload = 0;
    uint8_t* image;
    int k;
    if (example_check("PayloadSize",
                      GEVGetFeatureInteger(camera->device, "PayloadSize", &payload)) ||
        (image = malloc(payload)) == NULL)
        return NULL;
    (void)GEVSetFeatureEnumeration(camera->device, "AcquisitionMode", "MultiFrame");
    (void)GEVSetFeatureInteger(camera->device, "AcquisitionFrameCount", FRAMES);
    if (example_check("stream channel", GEVOpenStreamChannel(camera->device, 0, 0, 0)) == 0 &&
        example_check("start", GEVAcquisitionStart(camera->device, FRAMES)) == 0) {
        for (k = 0; k < FRAMES; ++k) {
            const GevStatus s = GEVGetImageBuffer(camera->device, &header, image);
            if (s != GEV_STATUS_IMAGE_INCOMPLETE && example_check("image", s) != GEV_STATUS_SUCCESS)
                break;
            ++camera->received;
        }
    }
    (void)GEVAcquisitionStop(camera->device);
    (void)GEVCloseStreamChannel(camera->device);
    free(image);
    return NULL;
}

int main(int argc, char** argv) {
    struct Camera cameras[2] = {{0, 0}, {0, 0}};
    pthread_t threads[2];
    int i;
    int ok = 1;
    if (argc < 3) {
        fprintf(stderr, "usage: two_cameras ADDRESS1 ADDRESS2\n");
        return 2;
    }
    for (i = 0; i < 2; ++i) {
        GevConnectInfo info;
        if (example_connect_info(argv[i + 1], &info) != 0 ||
            example_check("open", example_open(&info, 1, &cameras[i].device)) ||
            example_check("description", GEVInitXml(cameras[i].device))) {
            if (cameras[0].device != 0)
                (void)GEVClose(cameras[0].device);
            if (cameras[1].device != 0)
                (void)GEVClose(cameras[1].device);
            return 1;
        }
    }
    for (i = 0; i < 2; ++i)
        pthread_create(&threads[i], NULL, grab, &cameras[i]);
    for (i = 0; i < 2; ++i) {
        pthread_join(threads[i], NULL);
        printf("camera %u (%s): %d of %d images\n", cameras[i].device, argv[i + 1],
               cameras[i].received, FRAMES);
        ok = ok && cameras[i].received == FRAMES;
        (void)GEVClose(cameras[i].device);
    }
    return ok ? 0 : 1;
}
