"""The simulator program on a pseudo-terminal, for the module's tests."""
import os
import subprocess

import pytest


class Sim:
    def __init__(self, *options):
        program = os.environ.get("VARNEL_TARGET_SIM", "varnel-target-sim")
        self.process = subprocess.Popen([program, *options], stdout=subprocess.PIPE, text=True)
        self.path = self.process.stdout.readline().strip()
        assert self.path.startswith("/"), self.path

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture
def sim():
    """Starts simulators with the options given; all stop after the test."""
    started = []

    def start(*options):
        s = Sim(*options)
        started.append(s)
        return s.path

    yield start
    for s in started:
        s.stop()
