/* Finds cameras by broadcast (or takes one by address), opens the first with exclusive control,
 * prints its model and serial number from the device description and closes it.
 *   discover_and_open [ADDRESS] */
#include <stdio.h>
#include <string.h>

#include "example_camera.h"

int main(int argc, char** argv) {
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
    if (example_check("open", GEVInit(1, &info, example_log, 0, 1)))
        return 1;
    if (example_check("description", GEVInitXml(1)) == GEV_STATUS_SUCCESS &&
        example_check("DeviceModelName", GEVGetFeatureString(1, "DeviceModelName", model)) ==
            GEV_STATUS_SUCCESS) {
        (void)GEVGetFeatureString(1, "DeviceSerialNumber", serial);
        printf("opened %.32s, serial %.16s\n", model, serial);
    }
    return example_check("close", GEVClose(1)) == GEV_STATUS_SUCCESS ? 0 : 1;
}
