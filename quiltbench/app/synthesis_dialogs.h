// The Single Image Synthesis dialog and its Options dialog: the user names an input
// BMP and an output file, picks the options and runs the synthesis with "GO>>" as often
// as wanted; the dialog stays open until Cancel.
#pragma once

#include <string>

#include "platform/dialog.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"
#include "quiltbench/engine/synthesis_types.h"

class CSynthesisOptionsDialog : public platform::Dialog {
 public:
  CSynthesisOptionsDialog();

  bool OnInitDialog() override;
  void OnOK() override;

  BYTE m_bRandom = 0;
  int m_nSearchMode = -1;  // 1 FFT, 2 naive, -1 not yet chosen
  platform::ComboBox m_cbCandidateMethod;
  int m_nPostProcess = 1;
  float m_fScaleX = 2.0f;
  float m_fScaleY = 2.0f;

 protected:
  void DoDataExchange(platform::DataExchange& dx) override;
};

class CSingleImageDialog : public platform::Dialog {
 public:
  CSingleImageDialog();
  // Frees the last loaded source image; the engine frees the last result.
  ~CSingleImageDialog() override;

  bool OnInitDialog() override;
  void OnBrowseInput();
  void OnBrowseOutput();
  void OnOptions();
  // "GO>>": loads, synthesises, saves and offers to show the result; the dialog stays open.
  void OnOK() override;

  CGraphCutSynthesizer m_synthesizer;
  float m_fScaleX = 2.0f;
  float m_fScaleY = 2.0f;
  CSynthesisOptionsDialog m_optionsDialog;
  std::string m_strInputPath;
  std::string m_strOutputPath;

 protected:
  void DoDataExchange(platform::DataExchange& dx) override;
};

// File-dialog filter of the image paths.
inline constexpr const char* kImageFileFilter =
    "BMP Files(*.bmp)|*.bmp|JPEG Files(*.jpg)|*.jpg|All Files (*.*)|*.*||";
// Where the result goes when no output path is given.
inline constexpr const char* kDefaultOutputPath = "C:\\result.bmp";
