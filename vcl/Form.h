// What a stored form description says that Qt Designer cannot: the values
// ride as dynamic properties on the widgets of the .ui file.
#pragma once

class QWidget;

namespace vcl {

// Applies, on `form` and every widget under it:
//   outerGeometry (QRect)  the window's place and size with its frame
//   fontPixelSize (int)    the font's character height in pixels
//   fontColor (QColor)     the colour of the text
//   itemHeight (int)       a drop-down list's item height
//   autoSize (bool)        a label takes the size of its text, keeping its place
// The form's own background is the system's button-face colour.
void ApplyFormDescription(QWidget* form);

}  // namespace vcl
