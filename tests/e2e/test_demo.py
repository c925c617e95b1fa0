"""The README's main job, in its shorter form: publish, serve, update an
out-of-date install under Wine with the window up, start the game."""
import os
import subprocess
import sys

from conftest import ROOT
from publish_helpers import publisher_path


def test_demo_small():
    env = dict(os.environ, TVL_PUBLISH=str(publisher_path()))
    r = subprocess.run([sys.executable, str(ROOT / "scripts" / "demo.py"), "--small"], capture_output=True,
                       text=True, timeout=600, env=env)
    assert r.returncode == 0, r.stdout + r.stderr
    lines = r.stdout.splitlines()
    assert lines[-1].startswith("PASS")
    assert any("screenshot with the bar" in line for line in lines)
    assert any("signed release accepted: " in line and "accepted: none" not in line for line in lines)
    assert (ROOT / "build" / "demo" / "window-mid-update.png").is_file()
