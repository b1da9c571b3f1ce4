import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

SHARED = Path(os.environ.get("KESTRO_SHARED_DIR", Path(__file__).resolve().parents[3] / "shared"))
GELS = SHARED / "gels"
IMAGE_SUFFIXES = {".tif", ".tiff", ".png", ".jpg", ".jpeg", ".gif", ".bmp", ".pgm"}


@pytest.fixture(scope="session")
def tool():
    path = os.environ.get("KESTRO_TOOL")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("the kestro command is not built (KESTRO_TOOL)")
    return path


def real_gels():
    """The real scans beside the project, or one skipped parameter without them."""
    if not GELS.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"no real gels in {GELS}"))]
    return sorted(p for p in GELS.iterdir() if p.is_file() and p.suffix.lower() in IMAGE_SUFFIXES)


@pytest.fixture(scope="session")
def synthetic(tool, tmp_path_factory):
    """A few small synthetic 16-bit gels written by kestro synth, in a folder of their own."""
    folder = tmp_path_factory.mktemp("synthetic")
    for seed in (1, 2, 3):
        subprocess.run([tool, "synth", str(folder / f"gel{seed}.tif"), "--width", "320", "--height", "240",
                        "--lanes", str(3 + seed), "--bands", "4", "--seed", str(seed)],
                       check=True, capture_output=True)
        (folder / f"gel{seed}.truth.json").unlink()
    return sorted(folder.glob("*.tif"))


@pytest.fixture
def rng():
    return np.random.default_rng(7)
