// The level property page: a vertical trackbar from -127 to 127 and a reset
// command, over the connected filter's ILevelAdjust. Every trackbar change is
// written to the filter at once; a disconnect without Apply writes back the
// level the page found, so an un-applied change is undone.
#pragma once

#include <cstdint>

#include "filter/level_adjust.h"
#include "filter/level_page_resource.h"
#include "filter/property_page_base.h"

namespace velkorix {

// The trackbar, created in the page dialog at WM_INITDIALOG (pixels).
inline constexpr char kTrackbarClass[] = "msctls_trackbar32";
inline constexpr DWORD kTrackbarStyle = 0x5003000A;  // child, visible, group, tab stop, vertical, ticks both sides
inline constexpr int kTrackbarX = 62;
inline constexpr int kTrackbarY = 35;
inline constexpr int kTrackbarWidth = 39;
inline constexpr int kTrackbarHeight = 100;
inline constexpr int kLevelMinimum = -127;
inline constexpr int kLevelMaximum = 127;
// The page's dialog, its title string and its reset command (which resets
// the level to the filter's default) have the identifiers of
// level_page_resource.h, which the resource script reads as well.

class LevelPropertyPage final : public PropertyPageBase {
public:
    // Creation function of the class table: returns the page's own
    // (non-delegating) unknown, or null with E_OUTOFMEMORY in `result` (when
    // given). Registers the common controls, the trackbar among them.
    static UnknownBase *Create(IUnknown *outer, HRESULT *result);

    ~LevelPropertyPage() override;

protected:
    HRESULT OnConnect(IUnknown *object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM first, LPARAM second) override;

private:
    explicit LevelPropertyPage(IUnknown *outer);

    void SetTrackbarPosition(LONG position);

    HWND trackbar = nullptr;
    int8_t savedLevel = 0;
    int8_t currentLevel = 0;
    ILevelAdjust *levelControl = nullptr;
};

}  // namespace velkorix
