// A backend that passes every call on to another one, for front ends that want to watch
// some calls (say, whether a failure message was shown) without changing what runs.
#pragma once

#include "platform/ui.h"

namespace platform {

class ForwardingUi : public Ui {
 public:
  explicit ForwardingUi(Ui& inner) : inner_(inner) {}

  void messageBox(const std::string& text, const std::string& caption) override {
    inner_.messageBox(text, caption);
  }
  bool askYesNo(const std::string& text, const std::string& caption) override {
    return inner_.askYesNo(text, caption);
  }
  void beginWaitCursor() override { inner_.beginWaitCursor(); }
  void endWaitCursor() override { inner_.endWaitCursor(); }
  bool shellOpen(const std::string& path, const std::string& verb) override {
    return inner_.shellOpen(path, verb);
  }
  std::optional<std::string> fileDialog(const FileDialogRequest& request) override {
    return inner_.fileDialog(request);
  }
  void progress(const std::string& text) override { inner_.progress(text); }

 private:
  Ui& inner_;
};

}  // namespace platform
