// Icons and bitmaps of the console, looked up by their resource number (":/res/<id>.png"), with
// a drawn placeholder of the right size when the artwork is not built in.
#pragma once

#include <QIcon>
#include <QPixmap>

// Resource numbers of the console's artwork.
constexpr int RES_APP_ICON = 128;
constexpr int RES_PRINT_ICON = 147;
constexpr int RES_REFRESH_ICON = 150;
constexpr int RES_HELP_ICON = 180;
constexpr int RES_LOGON_PICTURE = 169;       // 392 x 163
constexpr int RES_TREE_STRIP = 178;          // six 16 x 16 images, light grey transparent
constexpr int RES_GROUP_PICTURE_FIRST = 185; // 185 to 190: 640 x 470 (189: 640 x 480)

QIcon orvelanIcon(int resourceId);
QPixmap orvelanBitmap(int resourceId);

// True when ":/res/<id>.png" is built in (false: the placeholder is used).
bool orvelanResourceExists(int resourceId);
