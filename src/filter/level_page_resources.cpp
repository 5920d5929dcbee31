#include "filter/level_page_resources.h"

#if !defined(_WIN32)
#include "filter/level_page_resource.h"
#include "filter/module.h"
#endif

namespace velkorix {

#if defined(_WIN32)

void EnsureLevelPageResources() {}

#else

void EnsureLevelPageResources() {
    const HINSTANCE module = ModuleInstance();
    if (!portable::FindDialogTemplate(module, IDD_LEVEL_PAGE, nullptr)) {
        portable::DialogTemplate page;
        // A child page that a property frame hosts: no caption, no border.
        page.style = DS_SETFONT | DS_CONTROL | WS_CHILD;
        page.cx = LEVEL_PAGE_WIDTH;
        page.cy = LEVEL_PAGE_HEIGHT;
        page.font = "MS Shell Dlg";
        page.pointSize = 8;
        page.items.push_back({"STATIC", LEVEL_HINT_TEXT, -1, SS_LEFT | WS_VISIBLE | WS_GROUP, 0, LEVEL_HINT_X,
                              LEVEL_HINT_Y, LEVEL_HINT_WIDTH, LEVEL_HINT_HEIGHT});
        page.items.push_back({"BUTTON", LEVEL_RESET_TEXT, IDC_LEVEL_RESET, BS_PUSHBUTTON | WS_VISIBLE | WS_TABSTOP,
                              0, LEVEL_RESET_X, LEVEL_RESET_Y, LEVEL_RESET_WIDTH, LEVEL_RESET_HEIGHT});
        portable::RegisterDialogTemplate(module, IDD_LEVEL_PAGE, std::move(page));
    }
    wchar_t probe[2];
    if (LoadStringW(module, IDS_LEVEL_PAGE_TITLE, probe, 2) == 0) {
        std::wstring title;
        for (const char *c = LEVEL_PAGE_TITLE; *c; ++c) title.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
        portable::RegisterString(module, IDS_LEVEL_PAGE_TITLE, std::move(title));
    }
}

#endif

}  // namespace velkorix
