"""Gel analysis: tiers, lanes, bands, band volumes and sizes from a ladder lane.

analyse() runs every stage; its lanes= and bands= arguments take lanes and band boxes a user
placed, as the library's placeLanes and measureBand do.
"""
from ._core import gel as _gel

Band = _gel.Band
Calibration = _gel.Calibration
Lane = _gel.Lane
Result = _gel.Result
Tier = _gel.Tier
Warning = _gel.Warning
analyse = _gel.analyse
lane_profile = _gel.lane_profile

__all__ = ["Band", "Calibration", "Lane", "Result", "Tier", "Warning", "analyse", "lane_profile"]
