"""The framebuffer compositions the unit test compares with were drawn by Pillow
from the script's cases; the header must be what the script makes now."""
import os
import subprocess
import sys

UNIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "unit")


def test_generated_table_is_current():
    result = subprocess.run([sys.executable, os.path.join(UNIT, "test_fbcompose_cases.py"), "--check"], cwd=UNIT)
    assert result.returncode == 0, "rerun tests/unit/test_fbcompose_cases.py"
