"""The object layer: discovery, a camera with its features, images and events."""
import ctypes
import ipaddress
import socket
import struct
import threading
from dataclasses import dataclass

from . import _library as c
from ._library import KavroError, check

try:
    import numpy
except ImportError:  # images come as bytes then
    numpy = None

DISCOVERY_STATUS = {
    0: "available",
    1: "unreachable or held exclusively",
    2: "other subnet (needs Force IP)",
    3: "controlled by another application",
}

PIXEL_FORMATS = {  # code: (bytes per sample, samples per pixel)
    0x01080001: (1, 1),  # Mono8
    0x01100003: (2, 1),  # Mono10
    0x01100005: (2, 1),  # Mono12
    0x01100007: (2, 1),  # Mono16
    0x01080008: (1, 1),  # BayerGR8 (raw)
    0x01080009: (1, 1),  # BayerRG8
    0x0108000A: (1, 1),  # BayerGB8
    0x0108000B: (1, 1),  # BayerBG8
    0x02180014: (1, 3),  # RGB8
    0x02180015: (1, 3),  # BGR8
}

MAX_DEVICES = 20


def _text(field):
    return bytes(field).split(b"\0", 1)[0].decode("utf-8", "replace")


def _ipv4(network_order):
    return socket.inet_ntoa(struct.pack("=I", network_order))


@dataclass(frozen=True)
class DeviceInfo:
    """One camera that answered a discovery."""
    address: str
    mac: str
    manufacturer: str
    model: str
    version: str
    serial: str
    user_name: str
    adapter: str
    adapter_address: str
    adapter_mask: str
    status: int

    @property
    def status_text(self):
        return DISCOVERY_STATUS.get(self.status, "unknown")


@dataclass(frozen=True)
class Event:
    """A camera event as the message channel delivered it."""
    device: int
    event_id: int
    stream_channel: int
    block_id: int
    timestamp: int
    data: bytes


def discover(timeout_ms=1000, all_subnets=False):
    """The cameras that answer a broadcast on any IPv4 adapter, sorted by address."""
    found = c.DeviceList()
    check("discovery", c.lib.GEVDiscovery(ctypes.byref(found), None, timeout_ms,
                                          1 if all_subnets else 0))
    result = []
    for d in found.devices[:min(found.count, c.MAX_DISCOVERED)]:
        result.append(DeviceInfo(
            address=_ipv4(d.deviceAddress), mac=":".join(f"{b:02X}" for b in d.macAddress),
            manufacturer=_text(d.manufacturerName), model=_text(d.modelName),
            version=_text(d.deviceVersion), serial=_text(d.serialNumber),
            user_name=_text(d.userDefinedName), adapter=_text(d.adapterName),
            adapter_address=_ipv4(d.adapterAddress), adapter_mask=_ipv4(d.adapterMask),
            status=d.status))
    return result


class _Indexes:
    """Device indexes 1..20 handed out to open cameras."""
    lock = threading.Lock()
    used = set()

    @classmethod
    def take(cls):
        with cls.lock:
            for index in range(1, MAX_DEVICES + 1):
                if index not in cls.used:
                    cls.used.add(index)
                    return index
        raise KavroError("open", 0xC002)

    @classmethod
    def give_back(cls, index):
        with cls.lock:
            cls.used.discard(index)


def _adapter_for(address):
    """(host address, mask, name) of the local adapter on the subnet of `address`, from the
    kernel's interface list; loopback for 127/8."""
    camera = ipaddress.IPv4Address(address)
    if camera.is_loopback:
        return "127.0.0.1", "255.0.0.0", "lo"
    import fcntl  # Linux only, like the library
    for _, name in socket.if_nameindex():
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            request = struct.pack("256s", name.encode()[:15])
            try:
                host = socket.inet_ntoa(fcntl.ioctl(s.fileno(), 0x8915, request)[20:24])
                mask = socket.inet_ntoa(fcntl.ioctl(s.fileno(), 0x891B, request)[20:24])
            except OSError:
                continue
        network = ipaddress.IPv4Network(f"{host}/{mask}", strict=False)
        if camera in network:
            return host, mask, name
    raise KavroError(f"no adapter of this host is on the subnet of {address}", 0xC018)


class Camera:
    """An open camera. Use as a context manager, or call close().

    Camera("198.18.1.20") opens by address; Camera(device_info) opens a discovered camera.
    control=True takes exclusive control (kept by the library's heartbeat); False only reads.
    Features are read and written as cam["Name"], by the feature's kind."""

    def __init__(self, camera, control=True, log=None):
        if isinstance(camera, DeviceInfo):
            address, host, mask, adapter = (camera.address, camera.adapter_address,
                                            camera.adapter_mask, camera.adapter)
        else:
            address = str(camera)
            host, mask, adapter = _adapter_for(address)
        info = c.ConnectInfo()
        info.deviceAddress = struct.unpack("=I", socket.inet_aton(address))[0]
        info.hostAddress = struct.unpack("=I", socket.inet_aton(host))[0]
        info.subnetMask = struct.unpack("=I", socket.inet_aton(mask))[0]
        info.adapterName = adapter.encode()
        self.address = address
        self._log = log
        self._log_callback = c.LogCallback(self._on_log)
        self._event_callbacks = []  # every callback given stays alive while the camera is open
        self._described = False
        self.device = _Indexes.take()
        try:
            check(f"open {address}", c.lib.GEVInit(self.device, ctypes.byref(info),
                                                   self._log_callback, 0, 1 if control else 0))
        except KavroError:
            _Indexes.give_back(self.device)
            self.device = None
            raise

    def _on_log(self, _device, line):
        if self._log is not None:
            self._log(line.decode("utf-8", "replace"))

    def close(self):
        """Releases the camera; closing twice does nothing."""
        if self.device is None:
            return
        device, self.device = self.device, None
        status = c.lib.GEVClose(device)
        _Indexes.give_back(device)
        check("close", status)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def _index(self):
        if self.device is None:
            raise KavroError("camera", 0xC001)
        return self.device

    # ---- features ----

    def load_description(self):
        """Reads the camera's device description and builds its features (done on first use)."""
        check("device description", c.lib.GEVInitXml(self._index()))
        self._described = True

    def _parameter(self, name):
        if not self._described:
            self.load_description()
        parameter = c.FeatureParameter()
        status = c.lib.GEVGetFeatureParameter(self._index(), name.encode(),
                                              ctypes.byref(parameter))
        if status == c.STATUS_FEATURE_NOT_FOUND:
            raise KeyError(name)
        check(name, status)
        return parameter

    def features(self):
        """Names of the features (leaves of the feature tree), in tree order."""
        if not self._described:
            self.load_description()
        head = ctypes.POINTER(c.FeatureEntry)()
        depth = ctypes.c_uint8()
        check("feature list", c.lib.GEVGetFeatureList(self._index(), ctypes.byref(head),
                                                      ctypes.byref(depth)))
        names = []
        while head:
            entry = head.contents
            if entry.isLeaf:
                names.append(entry.name.decode())
            head = entry.next
        return names

    def __getitem__(self, name):
        p = self._parameter(name)
        d, n = self._index(), name.encode()
        if p.kind == c.FEATURE_INTEGER:
            value = ctypes.c_uint64()
            check(name, c.lib.GEVGetFeatureInteger(d, n, ctypes.byref(value)))
            return ctypes.c_int64(value.value).value if p.sign else value.value
        if p.kind == c.FEATURE_FLOAT:
            value = ctypes.c_double()
            check(name, c.lib.GEVGetFeatureFloat(d, n, ctypes.byref(value)))
            return value.value
        if p.kind == c.FEATURE_BOOLEAN:
            value = ctypes.c_uint32()
            check(name, c.lib.GEVGetFeatureBoolean(d, n, ctypes.byref(value)))
            return value.value == p.onValue
        if p.kind == c.FEATURE_ENUMERATION:
            buffer = ctypes.create_string_buffer(257)
            check(name, c.lib.GEVGetFeatureEnumeration(d, n, buffer, 256))
            return buffer.value.decode()
        if p.kind == c.FEATURE_STRING:
            buffer = ctypes.create_string_buffer(max(p.length, 4096) + 1)
            check(name, c.lib.GEVGetFeatureString(d, n, buffer))
            return buffer.value.decode("utf-8", "replace")
        raise TypeError(f"{name} has no value to read (kind {p.kind})")

    def __setitem__(self, name, value):
        p = self._parameter(name)
        d, n = self._index(), name.encode()
        if p.kind == c.FEATURE_INTEGER:
            check(name, c.lib.GEVSetFeatureInteger(d, n, int(value)))
        elif p.kind == c.FEATURE_FLOAT:
            check(name, c.lib.GEVSetFeatureFloat(d, n, float(value)))
        elif p.kind == c.FEATURE_BOOLEAN:
            check(name, c.lib.GEVSetFeatureBoolean(d, n, p.onValue if value else p.offValue))
        elif p.kind == c.FEATURE_ENUMERATION:
            check(name, c.lib.GEVSetFeatureEnumeration(d, n, str(value).encode()))
        elif p.kind == c.FEATURE_STRING:
            check(name, c.lib.GEVSetFeatureString(d, n, str(value).encode()))
        else:
            raise TypeError(f"{name} can't be set to a value (kind {p.kind})")

    def execute(self, name):
        """Runs a command feature."""
        p = self._parameter(name)
        check(name, c.lib.GEVSetFeatureCommand(self._index(), name.encode(), p.commandValue))

    def xml(self):
        """The camera's device description, unzipped."""
        size = ctypes.c_uint32()
        check("description size", c.lib.GEVGetXmlSize(self._index(), ctypes.byref(size)))
        buffer = ctypes.create_string_buffer(size.value)
        pointer = ctypes.c_void_p(ctypes.addressof(buffer))
        check("description", c.lib.GEVGetXmlFile(self._index(), ctypes.byref(pointer)))
        return buffer.raw.decode("utf-8", "replace")

    # ---- registers ----

    def read_registers(self, address, count=1):
        values = (ctypes.c_uint32 * count)()
        check(f"read 0x{address:08X}", c.lib.GEVReadRegister(self._index(), address, count,
                                                             values))
        return list(values)

    def write_registers(self, address, values):
        array = (ctypes.c_uint32 * len(values))(*values)
        check(f"write 0x{address:08X}", c.lib.GEVWriteRegister(self._index(), address,
                                                               len(values), array))

    # ---- images ----

    def grab(self, count=1):
        """Grabs `count` images with the acquisition the device description drives. Each is a
        numpy array (height, width) or (height, width, 3), or bytes when numpy is missing or
        the pixel format is not one listed in PIXEL_FORMATS. The headers of the images are in
        self.last_headers."""
        payload = self["PayloadSize"]
        d = self._index()
        buffer = ctypes.create_string_buffer(payload)
        check("stream channel", c.lib.GEVOpenStreamChannel(d, 0, 0, 0))
        c.lib.GEVSetPacketResend(d, 1)  # cameras without resend refuse; that is fine
        images, headers = [], []
        try:
            check("acquisition start", c.lib.GEVAcquisitionStart(d, count))
            for _ in range(count):
                header = c.ImageHeader()
                status = c.lib.GEVGetImageBuffer(d, ctypes.byref(header), buffer)
                if status not in (c.STATUS_SUCCESS, c.STATUS_IMAGE_INCOMPLETE):
                    raise KavroError("image", status)
                headers.append(header)
                images.append(_image(header, buffer))
        finally:
            c.lib.GEVAcquisitionStop(d)
            c.lib.GEVCloseStreamChannel(d)
        self.last_headers = headers
        return images

    # ---- events ----

    def on_event(self, callback):
        """Calls callback(Event) for each event of the camera, on the library's message-channel
        thread; None switches events off."""
        if callback is None:
            check("events off", c.lib.GEVSetMessageChannelCallback(self._index(),
                                                                   c.MessageCallback()))
            return

        def deliver(device, info):
            e = info.contents
            data = ctypes.string_at(e.data, e.dataLength) if e.data and e.dataLength else b""
            callback(Event(device, e.eventId, e.streamChannel, e.blockId, e.timestamp, data))

        function = c.MessageCallback(deliver)
        self._event_callbacks.append(function)  # a late call may still reach an older one
        check("events", c.lib.GEVSetMessageChannelCallback(self._index(), function))


def _image(header, buffer):
    shape = PIXEL_FORMATS.get(header.pixelFormat)
    if shape is None or header.sizeX > 65535 or header.sizeY > 65535:
        return bytes(buffer)
    sample_bytes, samples = shape
    length = header.sizeX * header.sizeY * sample_bytes * samples
    data = ctypes.string_at(buffer, length)
    if numpy is None:
        return data
    dtype = numpy.uint8 if sample_bytes == 1 else numpy.dtype("<u2")
    array = numpy.frombuffer(data, dtype=dtype)
    if samples == 1:
        return array.reshape(header.sizeY, header.sizeX)
    return array.reshape(header.sizeY, header.sizeX, samples)
