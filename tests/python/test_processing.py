import json
import subprocess

import numpy as np
import pytest

import kestroimage as ki


# Literal readings of the library's documented rules, slow and plain.
def reference_background(a, hw, hh):
    h, w = a.shape
    top = np.iinfo(a.dtype).max
    out = np.empty_like(a)
    for y in range(h):
        for x in range(w):
            window = a[max(0, y - hh):min(y + hh, h - 1), max(0, x - hw):min(x + hw, w - 1)]
            out[y, x] = min(top, window.min()) if window.size else top
    return out


def reference_smooth(a, r):
    out = a.copy()
    h, w = a.shape
    if r < 1 or 2 * r >= w or 2 * r >= h:
        return out
    for y in range(r, h - r):
        for x in range(r, w - r):
            out[y, x] = int(a[y - r:y + r, x - r:x + r].astype(np.float64).sum() / (4 * r * r))
    return out


def reference_centre(a, box):
    left, top, right, bottom = box
    h, w = a.shape
    left, top, right, bottom = max(left, 0), max(top, 0), min(right, w - 1), min(bottom, h - 1)
    left, right = min(left, right), max(left, right)
    top, bottom = min(top, bottom), max(top, bottom)
    part = a[top:bottom, left:right].astype(np.float64)
    total = part.sum()
    if total == 0:
        return (left + right) // 2, (top + bottom) // 2
    ys, xs = np.mgrid[top:bottom, left:right]
    return int(np.floor((xs * part).sum() / total + 0.5)), int(np.floor((ys * part).sum() / total + 0.5))


@pytest.mark.parametrize("dtype, shape, hw, hh", [
    (np.uint8, (9, 13), 1, 1), (np.uint16, (20, 17), 3, 2), (np.uint16, (6, 40), 12, 1),
    (np.uint8, (1, 5), 2, 2), (np.uint16, (16, 16), 40, 40),
])
def test_background_is_the_documented_moving_minimum(dtype, shape, hw, hh, rng):
    a = rng.integers(0, np.iinfo(dtype).max, shape, endpoint=True).astype(dtype)
    got = ki.background(a, hw, hh)
    assert got.dtype == a.dtype
    np.testing.assert_array_equal(got, reference_background(a, hw, hh))


@pytest.mark.parametrize("dtype, shape, r", [
    (np.uint8, (9, 13), 1), (np.uint16, (20, 17), 3), (np.uint16, (6, 40), 3), (np.uint8, (8, 8), 0),
])
def test_smooth_is_the_documented_moving_average(dtype, shape, r, rng):
    a = rng.integers(0, np.iinfo(dtype).max, shape, endpoint=True).astype(dtype)
    np.testing.assert_array_equal(ki.smooth(a, r), reference_smooth(a, r))


@pytest.mark.parametrize("box", [(2, 3, 15, 11), (-5, -5, 40, 40), (15, 11, 2, 3), (4, 4, 4, 9)])
def test_centre_of_mass_is_the_documented_weighted_mean(box, rng):
    a = rng.integers(0, 4000, (18, 21)).astype(np.uint16)
    assert ki.centre_of_mass(a, box) == reference_centre(a, box)
    assert ki.centre_of_mass(np.zeros((18, 21), np.uint16), (2, 2, 9, 7)) == (5, 4)


def test_outline_of_a_disc_lies_on_its_rim():
    ys, xs = np.mgrid[0:61, 0:61]
    disc = np.where((xs - 30) ** 2 + (ys - 30) ** 2 <= 15 ** 2, 1000, 10).astype(np.uint16)
    rays = ki.outline(disc, (0, 0, 61, 61), (30, 30), 0.5)
    assert rays.shape == (360, 2) and rays.dtype == np.int32
    radius = np.hypot(rays[:, 0] - 30, rays[:, 1] - 30)
    assert radius.min() >= 14 and radius.max() <= 17
    columns = ki.outline(disc, (0, 0, 61, 61), (30, 30), 0.5, method="rows")
    assert len(columns) == 2 + 2 * (columns[:, 0].max() - columns[:, 0].min())
    with pytest.raises(ValueError, match="rays"):
        ki.outline(disc, (0, 0, 61, 61), (30, 30), method="spiral")


def test_operations_take_images_and_upside_down_views(rng):
    a = rng.integers(0, 65535, (30, 40)).astype(np.uint16)
    image = ki.Image.from_array(a)
    np.testing.assert_array_equal(ki.background(image, 4, 2), ki.background(a, 4, 2))
    np.testing.assert_array_equal(ki.smooth(a[::-1], 2), ki.smooth(np.ascontiguousarray(a[::-1]), 2))
    for bad in (a.astype(np.float32), np.zeros((4, 4, 3), np.uint8)):
        with pytest.raises(ValueError):
            ki.background(bad, 2, 2)
    with pytest.raises(ValueError, match="at least 1"):
        ki.background(a, 0, 2)


@pytest.mark.parametrize("method", ["rays", "rows"])
def test_centre_and_outline_equal_kestro_spot(method, tool, synthetic):
    image = ki.load(synthetic[0])
    for rect in ([30, 40, 90, 80], [100, 60, 160, 130], [5, 5, 300, 220]):
        run = subprocess.run([tool, "spot", str(synthetic[0]), "--rect", *map(str, rect), "--points", "--json",
                              "--no-invert", "--method", method], capture_output=True, text=True, check=True)
        spot = json.loads(run.stdout)["spots"][0]
        centre = ki.centre_of_mass(image, tuple(rect))
        assert list(centre) == spot["centre"]
        assert ki.outline(image, tuple(rect), centre, 0.5, method).tolist() == spot["points"]


def test_background_equals_the_kestro_command(tool, synthetic, tmp_path):
    out = tmp_path / "bg.tif"
    subprocess.run([tool, "background", str(synthetic[0]), "-o", str(out), "--half", "20", "3"],
                   check=True, capture_output=True)
    np.testing.assert_array_equal(ki.background(ki.load(synthetic[0]), 20, 3), ki.load(out).array())
