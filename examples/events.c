/* Prints the camera's events as they arrive on the message channel, until COUNT came (or ten
 * seconds passed). The callback runs on the library's message-channel thread.
 *   events ADDRESS [COUNT] */
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "example_camera.h"

static atomic_int events_seen;

static void on_event(uint8_t device, const GevEventInfo* event) {
    printf("camera %u: event 0x%04X, block %llu, %u data bytes\n", device, event->eventId,
           (unsigned long long)event->blockId, event->dataLength);
    fflush(stdout);
    atomic_fetch_add(&events_seen, 1);
}

int main(int argc, char** argv) {
    uint8_t device = 0;
    GevConnectInfo info;
    const int wanted = argc > 2 ? atoi(argv[2]) : 3;
    const struct timespec tenth = {0, 100000000};
    int waited;
    if (argc < 2 || example_connect_info(argv[1], &info) != 0) {
        fprintf(stderr, "usage: events ADDRESS [COUNT]\n");
        return 2;
    }
    if (example_check("open", example_open(&info, 1, &device)))
        return 1;
    if (example_check("message channel", GEVSetMessageChannelCallback(device, on_event))) {
        (void)GEVClose(device);
        return 1;
    }
    for (waited = 0; waited < 100 && atomic_load(&events_seen) < wanted; ++waited)
        nanosleep(&tenth, NULL);
    (void)GEVSetMessageChannelCallback(device, NULL);
    (void)GEVClose(device);
    printf("%d event(s)\n", atomic_load(&events_seen));
    return atomic_load(&events_seen) >= wanted ? 0 : 1;
}
