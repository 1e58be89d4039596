"""GigE Vision cameras over the KavroGigEVisionLib C interface.

discover() lists the cameras that answer a broadcast; Camera opens one (a context manager) with
its features as cam["Name"], images from grab() as numpy arrays (bytes without numpy) and
events through on_event(). Failures raise KavroError carrying the status and its text.
"""
from ._library import KavroError, status_text
from .camera import Camera, DeviceInfo, Event, discover

__all__ = ["Camera", "DeviceInfo", "Event", "KavroError", "discover", "status_text"]
