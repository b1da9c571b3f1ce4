#include "platform/winsys/Clipboard.h"

#include "platform/winsys/GlobalMemory.h"

#include <map>

namespace {

struct ClipboardState {
    bool open = false;
    HWND opener = nullptr;
    HWND owner = nullptr;
    std::map<UINT, HANDLE> data;
};

// Never destroyed, like the system's clipboard outliving the process's objects.
ClipboardState& clipboard() {
    static ClipboardState* state = new ClipboardState;
    return *state;
}

} // namespace

BOOL OpenClipboard(HWND owner) {
    ClipboardState& c = clipboard();
    if (c.open && c.opener != owner) return FALSE;
    c.open = true;
    c.opener = owner;
    return TRUE;
}

BOOL CloseClipboard() {
    ClipboardState& c = clipboard();
    if (!c.open) return FALSE;
    c.open = false;
    c.opener = nullptr;
    return TRUE;
}

BOOL EmptyClipboard() {
    ClipboardState& c = clipboard();
    if (!c.open) return FALSE;
    for (auto& entry : c.data)
        GlobalFree(entry.second);
    c.data.clear();
    c.owner = c.opener;
    return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE data) {
    ClipboardState& c = clipboard();
    if (!c.open || !data) return nullptr;
    HANDLE& slot = c.data[format];
    if (slot && slot != data) GlobalFree(slot);
    slot = data;
    return data;
}

HANDLE GetClipboardData(UINT format) {
    ClipboardState& c = clipboard();
    if (!c.open) return nullptr;
    auto it = c.data.find(format);
    return it == c.data.end() ? nullptr : it->second;
}

BOOL IsClipboardFormatAvailable(UINT format) {
    return clipboard().data.count(format) != 0;
}

HWND GetClipboardOwner() {
    return clipboard().owner;
}
