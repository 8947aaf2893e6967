// The option dialogs of Patchloom's synthesis commands: Set Result Options (scales,
// iterations, start image) and Flow-guided Param Options (the two flow formulas, the run
// of frames and the scales), whose "View Flow Field" button starts Arrowmap.
#pragma once

#include <string>

#include "platform/dialog.h"

// Range checks of the data exchange: outside [min, max] the user is told the range and
// the pass fails, so the dialog stays open.
void DDV_MinMaxFloat(platform::DataExchange& dx, float value, float min, float max);
void DDV_MinMaxInt(platform::DataExchange& dx, int value, int min, int max);

class CResultOptionsDlg : public platform::Dialog {
 public:
  CResultOptionsDlg();

  bool OnInitDialog() override;
  void OnOK() override;

  float m_fScaleX = 2.0f;
  float m_fScaleY = 2.0f;
  int m_nIterations = 5;
  int m_nInitMethod = 0;  // 0 random, 1 interpolated
  // Only Simple Img Syn lets the user choose the start image.
  bool m_bEnableInitMethod = false;

  static constexpr float kMinScale = 0.1f;
  static constexpr float kMaxScale = 10.0f;
  static constexpr int kMaxIterations = 100;

 protected:
  void DoDataExchange(platform::DataExchange& dx) override;
};

class CFlowParamDlg : public platform::Dialog {
 public:
  CFlowParamDlg();

  // Starts Arrowmap, which shows a typed map as arrows; it gets no arguments.
  void OnViewFlowField();

  std::string m_strFormulaX = "x+2";
  std::string m_strFormulaY = "y";
  int m_nFrames = 10;
  int m_nItersPerFrame = 2;
  float m_fFlowWeight = 1.0f;
  float m_fScaleX = 1.0f;
  float m_fScaleY = 1.0f;

  static constexpr int kMaxFrames = 500;
  static constexpr int kMaxItersPerFrame = 50;
  static constexpr float kMaxFlowWeight = 100.0f;

 protected:
  void DoDataExchange(platform::DataExchange& dx) override;
};

// Where Arrowmap is on this machine: "..\Arrowmap.exe" beside the program when it is
// there, else the arrowmap program of the same build tree; the mapped "..\Arrowmap.exe"
// when neither exists.
std::string ArrowmapPath();
