"""Loading the shared library and the C declarations the package uses."""
import ctypes
import ctypes.util
import os

SONAME = "libKavroGigEVisionLib.so.0"
ENVIRONMENT_VARIABLE = "KAVRO_GIGEVISION_LIBRARY"

GevStatus = ctypes.c_uint16
STATUS_SUCCESS = 0x0000
STATUS_IMAGE_INCOMPLETE = 0xC010
STATUS_FEATURE_NOT_FOUND = 0xC01D


class KavroError(Exception):
    """A call of the library failed; `status` is its status code, the message its text."""

    def __init__(self, what, status):
        self.status = status
        self.what = what
        super().__init__(f"{what}: {status_text(status)}")


def _candidates():
    named = os.environ.get(ENVIRONMENT_VARIABLE)
    if named:
        return [named]
    found = ctypes.util.find_library("KavroGigEVisionLib")
    names = [SONAME]
    if found:
        names.append(found)
    names += [os.path.join(prefix, "lib", SONAME) for prefix in ("/usr/local", "/usr")]
    return names


def _load():
    errors = []
    for name in _candidates():
        try:
            return ctypes.CDLL(name)
        except OSError as error:
            errors.append(str(error))
    raise ImportError(
        "KavroGigEVisionLib not found; install it or name it in "
        f"{ENVIRONMENT_VARIABLE} ({'; '.join(errors)})")


lib = _load()


class ConnectInfo(ctypes.Structure):
    _fields_ = [("deviceAddress", ctypes.c_uint32), ("streamPort", ctypes.c_uint16),
                ("controlPort", ctypes.c_uint16), ("hostAddress", ctypes.c_uint32),
                ("subnetMask", ctypes.c_uint32), ("adapterName", ctypes.c_char * 260)]


class EventInfo(ctypes.Structure):
    _fields_ = [("eventId", ctypes.c_uint16), ("streamChannel", ctypes.c_uint16),
                ("blockId", ctypes.c_uint64), ("timestamp", ctypes.c_uint64),
                ("data", ctypes.POINTER(ctypes.c_uint8)), ("dataLength", ctypes.c_uint16)]


class DeviceInfoStruct(ctypes.Structure):
    _fields_ = [("deviceAddress", ctypes.c_uint32), ("manufacturerName", ctypes.c_char * 32),
                ("modelName", ctypes.c_char * 32), ("deviceVersion", ctypes.c_char * 32),
                ("adapterAddress", ctypes.c_uint32), ("adapterMask", ctypes.c_uint32),
                ("macAddress", ctypes.c_uint8 * 6), ("subnetMask", ctypes.c_uint32),
                ("defaultGateway", ctypes.c_uint32), ("adapterName", ctypes.c_char * 260),
                ("serialNumber", ctypes.c_char * 16), ("userDefinedName", ctypes.c_char * 16),
                ("status", ctypes.c_uint8)]


MAX_DISCOVERED = 20


class DeviceList(ctypes.Structure):
    _fields_ = [("count", ctypes.c_uint8), ("devices", DeviceInfoStruct * MAX_DISCOVERED)]


class ImageHeader(ctypes.Structure):
    _fields_ = [("blockId", ctypes.c_uint64), ("timestamp", ctypes.c_uint64),
                ("pixelFormat", ctypes.c_uint32), ("sizeX", ctypes.c_uint32),
                ("sizeY", ctypes.c_uint32), ("offsetX", ctypes.c_uint32),
                ("offsetY", ctypes.c_uint32), ("paddingX", ctypes.c_uint16),
                ("paddingY", ctypes.c_uint16), ("missingPackets", ctypes.c_uint32),
                ("payloadType", ctypes.c_uint16), ("reserved", ctypes.c_uint16),
                ("chunkLength", ctypes.c_uint32), ("chunkLayoutId", ctypes.c_uint32)]


class FeatureParameter(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_uint8), ("reserved0", ctypes.c_uint8 * 7),
                ("min", ctypes.c_int64), ("max", ctypes.c_int64), ("onValue", ctypes.c_uint32),
                ("offValue", ctypes.c_uint32), ("accessMode", ctypes.c_uint16),
                ("representation", ctypes.c_uint16), ("inc", ctypes.c_uint32),
                ("commandValue", ctypes.c_uint32), ("length", ctypes.c_uint32),
                ("enumEntries", ctypes.c_uint8), ("visibility", ctypes.c_uint8),
                ("reserved1", ctypes.c_uint8 * 6), ("floatMin", ctypes.c_double),
                ("floatMax", ctypes.c_double), ("floatInc", ctypes.c_double),
                ("implemented", ctypes.c_uint8), ("available", ctypes.c_uint8),
                ("locked", ctypes.c_uint8), ("sign", ctypes.c_uint8),
                ("address", ctypes.c_uint32), ("displayNotation", ctypes.c_uint8),
                ("displayPrecision", ctypes.c_uint8), ("invalidators", ctypes.c_uint8),
                ("reserved2", ctypes.c_uint8 * 5), ("pollingTime", ctypes.c_uint64)]


class FeatureEntry(ctypes.Structure):
    pass


FeatureEntry._fields_ = [("next", ctypes.POINTER(FeatureEntry)), ("index", ctypes.c_uint32),
                         ("reserved0", ctypes.c_uint32), ("name", ctypes.c_char_p),
                         ("isLeaf", ctypes.c_uint8), ("level", ctypes.c_uint8),
                         ("reserved1", ctypes.c_uint8 * 6)]

assert ctypes.sizeof(FeatureParameter) == 104 and ctypes.sizeof(FeatureEntry) == 32
assert ctypes.sizeof(ImageHeader) == 56

LogCallback = ctypes.CFUNCTYPE(None, ctypes.c_uint8, ctypes.c_char_p)
MessageCallback = ctypes.CFUNCTYPE(None, ctypes.c_uint8, ctypes.POINTER(EventInfo))

FEATURE_INTEGER = 2
FEATURE_FLOAT = 3
FEATURE_STRING = 4
FEATURE_ENUMERATION = 5
FEATURE_COMMAND = 6
FEATURE_BOOLEAN = 7

_u8, _u16, _u32, _u64 = ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_uint64
_p = ctypes.POINTER
_signatures = {
    "GEVStatusText": ([GevStatus], ctypes.c_char_p),
    "GEVDiscovery": ([_p(DeviceList), ctypes.c_void_p, _u32, _u32], GevStatus),
    "GEVInit": ([_u8, _p(ConnectInfo), LogCallback, _u8, _u8], GevStatus),
    "GEVClose": ([_u8], GevStatus),
    "GEVInitXml": ([_u8], GevStatus),
    "GEVGetXmlSize": ([_u8, _p(_u32)], GevStatus),
    "GEVGetXmlFile": ([_u8, _p(ctypes.c_void_p)], GevStatus),
    "GEVGetFeatureList": ([_u8, _p(_p(FeatureEntry)), _p(_u8)], GevStatus),
    "GEVGetFeatureParameter": ([_u8, ctypes.c_char_p, _p(FeatureParameter)], GevStatus),
    "GEVGetFeatureInteger": ([_u8, ctypes.c_char_p, _p(_u64)], GevStatus),
    "GEVSetFeatureInteger": ([_u8, ctypes.c_char_p, ctypes.c_int64], GevStatus),
    "GEVGetFeatureFloat": ([_u8, ctypes.c_char_p, _p(ctypes.c_double)], GevStatus),
    "GEVSetFeatureFloat": ([_u8, ctypes.c_char_p, ctypes.c_double], GevStatus),
    "GEVGetFeatureBoolean": ([_u8, ctypes.c_char_p, _p(_u32)], GevStatus),
    "GEVSetFeatureBoolean": ([_u8, ctypes.c_char_p, _u32], GevStatus),
    "GEVSetFeatureCommand": ([_u8, ctypes.c_char_p, _u32], GevStatus),
    "GEVGetFeatureEnumeration": ([_u8, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32],
                                 GevStatus),
    "GEVSetFeatureEnumeration": ([_u8, ctypes.c_char_p, ctypes.c_char_p], GevStatus),
    "GEVGetFeatureString": ([_u8, ctypes.c_char_p, ctypes.c_char_p], GevStatus),
    "GEVSetFeatureString": ([_u8, ctypes.c_char_p, ctypes.c_char_p], GevStatus),
    "GEVReadRegister": ([_u8, _u32, _u8, _p(_u32)], GevStatus),
    "GEVWriteRegister": ([_u8, _u32, _u8, _p(_u32)], GevStatus),
    "GEVSetMessageChannelCallback": ([_u8, MessageCallback], GevStatus),
    "GEVOpenStreamChannel": ([_u8, _u32, _u16, _u32], GevStatus),
    "GEVCloseStreamChannel": ([_u8], GevStatus),
    "GEVAcquisitionStart": ([_u8, _u32], GevStatus),
    "GEVAcquisitionStop": ([_u8], GevStatus),
    "GEVGetImageBuffer": ([_u8, _p(ImageHeader), ctypes.c_void_p], GevStatus),
    "GEVSetPacketResend": ([_u8, ctypes.c_int8], GevStatus),
}
for _name, (_arguments, _result) in _signatures.items():
    _function = getattr(lib, _name)
    _function.argtypes = _arguments
    _function.restype = _result


def status_text(status):
    """The name and meaning of a library status, e.g. "GEV_STATUS_TIMEOUT (0xC008): ..."."""
    return lib.GEVStatusText(status).decode("utf-8", "replace")


def check(what, status):
    """Raises KavroError for a status other than success."""
    if status != STATUS_SUCCESS:
        raise KavroError(what, status)
