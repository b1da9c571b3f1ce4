import csv
import subprocess
import threading

import numpy as np
import pytest

import kestroimage as ki
from conftest import real_gels


def csv_rows(records):
    """The records as kestro lanes writes them in bands.csv, file column aside."""
    def number(v):  # 15 significant digits, never an exponent
        return "" if v is None else np.format_float_positional(float(f"{v:.15g}"), unique=True, trim="-")

    def word(v):
        return "" if v is None else ("yes" if v else "no")

    return [[str(r["tier"]), str(r["lane"]), str(r["lane in tier"]), str(r["band"]), number(r["centre x"]), number(r["peak y"]), str(r["top"]),
             str(r["bottom"]), number(r["raw volume"]), number(r["corrected volume"]), number(r["relative volume"]),
             str(r["saturated pixels"]), number(r["size"]), word(r["size extrapolated"]),
             word(r["volume is lower bound"]), word(r["diffuse"])] for r in records]


def kestro_lanes(tool, path, out, *options):
    run = subprocess.run([tool, "lanes", str(path), "-o", str(out), "--channel", "luma", *options],
                         capture_output=True, text=True)
    if run.returncode != 0:
        return None, run.stderr
    with open(out / "bands.csv", newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0][0] == "file"
    return [r[1:] for r in rows[1:]], rows[0]


@pytest.mark.parametrize("gel", real_gels(), ids=lambda p: getattr(p, "name", "none"))
def test_real_gels_equal_kestro_lanes(gel, tool, tmp_path):
    expected, header = kestro_lanes(tool, gel, tmp_path)
    image = ki.load(gel, accept_damaged=True)
    if expected is None:
        with pytest.raises(ValueError):
            ki.gel.analyse(image)
        return
    result = ki.gel.analyse(image)
    records = result.records()
    assert csv_rows(records) == expected
    if records:
        assert list(records[0]) == header
        assert all(r["file"] == str(gel) for r in records)


def first_gel(kind):
    gels = [g for g in real_gels() if g is not None and not hasattr(g, "marks") and kind in g.name]
    if not gels:
        pytest.skip(f"no real {kind} gel")
    return gels[0]


def test_ladder_is_the_index_of_the_lane_as_kestro_counts_from_one(tool, tmp_path):
    gel = first_gel("ladders")
    sizes = [10000, 5000, 3000, 2000, 1500, 1000, 700, 500, 300, 100]
    expected, _ = kestro_lanes(tool, gel, tmp_path, "--ladder", "1", "--sizes", ",".join(map(str, sizes)))
    result = ki.gel.analyse(ki.load(gel), ladder=0, sizes=sizes)
    assert result.calibration is not None and result.calibration.ladder_lane == 0
    assert csv_rows(result.records()) == expected
    assert any(r["size"] for r in result.records())


def test_arrays_and_images_give_the_same_result(synthetic):
    image = ki.load(synthetic[0])
    a = image.array()
    assert a.strides[0] < 0  # the view on the bitmap, read in place
    by_image = ki.gel.analyse(image).records()
    by_array = ki.gel.analyse(a).records()
    assert len(by_image) > 0
    assert [dict(r, file=None) for r in by_image] == by_array
    assert ki.gel.analyse(np.ascontiguousarray(a)).records() == by_array


def test_placed_lanes_and_drawn_bands_measure_as_found(synthetic):
    image = ki.load(synthetic[1])
    found = ki.gel.analyse(image)
    placed = ki.gel.analyse(image, lanes=[(l.tier, l.left, l.right) for l in found.lanes])
    assert [l.box for l in placed.lanes] == [l.box for l in found.lanes]
    assert all(l.prominence == 0 for l in placed.lanes)
    assert ki.gel.analyse(image, lanes=found.lanes).records() == placed.records()
    boxes = [(b.lane, b.box[1], b.box[3]) for b in found.bands]
    drawn = ki.gel.analyse(image, bands=boxes)
    assert [(b.lane, b.box) for b in drawn.bands] == [(b.lane, b.box) for b in found.bands]
    assert [b.raw_volume for b in drawn.bands] == pytest.approx([b.raw_volume for b in found.bands])


@pytest.mark.parametrize("arguments, words", [
    (dict(polarity="sideways"), "polarity"),
    (dict(ladder=0), "sizes"),
    (dict(ladder=0, sizes=[100, 200, 300]), "falling"),
    (dict(lanes=0), "lane count"),
    (dict(lanes=[(5, 4, 3, 2)]), "placed"),
    (dict(bands=[(99, 10, 20)]), "lane 99"),
    (dict(region=(0, 0, 8, 8)), "small"),
    (dict(fit="cubic"), "fit"),
])
def test_bad_arguments_raise_value_error_with_the_reason(arguments, words, synthetic):
    with pytest.raises(ValueError, match=words):
        ki.gel.analyse(ki.load(synthetic[0]), **arguments)


def test_float_images_have_no_grey_form():
    with pytest.raises(ValueError):
        ki.gel.analyse(ki.Image.from_array(np.zeros((64, 64), np.float32)))
    with pytest.raises(ValueError):
        ki.gel.analyse(np.zeros((64, 64), np.float32))


def test_two_threads_analyse_two_gels_at_once(synthetic):
    images = [ki.load(p) for p in synthetic[:2]]
    alone = [ki.gel.analyse(im).records() for im in images]
    together = [None, None]

    def work(i):
        for _ in range(3):
            together[i] = ki.gel.analyse(images[i]).records()

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert together == alone


def test_records_make_a_data_frame(synthetic):
    pandas = pytest.importorskip("pandas")
    records = ki.gel.analyse(ki.load(synthetic[0])).records()
    frame = pandas.DataFrame(records)
    assert len(frame) == len(records) and frame["lane"].min() == 1


def test_lane_profile_peaks_at_the_bands(synthetic):
    image = ki.load(synthetic[0])
    result = ki.gel.analyse(image)
    lane = result.lanes[0]
    top, profile = ki.gel.lane_profile(image, lane)
    assert top == lane.box[1] and len(profile) == lane.box[3] - lane.box[1]
    for b in lane.bands:
        row = round(b.peak_y) - top
        near = profile[max(0, row - 4):row + 5]
        assert abs(max(0, row - 4) + int(np.argmax(near)) - row) <= 2
