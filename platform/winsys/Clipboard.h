// Stands in for the Windows clipboard on this platform: one per process, holding global memory blocks.
#pragma once

#include "platform/wintypes/Export.h"
#include "platform/winsys/WinHandles.h"

/// A device-independent bitmap: BITMAPINFOHEADER, colour table (or masks), pixels.
constexpr UINT CF_DIB = 8;

/// Opens the clipboard for owner (null: no window). FALSE while it is open for another owner.
KESTRO_API BOOL OpenClipboard(HWND owner);
/// Closes it; FALSE when it is not open.
KESTRO_API BOOL CloseClipboard();
/// Frees every block on the clipboard and makes the opener its owner; FALSE when not open.
KESTRO_API BOOL EmptyClipboard();
/// Puts a global memory block on the open clipboard in the given format. From then on the
/// clipboard owns the block: it frees it when the format is set again or the clipboard emptied.
/// Returns the block, or null (the block stays the caller's) when the clipboard is not open or
/// data is null.
KESTRO_API HANDLE SetClipboardData(UINT format, HANDLE data);
/// The block held in that format, still the clipboard's; null when the clipboard is not open
/// or holds nothing in that format.
KESTRO_API HANDLE GetClipboardData(UINT format);
/// Whether the clipboard holds data in that format; it need not be open.
KESTRO_API BOOL IsClipboardFormatAvailable(UINT format);
/// The window that last emptied the clipboard (null: none).
KESTRO_API HWND GetClipboardOwner();
