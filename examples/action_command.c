/* One action command to several cameras: each camera is given the same device key, group key
 * and group mask (the standard action registers), then the action is sent to each; every
 * camera whose keys match acknowledges it. The cameras are opened with control access (2), not
 * exclusive access: the action leaves the host from a socket of its own, and a camera held
 * exclusively refuses commands from any socket but its controller's.
 *   action_command ADDRESS... */
#include <stdio.h>

#include "example_camera.h"

#define DEVICE_KEY 0x12345678u
#define GROUP_KEY 0x00000001u
#define GROUP_MASK 0x00000001u
/* Standard bootstrap registers of the first action signal. */
#define ACTION_DEVICE_KEY 0x090Cu
#define ACTION_GROUP_KEY_0 0x9800u
#define ACTION_GROUP_MASK_0 0x9804u

int main(int argc, char** argv) {
    const uint32_t deviceKey = DEVICE_KEY;
    const uint32_t group[2] = {GROUP_KEY, GROUP_MASK};
    uint8_t devices[20] = {0};
    int cameras = argc - 1;
    int acknowledged = 0;
    int i;
    if (cameras < 1 || cameras > 20) {
        fprintf(stderr, "usage: action_command ADDRESS... (1 to 20 cameras)\n");
        return 2;
    }
    for (i = 0; i < cameras; ++i) {
        GevConnectInfo info;
        if (example_connect_info(argv[i + 1], &info) != 0 ||
            example_check("open", example_open(&info, 2, &devices[i])) ||
            example_check("device key",
                          GEVWriteRegister(devices[i], ACTION_DEVICE_KEY, 1, &deviceKey)) ||
            example_check("group key and mask",
                          GEVWriteRegister(devices[i], ACTION_GROUP_KEY_0, 2, group))) {
            cameras = i + 1;
            goto close;
        }
    }
    for (i = 0; i < cameras; ++i) {
        const GevStatus s = GEVSetActionCommand(devices[i], DEVICE_KEY, GROUP_KEY, GROUP_MASK, 0);
        printf("camera %d (%s): %s\n", i + 1, argv[i + 1], GEVStatusText(s));
        acknowledged += s == GEV_STATUS_SUCCESS;
    }
close:
    for (i = 0; i < cameras; ++i) {
        if (devices[i] != 0)
            (void)GEVClose(devices[i]);
    }
    printf("%d of %d cameras acknowledged the action\n", acknowledged, argc - 1);
    return acknowledged == argc - 1 ? 0 : 1;
}
