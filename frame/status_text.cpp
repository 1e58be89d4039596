// GEVStatusText: the name and meaning of every status the library returns or passes through.
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "KavroGigEVisionLib.h"

namespace {

struct StatusText {
    GevStatus code;
    const char* text;
};

// Library codes, then the GigE Vision device codes an acknowledge may carry.
constexpr std::array kTexts{
    StatusText{0x0000, "GEV_STATUS_SUCCESS (0x0000): success"},
    StatusText{0x0003,
               "GEV_STATUS_WIDTH_NOT_MULTIPLE_OF_4 (0x0003): the width must be a "
               "multiple of 4"},
    StatusText{0xC001, "GEV_STATUS_DEVICE_NOT_OPEN (0xC001): the device index is not open"},
    StatusText{0xC002,
               "GEV_STATUS_DEVICE_ALREADY_OPEN (0xC002): the device index is already "
               "open (in this or another process)"},
    StatusText{0xC003,
               "GEV_STATUS_SOCKET_ERROR (0xC003): a socket could not be created, bound "
               "or configured"},
    StatusText{0xC004, "GEV_STATUS_SEND_ERROR (0xC004): a datagram could not be sent"},
    StatusText{0xC005, "GEV_STATUS_RECEIVE_ERROR (0xC005): a datagram could not be received"},
    StatusText{0xC007, "GEV_STATUS_OUT_OF_MEMORY (0xC007): memory could not be allocated"},
    StatusText{0xC008, "GEV_STATUS_TIMEOUT (0xC008): no answer within the time-out"},
    StatusText{0xC009, "GEV_STATUS_WAIT_ERROR (0xC009): waiting failed"},
    StatusText{0xC00A,
               "GEV_STATUS_WRONG_ACKNOWLEDGE (0xC00A): the camera's acknowledge does "
               "not match the command"},
    StatusText{0xC00B, "GEV_STATUS_THREAD_ERROR (0xC00B): a thread could not be started"},
    StatusText{0xC00C,
               "GEV_STATUS_MULTICAST_ERROR (0xC00C): the multicast group could not be "
               "joined"},
    StatusText{0xC00D,
               "GEV_STATUS_FILTER_DRIVER_NOT_OPEN (0xC00D): the filter driver is not "
               "open"},
    StatusText{0xC010,
               "GEV_STATUS_IMAGE_INCOMPLETE (0xC010): the image is incomplete (packets "
               "were lost)"},
    StatusText{0xC011,
               "GEV_STATUS_FILTER_DRIVER_REFUSED (0xC011): the filter driver refused "
               "the request"},
    StatusText{0xC012, "GEV_STATUS_FILE_EMPTY (0xC012): the file is empty"},
    StatusText{0xC013, "GEV_STATUS_FILE_OPEN_ERROR (0xC013): the file could not be opened"},
    StatusText{0xC016, "GEV_STATUS_NO_GAIN_CONTROL (0xC016): the camera has no gain control"},
    StatusText{0xC017,
               "GEV_STATUS_NO_EXPOSURE_CONTROL (0xC017): the camera has no exposure "
               "control"},
    StatusText{0xC018,
               "GEV_STATUS_ADAPTER_LIST_ERROR (0xC018): the network adapters could not "
               "be listed"},
    StatusText{0xC019,
               "GEV_STATUS_FILTER_DRIVER_INVALID_HANDLE (0xC019): the filter driver "
               "handle is not valid"},
    StatusText{0xC01B, "GEV_STATUS_CLINK_SEND_ERROR (0xC01B): the serial bridge could not send"},
    StatusText{0xC01C,
               "GEV_STATUS_CLINK_RECEIVE_ERROR (0xC01C): the serial bridge could not "
               "receive"},
    StatusText{0xC01D,
               "GEV_STATUS_FEATURE_NOT_FOUND (0xC01D): no feature of that name, or it "
               "is not available"},
    StatusText{0xC01E,
               "GEV_STATUS_FORMULA_ERROR (0xC01E): a formula of the device description "
               "could not be evaluated"},
    StatusText{0xC01F, "GEV_STATUS_FEATURE_TEXT_MISSING (0xC01F): the feature has no such text"},
    StatusText{0xC020, "GEV_STATUS_NOT_SUPPORTED (0xC020): not supported"},
    StatusText{0xC021, "GEV_STATUS_URL_ERROR (0xC021): the description URL is not usable"},
    StatusText{0xC022,
               "GEV_STATUS_DESCRIPTION_READ_ERROR (0xC022): the device description "
               "could not be read"},
    StatusText{0xC023, "GEV_STATUS_DESCRIPTION_EMPTY (0xC023): the device description is empty"},
    StatusText{0xC024,
               "GEV_STATUS_ZIP_ERROR (0xC024): the zipped description could not be "
               "unpacked"},
    StatusText{0xC025, "GEV_STATUS_XML_NO_ROOT (0xC025): the description has no root element"},
    StatusText{0xC026,
               "GEV_STATUS_XML_NOT_WELL_FORMED (0xC026): the description is not well "
               "formed XML"},
    StatusText{0xC027,
               "GEV_STATUS_FILTER_DRIVER_INVALID_PARAMETER (0xC027): the filter driver "
               "refused a parameter"},
    StatusText{0xC028,
               "GEV_STATUS_SCHEMA_ERROR (0xC028): the description does not follow its "
               "schema, or the schema file was not found (the device log says where it "
               "was looked for)"},
    StatusText{0xC029,
               "GEV_STATUS_STYLESHEET_ERROR (0xC029): a pre-processing stylesheet "
               "failed"},
    StatusText{0xC02A, "GEV_STATUS_FEATURE_LIST_EMPTY (0xC02A): no device description is loaded"},
    StatusText{0xC02B,
               "GEV_STATUS_DEVICE_IN_USE (0xC02B): the camera did not answer or "
               "refused control"},
    StatusText{0xC02C,
               "GEV_STATUS_TEST_PACKET_DATA_ERROR (0xC02C): the test packet's data is "
               "wrong"},
    StatusText{0xC02F,
               "GEV_STATUS_XML_LIBRARY_MISSING (0xC02F): the schema or stylesheet files "
               "were not found"},
    StatusText{0xC030, "GEV_STATUS_NO_PAYLOAD_SIZE (0xC030): the payload size is not known"},
    StatusText{0xC031,
               "GEV_STATUS_NOT_IN_SUBNET (0xC031): the camera is not on the adapter's "
               "subnet"},
    StatusText{0xC032,
               "GEV_STATUS_INVALID_ARGUMENT (0xC032): an argument is null or out of "
               "range"},
    StatusText{0xC033, "GEV_STATUS_INTERNAL_ERROR (0xC033): an unexpected internal failure"},
    StatusText{0xC034,
               "GEV_STATUS_REFERENCE_CYCLE (0xC034): the device description's node "
               "references form a cycle"},
    StatusText{0x8001,
               "device status NOT_IMPLEMENTED (0x8001): the camera does not implement "
               "the command"},
    StatusText{0x8002,
               "GEV_STATUS_NOT_IMPLEMENTED (0x8002): not implemented, or a value the "
               "camera refused (device status INVALID_PARAMETER)"},
    StatusText{0x8003, "GEV_STATUS_INVALID_ADDRESS (0x8003): the address does not exist"},
    StatusText{0x8004, "device status WRITE_PROTECT (0x8004): the address is write-protected"},
    StatusText{0x8005,
               "device status BAD_ALIGNMENT (0x8005): the address or size is not "
               "aligned"},
    StatusText{0x8006,
               "GEV_STATUS_ACCESS_DENIED (0x8006): access denied (another application "
               "holds control, or the link was lost)"},
    StatusText{0x8007, "device status BUSY (0x8007): the camera is busy"},
    StatusText{0x800B,
               "device status PACKET_UNAVAILABLE (0x800B): the packet is no longer "
               "available for resend"},
    StatusText{0x800C, "device status DATA_OVERUN (0x800C): the camera's buffer overran"},
    StatusText{0x800D, "device status INVALID_HEADER (0x800D): the command header is not valid"},
    StatusText{0x800F,
               "device status PACKET_NOT_YET_AVAILABLE (0x800F): the packet is not yet "
               "available"},
    StatusText{0x8010,
               "device status PACKET_AND_PREV_REMOVED_FROM_MEMORY (0x8010): the packet "
               "and earlier ones were dropped from the camera's memory"},
    StatusText{0x8011,
               "device status PACKET_REMOVED_FROM_MEMORY (0x8011): the packet was "
               "dropped from the camera's memory"},
    StatusText{0x8012, "device status NO_REF_TIME (0x8012): the camera has no reference time"},
    StatusText{0x8013,
               "device status PACKET_TEMPORARILY_UNAVAILABLE (0x8013): the packet is "
               "temporarily unavailable"},
    StatusText{0x8014, "device status OVERFLOW (0x8014): the camera's queue overflowed"},
    StatusText{0x8015, "device status ACTION_LATE (0x8015): the action time has passed"},
    StatusText{0x8FFF, "device status ERROR (0x8FFF): the camera reported an unspecified error"},
};

// Texts of unknown codes, made on first use and kept for the life of the process, so that every
// returned text stays valid (at most one per code).
const char* unknownText(GevStatus status) {
    static std::mutex mutex;
    static std::map<GevStatus, std::string> texts;
    std::lock_guard lock(mutex);
    auto [it, added] = texts.try_emplace(status);
    if (added) {
        char text[64];
        std::snprintf(text, sizeof text, "unknown %sstatus (0x%04X)",
                      (status & 0x8000) != 0 ? "device " : "", status);
        it->second = text;
    }
    return it->second.c_str();
}

}  // namespace

extern "C" KAVRO_API const char* GEVStatusText(GevStatus status) {
    for (const StatusText& entry : kTexts) {
        if (entry.code == status)
            return entry.text;
    }
    try {
        return unknownText(status);
    } catch (...) {  // no memory for the text: still a text, without the code
        return "unknown status";
    }
}
