#include "patchloom/app/patchloom_doc.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "patchloom/app/option_dialogs.h"
#include "patchloom/app/patchloom_app.h"
#include "patchloom/app/resource.h"
#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/work_estimate.h"
#include "patchloom/image/image.h"
#include "patchloom/image/image_dib.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/replacing_file.h"
#include "platform/ui.h"

CImage* g_controllableExemplar = nullptr;

namespace {

constexpr const char* kOperationFailed = "Operation Failed!";
constexpr const char* kInvalidFlowField = "Invalid Input Flow Field For X or Y\nplease try again!";
constexpr int kNeighbourhood = 32;

// The document's own extension table: "jpeg" counts as JPEG, and a name without an
// extension, or with any other, is refused (-1).
int DocumentFileType(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "jpg" || extension == "jpeg") return kImageTypeJpeg;
  if (extension == "gif") return kImageTypeGif;
  if (extension == "png") return kImageTypePng;
  if (extension == "bmp") return kImageTypeBmp;
  return kImageTypeUnknown;
}

// Seconds since `start` on the tick counter, wrap-around included.
double SecondsSince(std::uint32_t start) {
  const std::uint32_t elapsed = platform::tickCount() - start;
  return elapsed * 0.001;
}

std::string TimeMessage(std::uint32_t start, const char* format) {
  char text[128];
  std::snprintf(text, sizeof text, format, SecondsSince(start));
  return text;
}

void ShowElapsed(std::uint32_t start) {
  platform::ui().messageBox(TimeMessage(start, "Operation Success!\nTime Consuming:%4f"));
}

void ShowFailed() { platform::ui().messageBox(kOperationFailed); }

// The reason beside a message: the console prints it on the error stream.
void ShowReason(const std::string& reason) { platform::ui().progress("patchloom: " + reason); }

void ShowSaveError(const CImage& image) {
  platform::ui().messageBox("Save image error!");
  ShowReason(image.GetLastError());
}

// A command whose result would replace the file the document was opened from is
// refused before it starts, with "Operation Failed!" and the reason.
bool RefusedAsOwnFile(const std::string& source, const std::vector<std::string>& results) {
  if (source.empty()) return false;
  for (const std::string& result : results) {
    if (!platform::sameFile(source, result)) continue;
    ShowFailed();
    ShowReason(result +
               " is the document's own file, and the command writes its result under that name; "
               "open a copy under another name");
    return true;
  }
  return false;
}

// Shows the estimate in the progress, and refuses (with "Operation Failed!" and the
// reason) work that would not fit this machine's memory.
bool RefusedAsTooLarge(const char* command, const WorkEstimate& estimate) {
  if (estimate.bytes == 0) return false;
  platform::ui().progress(std::string(command) + ": " + DescribeWork(estimate));
  const std::optional<std::string> refusal = WorkRefusal(estimate, AvailableMemoryBytes());
  if (!refusal) return false;
  ShowFailed();
  ShowReason(std::string(command) + ": " + *refusal);
  return true;
}

// RefusedAsTooLarge for CPatchOptimizer::Synthesize(exemplar, xScale, yScale,
// iterations, .., 32); a result no image can hold is refused as well, before the trees
// cost their time.
bool RefusedSynthesis(const char* command, CImage& exemplar, double xScale, double yScale,
                      int iterations) {
  CPatchOptimizer optimizer;
  int width = 0, height = 0;
  optimizer.GetOutputSize(&exemplar, kNeighbourhood, xScale, yScale, width, height);
  if (width > kMaxImageSide || height > kMaxImageSide ||
      static_cast<std::int64_t>(width) * height > kMaxImagePixels) {
    ShowFailed();
    ShowReason(std::string(command) + ": the result would be " + std::to_string(width) + " x " +
               std::to_string(height) + " pixels, more than an image can hold (" +
               std::to_string(kMaxImagePixels) + ")");
    return true;
  }
  return RefusedAsTooLarge(command, EstimateSynthesis(exemplar.GetWidth(), exemplar.GetHeight(),
                                                      width, height, iterations, kNeighbourhood));
}

// A command that throws (out of memory, a file error) ends with a message instead of
// leaving the program.
template <typename Command>
void Guarded(Command&& command) {
  try {
    command();
  } catch (const std::exception&) {
    platform::ui().messageBox("Operation error!");
  }
}

}  // namespace

CPatchloomDoc::CPatchloomDoc() = default;

CPatchloomDoc::~CPatchloomDoc() {
  if (g_controllableExemplar != nullptr && g_controllableExemplar == m_pImage)
    g_controllableExemplar = nullptr;
  delete m_pImage;
}

bool CPatchloomDoc::OnNewDocument() {
  if (!CDocument::OnNewDocument()) return false;
  ReplaceImage(nullptr);
  return true;
}

bool CPatchloomDoc::OnOpenDocument(const std::string& path) {
  m_strOpenError.clear();
  const int type = DocumentFileType(path);
  if (type == kImageTypeUnknown) {
    m_strOpenError = path + ": the name does not end in .bmp, .jpg, .jpeg, .png or .gif";
    return false;
  }
  auto image = std::make_unique<CImage>(path, type);
  if (image->IsValid() && image->GetWidth() > 0 && image->GetHeight() > 0) {
    ReplaceImage(image.release());
    SetModifiedFlag(false);
    return true;
  }
  m_strOpenError = image->GetLastError();
  if (m_strOpenError.empty()) m_strOpenError = path + ": the file holds no pixels";
  ReplaceImage(nullptr);
  return false;
}

bool CPatchloomDoc::OnSaveDocument(const std::string& path) {
  const int type = DocumentFileType(path);
  if (type == kImageTypeUnknown || m_pImage == nullptr) return false;
  if (!m_pImage->Save(path, type)) return false;
  SetModifiedFlag(false);
  return true;
}

bool CPatchloomDoc::DoSave(const std::optional<std::string>& pathName, bool replace) {
  if (m_pImage == nullptr) return false;
  CPatchloomApp* app = PatchloomApp();
  const ImageFileFormat* format = app ? app->FindFormat(m_pImage->GetType()) : nullptr;
  const bool canSave = format != nullptr && format->canSave;

  std::string target;
  if (pathName && !pathName->empty() && canSave) {
    target = *pathName;
  } else {
    target = GetPathName();
    if (replace && target.empty()) {
      target = GetTitle();
      const std::size_t cut = target.find_first_of(" #%;/\\");
      if (cut != std::string::npos) target.resize(cut);
      if (format != nullptr) target += std::string(".") + format->extension;
    }
    platform::FileDialogRequest request;
    request.open = false;
    request.title = replace ? "Save As" : "Save Copy As";
    request.filter = app ? app->GetFilter(true) : std::string();
    request.defaultExtension = canSave ? format->extension : "bmp";
    request.initialPath = target;
    request.hideReadOnly = true;
    request.pathMustExist = true;
    if (app != nullptr && canSave) {
      int index = 0;
      for (const ImageFileFormat& f : app->GetFormats()) {
        if (!f.canSave) continue;
        ++index;
        if (&f == format) request.filterIndex = index;
      }
    }
    std::optional<std::string> chosen = platform::ui().fileDialog(request);
    if (!chosen) return false;
    target = *chosen;
  }

  const bool wasModified = IsModified();
  // Only a file this save created may be removed after a failure: an older file of
  // that name is the user's (a GIF saved onto itself writes nothing at all).
  const bool existed = platform::pathExists(target);
  bool saved = false;
  {
    platform::WaitCursor wait;
    saved = OnSaveDocument(target);
    if (!saved && !pathName && !existed) platform::removeFile(target);
  }
  if (!saved) {
    const int type = DocumentFileType(target);
    if (type == kImageTypeUnknown) {
      platform::ui().messageBox("Save image error!");
      ShowReason(target + ": the name does not end in .bmp, .jpg, .jpeg or .png");
    } else {
      ShowSaveError(*m_pImage);
    }
    return false;
  }
  if (replace)
    SetPathName(target);
  else
    SetModifiedFlag(wasModified);
  return true;
}

void CPatchloomDoc::OnCloseDocument() {
  if (g_controllableExemplar != nullptr && g_controllableExemplar == m_pImage)
    g_controllableExemplar = nullptr;
}

void CPatchloomDoc::ReplaceImage(CImage* image) {
  if (image == m_pImage) return;
  // The exemplar must never outlive the image it names.
  if (g_controllableExemplar != nullptr && g_controllableExemplar == m_pImage)
    g_controllableExemplar = nullptr;
  delete m_pImage;
  m_pImage = image;
  ++m_nImageVersion;
}

namespace {

struct CommandEntry {
  int id;
  void (CPatchloomDoc::*handler)();
  void (CPatchloomDoc::*update)(CCmdUI&);
};

// The document's message map.
constexpr CommandEntry kCommands[] = {
    {ID_FILE_SAVE, &CPatchloomDoc::OnFileSave, &CPatchloomDoc::OnUpdateFileSave},
    {ID_FILE_SAVE_AS, &CPatchloomDoc::OnFileSaveAs, &CPatchloomDoc::OnUpdateFileSaveAs},
    {ID_STRETCH_MODE, &CPatchloomDoc::OnStretchMode, &CPatchloomDoc::OnUpdateStretchMode},
    {ID_INTERPOLATION, &CPatchloomDoc::OnInterpolation, nullptr},
    {ID_SIMPLE_IMG_SYN, &CPatchloomDoc::OnSimpleImgSyn, nullptr},
    {ID_MULTI_LEVEL_SYN, &CPatchloomDoc::OnMultiLevelSyn, nullptr},
    {ID_FLOW_GUIDED_SYN, &CPatchloomDoc::OnFlowGuidedSyn, nullptr},
    {ID_GENERATE_INIT_IMG, &CPatchloomDoc::OnGenerateInitImg, nullptr},
    {ID_NEW_CONSTRAIN_AREA, &CPatchloomDoc::OnNewConstrainArea, nullptr},
    {ID_ADD_CONSTRAIN_AREA, &CPatchloomDoc::OnAddConstrainArea, nullptr},
    {ID_RUN_AND_RESULT, &CPatchloomDoc::OnRunAndResult, nullptr},
    {ID_SHOW_COMPARE_RESULT, &CPatchloomDoc::OnShowCompareResult, nullptr},
};

const CommandEntry* FindCommand(int id) {
  for (const CommandEntry& entry : kCommands)
    if (entry.id == id) return &entry;
  return nullptr;
}

}  // namespace

bool CPatchloomDoc::OnCmdMsg(int id) {
  const CommandEntry* entry = FindCommand(id);
  if (entry == nullptr) return false;
  if (entry->update != nullptr) {
    CCmdUI state(id);
    (this->*entry->update)(state);
    if (!state.m_bEnabled) return false;
  }
  (this->*entry->handler)();
  return true;
}

bool CPatchloomDoc::OnUpdateCommand(CCmdUI& cmdUI) {
  const CommandEntry* entry = FindCommand(cmdUI.m_nID);
  if (entry == nullptr || entry->update == nullptr) return false;
  (this->*entry->update)(cmdUI);
  return true;
}

void CPatchloomDoc::OnUpdateFileSave(CCmdUI& cmdUI) {
  bool canSave = false;
  if (m_pImage != nullptr)
    if (CPatchloomApp* app = PatchloomApp())
      if (const ImageFileFormat* format = app->FindFormat(m_pImage->GetType()))
        canSave = format->canSave;
  cmdUI.Enable(canSave);
}

void CPatchloomDoc::OnUpdateFileSaveAs(CCmdUI& cmdUI) { cmdUI.Enable(m_pImage != nullptr); }

void CPatchloomDoc::OnUpdateStretchMode(CCmdUI& cmdUI) {
  cmdUI.Enable(true);
  cmdUI.SetCheck(m_bStretch ? 1 : 0);
}

void CPatchloomDoc::OnFileSave() { DoSave(GetPathName(), true); }

void CPatchloomDoc::OnFileSaveAs() { DoSave(std::nullopt, true); }

void CPatchloomDoc::OnStretchMode() {
  m_bStretch = !m_bStretch;
  UpdateAllViews();
}

bool CPatchloomDoc::SaveAndOpenResult(CImage* result, const char* name) {
  std::unique_ptr<CImage> owned(result);
  // Opening an older file of this name after a failed write would show a stale result
  // as this run's.
  if (!owned->Save(name, kImageTypeBmp)) {
    ShowSaveError(*owned);
    return false;
  }
  owned.reset();
  CPatchloomApp* app = PatchloomApp();
  return app != nullptr && app->OpenDocumentFile(name) != nullptr;
}

void CPatchloomDoc::OnInterpolation() {
  CResultOptionsDlg dialog;
  if (dialog.DoModal() != platform::IDOK) return;
  Guarded([&] {
    if (m_pImage == nullptr) return ShowFailed();
    if (RefusedAsOwnFile(GetPathName(), {"INTERPOLATE_result.bmp"})) return;
    const double width = m_pImage->GetWidth() * static_cast<double>(dialog.m_fScaleX);
    const double height = m_pImage->GetHeight() * static_cast<double>(dialog.m_fScaleY);
    CPatchOptimizer optimizer;
    CImage* result =
        optimizer.Interpolate(m_pImage, static_cast<int>(width), static_cast<int>(height), true);
    if (result == nullptr) return ShowFailed();
    if (!SaveAndOpenResult(result, "INTERPOLATE_result.bmp")) return;
    UpdateAllViews();
  });
}

void CPatchloomDoc::OnSimpleImgSyn() {
  const std::uint32_t start = platform::tickCount();
  CResultOptionsDlg dialog;
  dialog.m_bEnableInitMethod = true;
  if (dialog.DoModal() != platform::IDOK) return;
  Guarded([&] {
    if (RefusedAsOwnFile(GetPathName(), {"simple_result.bmp"})) return;
    if (m_pImage != nullptr && RefusedSynthesis("Simple Img Syn", *m_pImage, dialog.m_fScaleX,
                                                dialog.m_fScaleY, dialog.m_nIterations))
      return;
    CImage* result = nullptr;
    {
      platform::WaitCursor wait;
      if (m_pImage != nullptr) {
        CPatchOptimizer optimizer;
        result = optimizer.Synthesize(m_pImage, dialog.m_fScaleX, dialog.m_fScaleY,
                                      dialog.m_nIterations, dialog.m_nInitMethod, kNeighbourhood);
      }
      if (result != nullptr) {
        if (!SaveAndOpenResult(result, "simple_result.bmp")) return;
        UpdateAllViews();
      }
    }
    if (result == nullptr) return ShowFailed();
    ShowElapsed(start);
  });
}

void CPatchloomDoc::OnMultiLevelSyn() {
  const std::uint32_t start = platform::tickCount();
  CResultOptionsDlg dialog;
  if (dialog.DoModal() != platform::IDOK) return;
  Guarded([&] {
    if (RefusedAsOwnFile(GetPathName(),
                         {"Multi_level_1.bmp", "Multi_level_2.bmp", "Multi_level_3.bmp",
                          "Multi_level_4.bmp", "Multi_level_5.bmp", "Multi_level_6(FinalRst).bmp"}))
      return;
    if (m_pImage != nullptr) {
      // Trees of sizes 32, 16 and 8 over the exemplar, the last level at the full size.
      CPatchOptimizer sizes;
      int width = 0, height = 0;
      sizes.GetOutputSize(m_pImage, kNeighbourhood, dialog.m_fScaleX, dialog.m_fScaleY, width,
                          height);
      const int n = dialog.m_nIterations;
      const WorkEstimate estimate = EstimateWork(
          m_pImage->GetWidth(), m_pImage->GetHeight(),
          {{32, n, width, height}, {16, 2 * n, width, height}, {8, 2 * n, width, height}});
      if (RefusedAsTooLarge("Multi_level Syn", estimate)) return;
    }
    platform::WaitCursor wait;
    CImage* result = nullptr;
    if (m_pImage != nullptr) {
      CPatchOptimizer optimizer;
      result = optimizer.SynthesizeMultiLevel(m_pImage, dialog.m_fScaleX, dialog.m_fScaleY,
                                              dialog.m_nIterations);
    }
    if (result == nullptr) return ShowFailed();
    if (!SaveAndOpenResult(result, "Multi_level_6(FinalRst).bmp")) return;
    const std::string question = TimeMessage(start, "Operation Success!\nTime Consuming:%4f\n") +
                                 "Do you want to view result of each step? ";
    if (platform::ui().askYesNo(question, "View Result")) {
      static constexpr const char* kSteps[] = {"Multi_level_5.bmp", "Multi_level_4.bmp",
                                               "Multi_level_3.bmp", "Multi_level_2.bmp",
                                               "Multi_level_1.bmp"};
      if (CPatchloomApp* app = PatchloomApp())
        for (const char* name : kSteps) app->OpenDocumentFile(name);
    }
    UpdateAllViews();
  });
}

void CPatchloomDoc::OnFlowGuidedSyn() {
  const std::uint32_t start = platform::tickCount();
  CFlowParamDlg dialog;
  if (dialog.DoModal() != platform::IDOK) return;
  Guarded([&] {
    double ax = 0, bx = 0, cx = 0, ay = 0, by = 0, cy = 0;
    const bool parsedX = CPatchOptimizer::ParseFlowFormula(dialog.m_strFormulaX, ax, bx, cx);
    const bool parsedY = CPatchOptimizer::ParseFlowFormula(dialog.m_strFormulaY, ay, by, cy);
    // The map must be invertible to carry frames backwards along it.
    if (!parsedX || !parsedY || !(ax * by - ay * bx != 0.0)) {
      platform::ui().messageBox(kInvalidFlowField);
      return;
    }
    std::vector<std::string> results{"FlowGuided_Rst.bmp"};
    for (int frame = 1; frame <= std::min(dialog.m_nFrames, 10000); ++frame)
      results.push_back("FlowGuided_Step" + std::to_string(frame) + ".bmp");
    if (RefusedAsOwnFile(GetPathName(), results)) return;
    if (m_pImage != nullptr && (dialog.m_fScaleX != 1.0 || dialog.m_fScaleY != 1.0) &&
        RefusedSynthesis("Flow-guided Syn", *m_pImage, dialog.m_fScaleX, dialog.m_fScaleY, 10))
      return;
    CImage* result = nullptr;
    {
      platform::WaitCursor wait;
      if (m_pImage == nullptr) return ShowFailed();
      const double scaleX = dialog.m_fScaleX;
      const double scaleY = dialog.m_fScaleY;
      CPatchOptimizer optimizer;
      if (scaleX != 1.0 || scaleY != 1.0) {
        CImage* resized = optimizer.Synthesize(m_pImage, scaleX, scaleY, 10, 1, kNeighbourhood);
        if (resized == nullptr) return ShowFailed();
        ReplaceImage(resized);
        SetModifiedFlag(true);
      }
      result = optimizer.SynthesizeFlowGuided(m_pImage, ax, bx, cx, ay, by, cy, dialog.m_nFrames,
                                              dialog.m_nItersPerFrame, dialog.m_fFlowWeight);
      if (result != nullptr && !SaveAndOpenResult(result, "FlowGuided_Rst.bmp")) {
        UpdateAllViews();
        return;
      }
      UpdateAllViews();
    }
    if (result == nullptr) return ShowFailed();
    ShowElapsed(start);
  });
}

void CPatchloomDoc::OnGenerateInitImg() {
  CResultOptionsDlg dialog;
  if (dialog.DoModal() != platform::IDOK) return;
  Guarded([&] {
    platform::WaitCursor wait;
    if (m_pImage == nullptr) return ShowFailed();
    if (RefusedAsOwnFile(GetPathName(), {"ControllableSyn_Init.bmp"})) return;
    g_controllableExemplar = m_pImage;
    CPatchOptimizer optimizer;
    CImage* result = optimizer.ScaleImage(m_pImage, dialog.m_fScaleX, dialog.m_fScaleY);
    if (result == nullptr) return ShowFailed();
    SaveAndOpenResult(result, "ControllableSyn_Init.bmp");
  });
}

void CPatchloomDoc::OnNewConstrainArea() {
  if (g_controllableExemplar == nullptr) return;
  m_nConstraintMode = 1;
  for (int i = 0; i < m_nPolygonCount; ++i) PolygonSlot(i).RemoveAll();
  m_nPolygonCount = 0;
  UpdateAllViews();
}

void CPatchloomDoc::OnAddConstrainArea() {
  if (g_controllableExemplar == nullptr) return;
  m_nConstraintMode = 1;
  UpdateAllViews();
}

bool CPatchloomDoc::CanStartConstraintStroke() {
  if (m_nConstraintMode != 1) return false;
  if (m_nPolygonCount >= kPolygonSlots) {
    platform::ui().messageBox("At most 10 constraint areas can be drawn!");
    return false;
  }
  return true;
}

bool CPatchloomDoc::AddConstraintStroke(const CPointArray& stroke) {
  if (m_nConstraintMode != 1 || stroke.IsEmpty()) return false;
  if (!CanStartConstraintStroke()) return false;
  PolygonSlot(m_nPolygonCount) = stroke;
  ++m_nPolygonCount;
  UpdateAllViews();
  return true;
}

void CPatchloomDoc::OnRunAndResult() {
  if (g_controllableExemplar == nullptr || m_nPolygonCount <= 0) return;
  const std::uint32_t start = platform::tickCount();
  Guarded([&] {
    if (RefusedAsOwnFile(GetPathName(), {"ControllableSyn_Rst.bmp"})) {
      m_nConstraintMode = -1;
      return;
    }
    if (m_pImage != nullptr) {
      CImage& exemplar = *g_controllableExemplar;
      const WorkEstimate estimate =
          EstimateSynthesis(exemplar.GetWidth(), exemplar.GetHeight(), m_pImage->GetWidth(),
                            m_pImage->GetHeight(), 10, kNeighbourhood);
      if (RefusedAsTooLarge("Run and Result", estimate)) {
        m_nConstraintMode = -1;
        return;
      }
    }
    CImage* result = nullptr;
    {
      platform::WaitCursor wait;
      std::unique_ptr<CPointArray> pixels;
      if (m_pImage != nullptr) {
        pixels = BuildConstrainedPixels(&m_polygons[0][0], m_nPolygonCount, m_nOriginX, m_nOriginY,
                                        m_nDrawnWidth, m_nDrawnHeight, m_pImage->GetWidth(),
                                        m_pImage->GetHeight());
        CPatchOptimizer optimizer;
        result = optimizer.SynthesizeControllable(g_controllableExemplar, m_pImage, *pixels, 3.0);
      }
      m_nConstraintMode = -1;
      if (result != nullptr) {
        const bool opened = SaveAndOpenResult(result, "ControllableSyn_Rst.bmp");
        pixels.reset();
        UpdateAllViews();
        if (!opened) return;
      }
    }
    if (result == nullptr) return ShowFailed();
    ShowElapsed(start);
  });
}

void CPatchloomDoc::OnShowCompareResult() {
  if (g_controllableExemplar == nullptr) return;
  const std::uint32_t start = platform::tickCount();
  Guarded([&] {
    if (RefusedAsOwnFile(GetPathName(), {"ControllableSyn_cmpr.bmp"})) return;
    if (m_pImage != nullptr &&
        RefusedAsTooLarge(
            "Show Compare Result",
            EstimateSynthesis(g_controllableExemplar->GetWidth(),
                              g_controllableExemplar->GetHeight(), m_pImage->GetWidth(),
                              m_pImage->GetHeight(), 10, kNeighbourhood)))
      return;
    CImage* result = nullptr;
    {
      platform::WaitCursor wait;
      CImage* exemplar = g_controllableExemplar;
      if (m_pImage != nullptr && exemplar->GetWidth() > 0 && exemplar->GetHeight() > 0) {
        const double scaleX = static_cast<double>(m_pImage->GetWidth()) / exemplar->GetWidth();
        const double scaleY = static_cast<double>(m_pImage->GetHeight()) / exemplar->GetHeight();
        CPatchOptimizer optimizer;
        result = optimizer.Synthesize(exemplar, scaleX, scaleY, 10, 1, kNeighbourhood);
      }
      if (result != nullptr) {
        if (!SaveAndOpenResult(result, "ControllableSyn_cmpr.bmp")) return;
        m_nConstraintMode = -1;
        UpdateAllViews();
      }
    }
    if (result == nullptr) return ShowFailed();
    ShowElapsed(start);
  });
}

std::unique_ptr<CPointArray> CPatchloomDoc::BuildConstrainedPixels(const CPointArray* polygons,
                                                                   int count, int originX,
                                                                   int originY, int /*drawnWidth*/,
                                                                   int /*drawnHeight*/, int width,
                                                                   int height) {
  std::vector<CPointArray> copied;
  const int slots = std::min(count, kPolygonSlots);
  for (int i = 0; i < slots; ++i) {
    const CPointArray& stroke = polygons[i];
    if (stroke.IsEmpty()) break;
    CPointArray polygon;
    // The stroke's last point repeats its first.
    for (int k = 0; k + 1 < stroke.GetSize(); ++k)
      polygon.Add(stroke[k].x - originX, originY + height - stroke[k].y);
    copied.push_back(std::move(polygon));
  }
  auto pixels = std::make_unique<CPointArray>();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (const CPointArray& polygon : copied)
        if (PointInPolygon(x, y, polygon)) pixels->Add(x, y);
  return pixels;
}

bool CPatchloomDoc::PointInPolygon(int x, int y, const CPointArray& polygon) {
  const int n = polygon.GetSize();
  bool inside = false;
  for (int i = 0, j = n - 1; i < n; j = i++) {
    const long long xi = polygon[i].x, yi = polygon[i].y;
    const long long xj = polygon[j].x, yj = polygon[j].y;
    if (y >= std::min(yi, yj) && y < std::max(yi, yj)) {
      // 64-bit so that far-off points cannot overflow; the division truncates toward
      // zero as the integer rule requires.
      if (x < xi + (xj - xi) * (y - yi) / (yj - yi)) inside = !inside;
    }
  }
  return inside;
}
