#include "arrowmap/app/desktop_start.h"

#include "arrowmap/app/about_box.h"
#include "arrowmap/app/main.h"

namespace arrowmap {

int RunArrowmapForms() {
  TMainFrm form(nullptr);
  TFrmAbout about(nullptr);
  form.FrmAbout = &about;
  form.Show();
  forms::RunMessageLoop(form);
  form.Timer1.setEnabled(false);
  return 0;
}

}  // namespace arrowmap
