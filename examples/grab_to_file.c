/* Grabs images with the acquisition the device description drives and writes the last one to
 * a PGM file (Mono8 cameras).
 *   grab_to_file ADDRESS [FILE] */
#include <stdio.h>
#include <stdlib.h>

#include "example_camera.h"

#define FRAMES 5

int main(int argc, char** argv) {
    uint8_t device = 0;
    GevConnectInfo info;
    GevImageHeader header;
    uint64_t payload = 0;
    uint8_t* image = NULL;
    const char* path = argc > 2 ? argv[2] : "image.pgm";
    int received = 0;
    int k;
    if (argc < 2 || example_connect_info(argv[1], &info) != 0) {
        fprintf(stderr, "usage: grab_to_file ADDRESS [FILE]\n");
        return 2;
    }
    if (example_check("open", example_open(&info, 1, &device)))
        return 1;
    if (example_check("description", GEVInitXml(device)) ||
        example_check("PayloadSize", GEVGetFeatureInteger(device, "PayloadSize", &payload)) ||
        (image = malloc(payload)) == NULL ||
        example_check("stream channel", GEVOpenStreamChannel(device, 0, 0, 0))) {
        free(image);
        (void)GEVClose(device);
        return 1;
    }
    /* The camera stops by itself after the frames (cameras without these features stream on
     * until the stop). */
    (void)GEVSetFeatureEnumeration(device, "AcquisitionMode", "MultiFrame");
    (void)GEVSetFeatureInteger(device, "AcquisitionFrameCount", FRAMES);
    if (example_check("start", GEVAcquisitionStart(device, FRAMES)) == GEV_STATUS_SUCCESS) {
        for (k = 0; k < FRAMES; ++k) {
            /* An incomplete image (packets lost for good) still arrives, with its data. */
            const GevStatus s = GEVGetImageBuffer(device, &header, image);
            if (s != GEV_STATUS_IMAGE_INCOMPLETE && example_check("image", s) != GEV_STATUS_SUCCESS)
                break;
            ++received;
        }
    }
    (void)GEVAcquisitionStop(device);
    (void)GEVCloseStreamChannel(device);
    if (received > 0 && header.pixelFormat == 0x01080001u /* Mono8 */) {
        FILE* file = fopen(path, "wb");
        if (file != NULL) {
            fprintf(file, "P5\n%u %u\n255\n", header.sizeX, header.sizeY);
            fwrite(image, 1, (size_t)header.sizeX * header.sizeY, file);
            fclose(file);
            printf("%d images; the last, block %llu, %ux%u, saved to %s\n", received,
                   (unsigned long long)header.blockId, header.sizeX, header.sizeY, path);
        }
    }
    free(image);
    (void)GEVClose(device);
    return received == FRAMES ? 0 : 1;
}
