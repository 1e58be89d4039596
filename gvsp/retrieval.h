// Taking images out of a running acquisition: the copying calls, application ring buffers, the
// last header and the frame rate.
#pragma once

#include <cstdint>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"
#include "gvsp/image_ring.h"

namespace kavro::gvsp {

// Copies the oldest unread image to `destination` (or the image memory block at `offset`).
GevStatus copyImage(frame::GevDevice& device, uint32_t offset, uint32_t* size,
                    GevImageHeader* header, void* destination);
// Copies the image data of `entry` to `destination` (payloadSize bytes of room): padding
// removed, cut to the trailer's height with zeros after it, never past either buffer. Updates
// the entry's sizeY to the height delivered.
void copyImageData(const frame::GevDevice& device, RingEntry& entry, uint32_t payloadSize,
                   uint8_t* destination);
void fillHeader(const RingEntry& entry, GevImageHeader& header);
// Keeps the chunk bytes of `entry` (those after its image) as the device's last chunk data, or
// clears it for a block without chunks.
void keepChunkData(frame::GevDevice& device, const RingEntry& entry);

GevStatus getImageRingBuffer(frame::GevDevice& device, GevImageHeader* header, uint8_t* index);
GevStatus queueRingBuffer(frame::GevDevice& device, uint8_t index);
GevStatus imageFps(frame::GevDevice& device, double& fps);
GevStatus freeBufferCount(frame::GevDevice& device, uint16_t& count);

}  // namespace kavro::gvsp
