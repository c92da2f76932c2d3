"""The cross-architecture differential: same inputs give the same bits, and a changed bit shows."""

import os
import subprocess
import sys

import pytest

import _accel

from support import TIMEOUT_FACTOR

pytestmark = pytest.mark.source_tree

TOOL = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools",
                    "differential.py")


def differential(*args):
    # Faults write reports to standard error: each run is a child process.
    return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True,
                          timeout=120 * TIMEOUT_FACTOR)


def test_same_module_matches_and_a_flipped_bit_is_found(tmp_path):
    a, b = tmp_path / "a.bin", tmp_path / "b.bin"
    for path in (a, b):
        assert differential("dump", "--seed", "7", "--count", "500", str(path)).returncode == 0
    same = differential("compare", str(a), str(b))
    assert same.returncode == 0 and "0 differing results in all" in same.stdout
    assert same.stdout.count(": 500 inputs, 0 differing") == len(_accel.__all__)
    data = bytearray(b.read_bytes())
    data[-1] ^= 1  # the last result of the last function
    b.write_bytes(bytes(data))
    changed = differential("compare", str(a), str(b))
    assert changed.returncode == 1
    assert "sort_two_ints: 500 inputs, 1 differing (first at input 499)" in changed.stdout
