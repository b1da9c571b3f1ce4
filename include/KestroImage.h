// KestroImage: the image library for gel-electrophoresis scans. Include this one header.
#pragma once

#include "winsys/WinGdi.h"
#include "framework/afx.h"
#include "data/DataArray.h"
#include "raster/RasterImage.h"
#include "raster/RasterImageGS16.h"
#include "raster/RasterImageRGB.h"
#include "image/fipImage.h"
#include "image/fipWinImage.h"
#include "image/DalvoImage.h"
#include "analysis/ImageProcessing.h"
#include "analysis/GelAnalysis.h"
