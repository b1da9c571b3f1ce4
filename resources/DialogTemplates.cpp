// The library's dialog templates, found by the framework through the chain of extension libraries.
#include "resources/resource.h"

#include "platform/framework/Dialog.h"

namespace {

const DLGITEMTEMPLATEEX_DATA g_processingListItems[] = {
    {0, 0,
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | LBS_NOTIFY |
         LBS_NOINTEGRALHEIGHT | LBS_NODATA | LBS_NOSEL,
     7, 7, 240, 121, IDC_PROCESSING_LIST, AFX_WNDCLASS_LISTBOX, nullptr},
};

const DLGTEMPLATEEX_DATA g_dialogTemplates[] = {
    {IDD_PROCESSING_LIST, 0, 0, WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_CAPTION | DS_SETFONT, 0, 0, 254, 135,
     L"Processing List", 8, 0, 0, 0, L"MS Sans Serif", 1, g_processingListItems},
};

const AFX_RESOURCE_INIT g_resources(g_dialogTemplates, 1, g_dialogTemplates);

} // namespace
