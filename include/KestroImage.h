// KestroImage: the image library for gel-electrophoresis scans. Include this one header.
#pragma once

#include "framework/afx.h"
