/* Shared by the examples: choose a camera by address or by discovery, and report statuses.
 * Only the public header and the C library are used. */
#ifndef KAVRO_EXAMPLE_CAMERA_H
#define KAVRO_EXAMPLE_CAMERA_H

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>

#include "KavroGigEVisionLib.h"

/* Prints the status with its name and meaning when it is not success; returns it. */
static GevStatus example_check(const char* what, GevStatus status) {
    if (status != GEV_STATUS_SUCCESS)
        fprintf(stderr, "%s: %s\n", what, GEVStatusText(status));
    return status;
}

/* Fills `info` for the camera at dotted address `text`, with the local adapter on its subnet.
 * Returns 0 on success. */
static int example_connect_info(const char* text, GevConnectInfo* info) {
    struct in_addr camera;
    struct ifaddrs* list = NULL;
    const struct ifaddrs* a;
    int found = 0;
    memset(info, 0, sizeof *info);
    if (inet_pton(AF_INET, text, &camera) != 1) {
        fprintf(stderr, "%s is not an IPv4 address\n", text);
        return -1;
    }
    info->deviceAddress = camera.s_addr;
    if (getifaddrs(&list) != 0)
        return -1;
    for (a = list; a != NULL && !found; a = a->ifa_next) {
        struct sockaddr_in address;
        struct sockaddr_in mask;
        if (a->ifa_addr == NULL || a->ifa_netmask == NULL || a->ifa_addr->sa_family != AF_INET)
            continue;
        memcpy(&address, a->ifa_addr, sizeof address);
        memcpy(&mask, a->ifa_netmask, sizeof mask);
        if ((address.sin_addr.s_addr & mask.sin_addr.s_addr) !=
            (camera.s_addr & mask.sin_addr.s_addr))
            continue;
        info->hostAddress = address.sin_addr.s_addr;
        info->subnetMask = mask.sin_addr.s_addr;
        snprintf(info->adapterName, sizeof info->adapterName, "%s", a->ifa_name);
        found = 1;
    }
    freeifaddrs(list);
    if (!found)
        fprintf(stderr, "no adapter of this host is on the subnet of %s\n", text);
    return found ? 0 : -1;
}

/* Prints the device's warnings and errors on stderr (the other log lines are progress). */
static void example_log(uint8_t device, const char* line) {
    if (strncmp(line, "[INFO]", 6) != 0)
        fprintf(stderr, "  [camera %u] %s\n", device, line);
}

/* Opens the camera on the first device index that no process of this machine holds (indexes
 * are shared machine-wide); the index used is stored in *device. Returns the open's status. */
static GevStatus example_open(const GevConnectInfo* info, uint8_t controlMode, uint8_t* device) {
    GevStatus status = GEV_STATUS_DEVICE_ALREADY_OPEN;
    uint8_t index;
    for (index = 1; index <= 20 && status == GEV_STATUS_DEVICE_ALREADY_OPEN; ++index) {
        *device = index;
        status = GEVInit(index, info, example_log, 0, controlMode);
    }
    return status;
}

#endif
