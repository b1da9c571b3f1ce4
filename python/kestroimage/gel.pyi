from typing import Any, Iterable, Literal, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import Image

_Box = Tuple[int, int, int, int]

class Tier:
    index: int
    top: int
    bottom: int
    first_band_row: int
    wells_top: int
    wells_bottom: int

class Band:
    lane: int
    index: int
    x: float
    peak_y: float
    box: _Box
    rows: list[Tuple[int, int]]
    prominence: float
    width: float
    raw_volume: float
    background_volume: float
    corrected_volume: float
    relative_volume: float
    saturated_pixels: int
    saturated: bool
    size: float
    extrapolated: bool
    edge_width: float
    diffuse: bool
    shoulder: bool
    from_ladder: bool  # sought where the ladder's sizes put a band the search missed

class Lane:
    index: int
    tier: int
    centre: float
    left: float
    right: float
    box: _Box
    prominence: float
    tilt: float
    bow: float
    bands: list[Band]
    def centre_at(self, row: float) -> float: ...

class Warning:
    code: str
    text: str

class Calibration:
    ladder_lane: int
    fit: Literal["spline", "linear"]
    positions: list[float]
    sizes: list[float]
    def size_at(self, distance: float) -> Tuple[float, bool]: ...
    def leave_one_out(self) -> list[float]: ...

class Result:
    width: int
    height: int
    saturation_level: int
    polarity: Literal["bright", "dark"]
    polarity_detected: bool
    grey: str
    file: str | None
    tiers: list[Tier]
    lanes: list[Lane]
    bands: list[Band]
    warnings: list[Warning]
    calibration: Calibration | None
    def records(self) -> list[dict[str, Any]]: ...

_Placement = Union[Tuple[float, float], Tuple[int, float, float], Lane]

def analyse(image: Union[Image, npt.NDArray[np.uint8], npt.NDArray[np.uint16]],
            lanes: Union[None, int, Iterable[_Placement]] = None, ladder: int | None = None,
            sizes: Sequence[float] | None = None, *, bands: Iterable[Tuple[int, int, int]] | None = None,
            tiers: int = 0, polarity: Literal["auto", "bright", "dark"] = "auto",
            region: Tuple[int, int, int, int] | None = None, min_prominence: float = 0.03,
            min_lane_prominence: float = 0.12, diffuse_edge: float = 1.4,
            background: Literal["valleys", "minimum"] = "valleys",
            background_half: Tuple[int, int] | None = None, fit: Literal["spline", "linear"] = "spline",
            shoulders: bool = True) -> Result: ...

def lane_profile(image: Union[Image, npt.NDArray[np.uint8], npt.NDArray[np.uint16]], lane: Lane, *,
                 polarity: Literal["auto", "bright", "dark"] = "auto",
                 region: Tuple[int, int, int, int] | None = None) -> Tuple[int, npt.NDArray[np.float64]]: ...
