/* Resource identifiers and layout of the level property page, defined here
   only: the resource script (level_page.rc), the page itself and the
   resources registered without the platform (level_page_resources.cpp) all
   take them from this file. The resource compiler reads it as well as C++,
   so it holds #define lines only.

   The page creates its trackbar itself (kTrackbarX and the rest in
   level_property_page.h), in pixels: 62, 35, 39 x 100, that is
   the box x 62..101, y 35..135. The template is laid out in dialog units,
   which scale with the dialog font; at the default 8-point "MS Shell Dlg"
   (base units 6 x 13 at 96 dpi: 1 unit = 1.5 px across, 1.625 px down) the
   page is 285 x 162 px. Every control sits right of x = 84 units, which is
   past the trackbar's right edge (101 px) for any base width from 5 px up
   (84 x 5 / 4 = 105 px), and the page is 100 units high, which holds the
   trackbar's bottom (135 px) for any base height from 11 px up. So the
   trackbar's box stays free at the default font and at larger ones. */
#ifndef VELKORIX_LEVEL_PAGE_RESOURCE_H
#define VELKORIX_LEVEL_PAGE_RESOURCE_H

#define IDD_LEVEL_PAGE 101
#define IDS_LEVEL_PAGE_TITLE 1003
#define IDC_LEVEL_RESET 1001

#define LEVEL_PAGE_TITLE "Level"

/* Page, in dialog units. */
#define LEVEL_PAGE_WIDTH 190
#define LEVEL_PAGE_HEIGHT 100

/* Explanatory text right of the trackbar. */
#define LEVEL_HINT_TEXT "Drag the slider to set the level from -127 to 127. Reset restores the default level."
#define LEVEL_HINT_X 84
#define LEVEL_HINT_Y 24
#define LEVEL_HINT_WIDTH 98
#define LEVEL_HINT_HEIGHT 34

/* The button that resets the level to its default. */
#define LEVEL_RESET_TEXT "Reset"
#define LEVEL_RESET_X 84
#define LEVEL_RESET_Y 66
#define LEVEL_RESET_WIDTH 50
#define LEVEL_RESET_HEIGHT 14

#endif
