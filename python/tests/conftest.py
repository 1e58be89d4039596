"""Simulated cameras for the tests: gevcamsim on a loopback address of its own."""
import os
import random
import shutil
import subprocess

import pytest


def _simulator():
    path = os.environ.get("KAVRO_GEVCAMSIM") or shutil.which("gevcamsim")
    if not path:
        pytest.skip("gevcamsim not found: set KAVRO_GEVCAMSIM or put it on PATH")
    return path


@pytest.fixture(scope="session")
def cameras():
    """Addresses of two simulated cameras that send an event every 100 ms."""
    simulator = _simulator()
    for _ in range(10):
        first = f"127.{random.randint(20, 250)}.{random.randint(1, 250)}.2"
        process = subprocess.Popen(
            [simulator, "--address", first, "--count", "2", "--event-interval", "100"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        lines = [process.stdout.readline(), process.stdout.readline()]
        if all(lines):
            yield [line.split()[0] for line in lines]
            process.terminate()
            process.wait(timeout=10)
            return
        process.wait(timeout=10)  # the address was taken: try another
    pytest.fail("gevcamsim could not be started")
