"""The Python layer against simulated cameras on loopback."""
import threading

import pytest

import kavro
from kavro import camera as camera_module


def test_failure_raises_with_status_text():
    # Nothing answers on this address: the open gives up.
    with pytest.raises(kavro.KavroError) as raised:
        kavro.Camera("127.255.255.254")
    assert raised.value.status == 0xC02B
    assert "GEV_STATUS_DEVICE_IN_USE (0xC02B): the camera did not answer" in str(raised.value)


def test_features_by_name(cameras):
    with kavro.Camera(cameras[0]) as cam:
        cam["Width"] = 320
        cam["PixelFormat"] = "Mono8"
        cam["Gain"] = 6.0
        assert (cam["Width"], cam["PixelFormat"]) == (320, "Mono8")
        assert cam["Gain"] == pytest.approx(6.0)
        assert cam["DeviceModelName"]
        assert "Width" in cam.features()
        with pytest.raises(KeyError):
            cam["NoSuchFeature"]
        with pytest.raises(kavro.KavroError) as raised:
            cam["PixelFormat"] = "NoSuchEntry"
        assert "0xC01F" in str(raised.value)
        assert "<RegisterDescription" in cam.xml()


def test_grab_gives_arrays_or_bytes(cameras, monkeypatch):
    with kavro.Camera(cameras[1]) as cam:
        cam["Width"], cam["Height"], cam["PixelFormat"] = 160, 120, "Mono8"
        images = cam.grab(3)
        assert [image.shape for image in images] == [(120, 160)] * 3
        assert images[0].dtype.name == "uint8"
        assert len({header.blockId for header in cam.last_headers}) == 3
        monkeypatch.setattr(camera_module, "numpy", None)
        (raw,) = cam.grab(1)
        assert isinstance(raw, bytes) and len(raw) == 160 * 120


def test_events_reach_the_callback(cameras):
    arrived = []
    two = threading.Event()

    def on_event(event):
        arrived.append(event)
        if len(arrived) >= 2:
            two.set()

    with kavro.Camera(cameras[0]) as cam:
        cam.on_event(on_event)
        assert two.wait(10), "no events within 10 s"
        cam.on_event(None)
    assert arrived[0].event_id == 0x9000 and len(arrived[0].data) == 4
