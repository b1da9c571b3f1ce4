"""KestroImage for Python: gel scans as NumPy arrays, the library's image processing, and the
staged gel analysis with results as records.

    import kestroimage as ki
    image = ki.load("gel.tif")
    pixels = image.array()            # a view on the bitmap, top row first
    result = ki.gel.analyse(image)
    rows = result.records()           # pandas.DataFrame(rows) takes them as they are
"""
from ._core import (
    DamagedImageError,
    Image,
    background,
    centre_of_mass,
    load,
    load_memory_limit,
    outline,
    set_load_memory_limit,
    smooth,
)
from . import gel

__all__ = [
    "DamagedImageError",
    "Image",
    "background",
    "centre_of_mass",
    "gel",
    "load",
    "load_memory_limit",
    "outline",
    "set_load_memory_limit",
    "smooth",
]
