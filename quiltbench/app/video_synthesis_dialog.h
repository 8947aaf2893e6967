// The Video Synthesis dialog: the user names an input MPEG video and an output file and
// makes a looping video of it with OK, as often as wanted; Cancel closes the dialog.
#pragma once

#include <string>

#include "platform/dialog.h"

class CVideoSynthesisDialog : public platform::Dialog {
 public:
  CVideoSynthesisDialog();

  void OnBrowseInput();
  void OnBrowseOutput();
  // Runs the video synthesis on an engine of its own and offers to show the result;
  // every failure is a message box and the dialog stays open.
  void OnOK() override;

  std::string m_strInputPath;
  std::string m_strOutputPath;

 protected:
  void DoDataExchange(platform::DataExchange& dx) override;
};

// File-dialog filter of the video paths.
inline constexpr const char* kVideoFileFilter =
    "Media Files(*.mpg)|*.mpg|Media Files(*.mpeg)|*.mpeg|All Files (*.*)|*.*||";
