// The page frame's look: its help, print and refresh buttons, the other action buttons, and the
// caption font of group frames.
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class CzCExtGroup;
class RoundButton;

// "&Súgó" at (5, 385) 100 x 40, icon right of centre, black text, RGB(184, 181, 118).
void SetupHelpButton(RoundButton* button, const QIcon& icon);
// "&Nyomtat" at (490, 385) 120 x 40, icon left, black text, RGB(120, 140, 210).
void SetupPrintButton(RoundButton* button, const QIcon& icon);
// "&Frissít" at (490, 385) 120 x 40, icon left, white text, RGB(0, 128, 0).
void SetupRefreshButton(RoundButton* button, const QIcon& icon);
// Sets both radii of a rounded button whatever its radii were before.
void SetRoundButtonRadii(RoundButton* button, int outerRadius, int innerRadius);
// Any other action button: text centred, shading coefficient 10.0, moved to the given place.
void SetupActionButton(RoundButton* button, int x, int y, int w, int h, const QString& text,
                       QColor textColour, QColor buttonColour, int outerRadius, int innerRadius);

// Caption font of a group frame: "System", RGB(0, 0, 128), size 18, the given style flag.
void SetGroupCaptionFont(CzCExtGroup* group, int flag);
