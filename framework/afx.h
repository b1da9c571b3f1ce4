// Stands in for the application framework (MFC) on this platform: the one header that brings all of it.
#pragma once

#include "framework/AfxTypes.h"
#include "framework/App.h"
#include "framework/Archive.h"
#include "framework/Array.h"
#include "framework/DC.h"
#include "framework/Exceptions.h"
#include "framework/File.h"
#include "framework/Geometry.h"
#include "framework/Module.h"
#include "framework/Object.h"
#include "framework/ReplaceFile.h"
#include "framework/String.h"
#include "framework/Window.h"
#include "framework/Dialog.h"
