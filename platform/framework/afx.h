// Stands in for the application framework (MFC) on this platform: the one header that brings all of it.
#pragma once

#include "platform/wintypes/AfxTypes.h"
#include "platform/framework/App.h"
#include "platform/framework/Archive.h"
#include "platform/framework/Array.h"
#include "platform/framework/DC.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/File.h"
#include "platform/wintypes/Geometry.h"
#include "platform/framework/Module.h"
#include "platform/framework/Object.h"
#include "platform/framework/ReplaceFile.h"
#include "platform/framework/String.h"
#include "platform/framework/Window.h"
#include "platform/framework/Dialog.h"
