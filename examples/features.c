/* Reads and writes features by name: the image window, the pixel format, and the limits and
 * unit of ExposureTime.
 *   features ADDRESS */
#include <stdio.h>

#include "example_camera.h"

int main(int argc, char** argv) {
    uint8_t device = 0;
    GevConnectInfo info;
    GevFeatureParameter exposure;
    uint64_t width = 0;
    uint64_t height = 0;
    char format[64] = {0};
    char unit[32] = {0};
    int ok;
    if (argc < 2 || example_connect_info(argv[1], &info) != 0) {
        fprintf(stderr, "usage: features ADDRESS\n");
        return 2;
    }
    if (example_check("open", example_open(&info, 1, &device)))
        return 1;
    ok = example_check("description", GEVInitXml(device)) == GEV_STATUS_SUCCESS &&
         example_check("set Width", GEVSetFeatureInteger(device, "Width", 320)) == 0 &&
         example_check("set Height", GEVSetFeatureInteger(device, "Height", 240)) == 0 &&
         example_check("get Width", GEVGetFeatureInteger(device, "Width", &width)) == 0 &&
         example_check("get Height", GEVGetFeatureInteger(device, "Height", &height)) == 0 &&
         example_check("get PixelFormat",
                       GEVGetFeatureEnumeration(device, "PixelFormat", format, 63)) == 0 &&
         example_check("ExposureTime", GEVGetFeatureParameter(device, "ExposureTime", &exposure)) ==
             0;
    if (ok) {
        if (GEVGetFeatureUnit(device, "ExposureTime", unit, 31) != GEV_STATUS_SUCCESS)
            unit[0] = '\0';
        unit[31] = '\0';
        printf("image %llux%llu %s; ExposureTime %lld..%lld %s\n", (unsigned long long)width,
               (unsigned long long)height, format, (long long)exposure.min, (long long)exposure.max,
               unit);
        ok = width == 320 && height == 240;
    }
    (void)GEVClose(device);
    return ok ? 0 : 1;
}
