/* Finds cameras by broadcast (or takes one by address), opens the first with exclusive control,
 * prints its model and serial number from the device description and closes it.
 *   discover_and_open [ADDRESS] */
#include <stdio.h>
#include <string.h>

#include "example_camera.h"

int main(int argc, char** argv) {
    uint8_t device = 0;
    GevConnectInfo info;
    char model[64] = {0};
    char serial[64] = {0};
    if (argc > 1) {
        if (example_connect_info(argv[1], &info) != 0)
            return 1;
    } else {
        GevDeviceList list;
        unsigned i;
        if (example_check("discovery", GEVDiscovery(&list, NULL, 1000, 0)))
            return 1;
        printf("%u camera(s) answered\n", list.count);
        for (i = 0; i < list.count; ++i) {
            char address[INET_ADDRSTRLEN];
            struct in_addr a;
            a.s_addr = list.devices[i].deviceAddress;
            inet_ntop(AF_INET, &a, address, sizeof address);
            printf("  %s  %.32s  %.16s\n", address, list.devices[i].modelName,
                   list.devices[i].serialNumber);
        }
        if (list.count == 0)
            return 1;
        memset(&info, 0, sizeof info);
        info.deviceAddress = list.devices[0].deviceAddress;
        info.hostAddress = list.devices[0].adapterAddress;
        info.subnetMask = list.devices[0].adapterMask;
        memcpy(info.adapterName, list.devices[0].adapterName, sizeof info.adapterName);
    }
    if (example_check("open", example_open(&info, 1, &device)))
        return 1;
    if (example_check("description", GEVInitXml(device)) == GEV_STATUS_SUCCESS &&
        example_check("DeviceModelName", GEVGetFeatureString(device, "DeviceModelName", model)) ==
            GEV_STATUS_SUCCESS) {
        (void)GEVGetFeatureString(device, "DeviceSerialNumber", serial);
        printf("opened %.32s, serial %.16s\n", model, serial);
    }
    return example_check("close", GEVClose(device)) == GEV_STATUS_SUCCESS ? 0 : 1;
}
