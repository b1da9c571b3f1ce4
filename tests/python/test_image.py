import gc
import threading

import numpy as np
import pytest

import kestroimage as ki
from conftest import real_gels

SAMPLES = {
    "uint8": (np.uint8, "8-bit grayscale", 8),
    "uint16": (np.uint16, "16-bit grayscale", 16),
    "float32": (np.float32, "32-bit float grayscale", 32),
}


def sample_array(kind, rng, shape=(37, 53)):
    dtype = SAMPLES[kind][0] if kind != "rgb" else np.uint8
    if kind == "rgb":
        shape = shape + (3,)
    if kind == "float32":
        return rng.standard_normal(shape).astype(np.float32)
    return rng.integers(0, np.iinfo(dtype).max, shape, endpoint=True).astype(dtype)


@pytest.mark.parametrize("kind", ["uint8", "uint16", "float32", "rgb"])
def test_round_trip_through_image_and_file(kind, rng, tmp_path):
    a = sample_array(kind, rng)
    image = ki.Image.from_array(a)
    assert (image.width, image.height) == (53, 37)
    assert image.type == (SAMPLES[kind][1] if kind != "rgb" else "8-bit RGB")
    assert image.bits == (SAMPLES[kind][2] if kind != "rgb" else 24)
    back = image.array()
    assert back.dtype == a.dtype and back.shape == a.shape
    np.testing.assert_array_equal(back, a)
    # Rows run upwards in the bitmap: a view, not a copy, for every kind given here.
    assert np.shares_memory(back, image.array())
    image.save(tmp_path / "a.tif")
    np.testing.assert_array_equal(ki.load(tmp_path / "a.tif").array(), a)


def test_upside_down_and_row_padded_arrays_are_read_as_they_look(rng):
    a = sample_array("uint16", rng)
    for view in (a[::-1], a[2:30, 5:40]):
        np.testing.assert_array_equal(ki.Image.from_array(view).array(), view)
    colour = ki.Image.from_array(sample_array("rgb", rng)).array()  # blue, green, red in memory
    np.testing.assert_array_equal(ki.Image.from_array(colour).array(), colour)


def test_view_writes_through_and_keeps_the_image_alive(rng, tmp_path):
    a = sample_array("uint8", rng)
    view = ki.Image.from_array(a).array()
    gc.collect()  # the image is referenced only by the view now
    view[0, 0] = 255 - view[0, 0]
    assert view[0, 0] == 255 - a[0, 0]
    assert view.base is not None


def test_history_is_read_appended_and_replaced():
    image = ki.Image.from_array(np.zeros((4, 4), np.uint8))
    assert image.history == ""
    image.add_history("Crop")
    image.add_history("Flip Vertically")
    assert image.history == "{Crop}{Flip Vertically}"
    image.history = "{a}"
    assert image.history == "{a}"


@pytest.mark.parametrize("array, words", [
    (np.zeros((4, 4), np.int32), "uint8, uint16, float32"),
    (np.zeros((4, 4), np.float64), "float64"),
    (np.zeros((4, 4), bool), "bool"),
    (np.zeros((4, 4, 4), np.uint8), "4 samples a pixel"),
    (np.zeros((4, 4, 3), np.uint16), "3-D"),
    (np.zeros(16, np.uint8), "1 dimensions"),
    (np.zeros((4, 8), np.uint8)[:, ::2], "side by side"),
    (np.zeros((0, 4), np.uint8), "empty"),
    (np.zeros((4, 4), ">u2"), "byte order"),
])
def test_bad_arrays_raise_value_error(array, words):
    with pytest.raises(ValueError, match=words):
        ki.Image.from_array(array)


def test_what_is_not_an_array_raises_type_error():
    with pytest.raises(TypeError):
        ki.Image.from_array([[1, 2], [3, 4]])


def test_bad_files_raise_os_errors(tmp_path):
    with pytest.raises(FileNotFoundError) as missing:
        ki.load(tmp_path / "missing.tif")
    assert missing.value.filename == str(tmp_path / "missing.tif")
    with pytest.raises(IsADirectoryError):
        ki.load(tmp_path)
    junk = tmp_path / "junk.tif"
    junk.write_bytes(b"not an image at all")
    with pytest.raises(OSError, match="not an image that can be read"):
        ki.load(junk)
    image = ki.Image.from_array(np.zeros((8, 8), np.float32))
    with pytest.raises(ValueError, match="cannot hold"):
        image.save(tmp_path / "a.gif")
    with pytest.raises(OSError):
        image.save(tmp_path / "no folder" / "a.tif")


def test_damaged_file_raises_unless_accepted(rng, tmp_path):
    # A TIFF that ends before the pixels its directory names: 2000 bytes cut, the directory moved up.
    whole = tmp_path / "whole.tif"
    ki.Image.from_array(sample_array("uint16", rng, (64, 64))).save(whole)
    data = bytearray(whole.read_bytes())
    directory = int.from_bytes(data[4:8], "little")
    assert directory > 6000
    del data[4000:6000]
    data[4:8] = (directory - 2000).to_bytes(4, "little")
    cut = tmp_path / "cut.tif"
    cut.write_bytes(bytes(data))
    with pytest.raises(ki.DamagedImageError, match="damaged"):
        ki.load(cut)
    image = ki.load(cut, accept_damaged=True)
    assert image.damage and image.array().shape == (64, 64)


def test_memory_limit_refuses_large_claims(rng, tmp_path):
    path = tmp_path / "big.tif"
    ki.Image.from_array(sample_array("uint16", rng, (200, 200))).save(path)
    old = ki.load_memory_limit()
    ki.set_load_memory_limit(1000)
    try:
        with pytest.raises(OSError):
            ki.load(path)
    finally:
        ki.set_load_memory_limit(old)
    assert ki.load(path).width == 200


def test_loads_on_two_threads(rng, tmp_path):
    arrays = [sample_array("uint16", rng, (300, 300)) for _ in range(2)]
    paths = [tmp_path / f"{i}.tif" for i in range(2)]
    for a, p in zip(arrays, paths):
        ki.Image.from_array(a).save(p)
    out = [None, None]

    def work(i):
        for _ in range(20):
            out[i] = ki.load(paths[i]).array().copy()

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, o in zip(arrays, out):
        np.testing.assert_array_equal(o, a)


@pytest.mark.parametrize("gel", real_gels(), ids=lambda p: getattr(p, "name", "none"))
def test_real_gels_give_arrays_of_their_size(gel):
    image = ki.load(gel, accept_damaged=True)
    a = image.array()
    assert a.shape[:2] == (image.height, image.width)
    viewed = image.bits in (8, 16, 24) or "float" in image.type
    assert np.shares_memory(a, image.array()) == viewed
    if image.type == "16-bit grayscale":
        assert a.dtype == np.uint16


def test_packed_bits_are_copied_as_indices(tmp_path):
    pbm = tmp_path / "bits.pbm"
    pbm.write_bytes(b"P4\n10 2\n" + bytes([0b10100000, 0b01000000, 0b01010000, 0b00000000]))
    image = ki.load(pbm)
    a = image.array()
    assert image.bits == 1 and a.dtype == np.uint8
    ink = [[1, 0, 1, 0, 0, 0, 0, 0, 0, 1], [0, 1, 0, 1, 0, 0, 0, 0, 0, 0]]
    assert a.tolist() in (ink, [[1 - v for v in row] for row in ink])
    assert not np.shares_memory(a, image.array())
