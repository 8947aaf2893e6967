// The console backend: every message text is printed exactly as the program wrote
// it on standard output, questions are answered from the command line's options,
// and progress goes to the error stream.
#pragma once

#include <deque>
#include <iosfwd>
#include <string>

#include "platform/ui.h"

namespace platform {

class ConsoleUi final : public Ui {
 public:
  explicit ConsoleUi(std::ostream& out, std::ostream& err);

  // The answer every yes/no question gets (default No, so nothing opens by itself).
  void setYesNoAnswer(bool yes) { answerYes_ = yes; }
  // Paths that the next file dialogs return, in order; an empty queue means Cancel.
  void queueFileDialogAnswer(const std::string& path) { fileAnswers_.push_back(path); }

  void messageBox(const std::string& text, const std::string& caption) override;
  bool askYesNo(const std::string& text, const std::string& caption) override;
  void beginWaitCursor() override;
  void endWaitCursor() override;
  bool shellOpen(const std::string& path, const std::string& verb) override;
  std::optional<std::string> fileDialog(const FileDialogRequest& request) override;
  void progress(const std::string& text) override;

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool answerYes_ = false;
  int waitDepth_ = 0;
  std::deque<std::string> fileAnswers_;
};

// The process's console backend (the default backend of ui()).
ConsoleUi& consoleUi();

}  // namespace platform
