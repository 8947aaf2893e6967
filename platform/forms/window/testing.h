// Window tests of forms drive the real widgets from inside the process: pump the events,
// click, type, choose and scroll through FLTK's event dispatch or the widgets' callbacks,
// run steps from inside a modal loop, and take screenshots of a form's window.
#pragma once

#include <functional>
#include <string>

#include "platform/forms/window/form_windows.h"

namespace forms::window::testing {

// Runs the events for `milliseconds`.
void Pump(int milliseconds);
// Pumps until `condition` holds or `milliseconds` pass; returns the condition's last value.
bool PumpUntil(const std::function<bool()>& condition, int milliseconds = 2000);
// Runs `step` from the event loop after `milliseconds` (also inside a modal loop).
void After(int milliseconds, std::function<void()> step);

// A left click at the centre of the control's widget, or at (dx, dy) inside it, as a mouse
// press and release.
void Click(FormWindows& windows, const TControl& control, int dx = -1, int dy = -1);
// Focuses the edit's widget, selects its text and types `text` as key presses; "\r" is Enter.
void Type(FormWindows& windows, const TEdit& edit, const std::string& text);
// Picks item `index` of the list's widget as the user's choice does.
void Choose(FormWindows& windows, const TComboBox& list, int index);
// Moves the bar's widget to `position` as the user's dragging does.
void ScrollTo(FormWindows& windows, const TScrollBar& bar, int position);

// What the widgets show.
std::string WidgetText(FormWindows& windows, const TControl& control);
int WidgetValue(FormWindows& windows, const TControl& control);
bool WidgetActive(FormWindows& windows, const TControl& control);
// The window of `form` exists and is shown.
bool Shown(FormWindows& windows, const TForm& form);

// Draws the form's window and writes what it shows as a PNG file; false when it could not.
bool Screenshot(FormWindows& windows, const TForm& form, const std::string& pngPath);
// The colour of pixel (x, y) of the form's window as 0x00BBGGRR (TColor); -1 outside.
TColor ScreenPixel(FormWindows& windows, const TForm& form, int x, int y);
// Whether a PNG file is all one colour, or cannot be read.
bool PngLooksBlank(const std::string& pngPath);
// Where screenshots go: $WORKBENCH_SCREENSHOT_DIR, else ./screenshots; created on demand.
std::string ScreenshotPath(const std::string& name);

}  // namespace forms::window::testing
