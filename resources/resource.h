// Resource numbers of the library's dialog templates and their controls.
#pragma once

/// The processing list page.
#define IDD_PROCESSING_LIST 3064
/// Its list box.
#define IDC_PROCESSING_LIST 3065
