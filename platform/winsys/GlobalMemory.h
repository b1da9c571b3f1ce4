// Stands in for the Windows global memory functions (GlobalAlloc and its kin) on this platform.
#pragma once

#include "platform/wintypes/Export.h"
#include "platform/winsys/WinHandles.h"

/// Allocation flags. A movable block is reached only through GlobalLock.
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

/// A new block of exactly bytes bytes (zero-filled with GMEM_ZEROINIT); null when memory runs
/// out. The handle is valid until GlobalFree; the functions below accept any value as a handle
/// and treat one they did not hand out, or one already freed, as invalid.
KESTRO_API HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
/// The block's bytes, and one more lock; null for an invalid handle or a zero-byte block.
KESTRO_API LPVOID GlobalLock(HGLOBAL memory);
/// One lock less; nonzero while the block stays locked, FALSE once it is unlocked (or invalid).
KESTRO_API BOOL GlobalUnlock(HGLOBAL memory);
/// The size given to GlobalAlloc; 0 for an invalid handle.
KESTRO_API SIZE_T GlobalSize(HGLOBAL memory);
/// Releases the block, locked or not; null on success, the handle itself when it is invalid.
KESTRO_API HGLOBAL GlobalFree(HGLOBAL memory);
