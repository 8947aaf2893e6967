// A backend for tests: records every call in order, answers questions and file
// dialogs from scripted queues, and tracks the wait cursor's depth.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace platform {

struct UiEvent {
  enum Kind { message, question, waitBegin, waitEnd, shellOpen, fileDialog, progress };
  Kind kind;
  std::string text;     // message or question text, path, dialog filter or progress line
  std::string caption;  // caption, verb or dialog default extension
};

class RecordingUi final : public Ui {
 public:
  // Answers for the next questions in order; when the queue is empty questions get `defaultAnswer`.
  void queueAnswer(bool yes) { answers_.push_back(yes); }
  void setDefaultAnswer(bool yes) { defaultAnswer_ = yes; }
  // Answers for the next file dialogs; an empty queue means Cancel.
  void queueFileDialogAnswer(const std::string& path) { fileAnswers_.push_back(path); }
  void setShellOpenResult(bool ok) { shellOpenResult_ = ok; }

  const std::vector<UiEvent>& events() const { return events_; }
  // The texts of the message boxes and questions, in order.
  std::vector<std::string> messages() const;
  int waitCursorDepth() const { return waitDepth_; }
  int waitCursorBegins() const { return waitBegins_; }
  void clear();

  void messageBox(const std::string& text, const std::string& caption) override;
  bool askYesNo(const std::string& text, const std::string& caption) override;
  void beginWaitCursor() override;
  void endWaitCursor() override;
  bool shellOpen(const std::string& path, const std::string& verb) override;
  std::optional<std::string> fileDialog(const FileDialogRequest& request) override;
  void progress(const std::string& text) override;

 private:
  std::vector<UiEvent> events_;
  std::deque<bool> answers_;
  std::deque<std::string> fileAnswers_;
  bool defaultAnswer_ = false;
  bool shellOpenResult_ = true;
  int waitDepth_ = 0;
  int waitBegins_ = 0;
};

}  // namespace platform
