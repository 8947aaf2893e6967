// The forms toolkit on a desktop: each shown form is an FLTK window, its standard controls
// are FLTK widgets kept in step with them both ways, custom controls show their cairo
// surfaces, timers run on FLTK timeouts and ProcessMessages pumps FLTK's events.
#pragma once

#include <map>
#include <memory>

#include "platform/forms/forms.h"

class Fl_Double_Window;
class Fl_Widget;

namespace forms::window {

class FormWindow;

// While it lives it is the forms' screen (forms::FormHost), the timer loop's scheduler
// and the ProcessMessages hook; one at a time.
class FormWindows final : public TFormHost {
 public:
  FormWindows();
  ~FormWindows() override;
  FormWindows(const FormWindows&) = delete;
  FormWindows& operator=(const FormWindows&) = delete;

  void ShowForm(TForm& form) override;
  void RunModal(TForm& form) override;
  void RunUntilClosed(TForm& form) override;
  void HideForm(TForm& form) override;
  void FormDestroyed(TForm& form) override;

  // The window of `form` once it was shown, else null.
  Fl_Double_Window* WindowOf(const TForm& form) const;
  // The widget that stands for `control` in its form's window, else null.
  Fl_Widget* WidgetOf(const TControl& control) const;
  // Draws what changed in every window and waits until the display has shown it.
  static void FlushToScreen();
  // Whether a display can be opened (the windows need one).
  static bool DisplayAvailable();

 private:
  FormWindow& windowFor(TForm& form);
  std::map<const TForm*, std::unique_ptr<FormWindow>> windows_;
};

}  // namespace forms::window
