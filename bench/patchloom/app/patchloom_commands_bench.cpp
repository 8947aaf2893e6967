// Every Patchloom command run as a user runs it (options dialog, engine, result file,
// new document) on a 128 x 128 exemplar at scale 2.0 with the dialogs' other defaults.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "patchloom/app/patchloom_app.h"
#include "patchloom/app/patchloom_doc.h"
#include "patchloom/app/resource.h"
#include "patchloom/image/image.h"
#include "platform/dialog.h"
#include "platform/recording_ui.h"
#include "platform/ui.h"

namespace {

constexpr int kSize = 128;

// Bricks in running bond with mortar and grain: structure at several scales.
void WriteExemplar(const std::string& path) {
  CImage image;
  image.Create(kSize, kSize, 24, 0);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const int row = y / 16;
      const int bx = (x + (row % 2) * 16) % 32;
      const bool mortar = y % 16 < 2 || bx < 2;
      const int grain = static_cast<int>((x * 7919u + y * 104729u) * 2654435761u >> 28);
      const int tone = static_cast<int>(20 * std::sin((x + 3 * row) * 0.9));
      if (mortar)
        image.SetPixelRGB(x, y, 190 + grain, 185 + grain, 170 + grain);
      else
        image.SetPixelRGB(x, y, 160 + tone + grain, 60 + tone / 2 + grain, 40 + grain);
    }
  image.Save(path);
}

// A scratch working directory with the exemplar, a quiet user interface and one
// application for the lifetime of a benchmark.
class Session {
 public:
  Session() : guard_(ui_) {
    char pattern[] = "/tmp/patchloom-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    WriteExemplar("exemplar.bmp");
    app_.InitInstance();
  }
  ~Session() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }
  CPatchloomApp& app() { return app_; }
  CPatchloomDoc* Open(const std::string& name) { return app_.OpenDocumentFile(name); }
  // Closes every document opened after the first `keep`.
  void CloseAfter(std::size_t keep) {
    while (app_.GetDocuments().size() > keep) app_.CloseDocument(app_.GetActiveDocument());
  }

 private:
  platform::RecordingUi ui_;
  platform::ScopedUi guard_;
  std::filesystem::path dir_, previous_;
  CPatchloomApp app_;
};

void ScaleTwo(int x = IDC_SCALE_X, int y = IDC_SCALE_Y) {
  platform::dialogScript().setText(x, "2");
  platform::dialogScript().setText(y, "2");
}

void RunCommand(benchmark::State& state, int id, const std::function<void()>& fillDialog) {
  Session session;
  CPatchloomDoc* doc = session.Open("exemplar.bmp");
  for (auto _ : state) {
    platform::dialogScript().clear();
    fillDialog();
    platform::dialogScript().press(platform::IDOK);
    doc->OnCmdMsg(id);
    state.PauseTiming();
    // Flow-guided synthesis keeps its resized image; start every run from the exemplar.
    session.CloseAfter(0);
    doc = session.Open("exemplar.bmp");
    state.ResumeTiming();
  }
}

void BM_Interpolation(benchmark::State& state) {
  RunCommand(state, ID_INTERPOLATION, [] { ScaleTwo(); });
}

void BM_SimpleRandomStart(benchmark::State& state) {
  RunCommand(state, ID_SIMPLE_IMG_SYN, [] { ScaleTwo(); });
}

void BM_SimpleInterpolatedStart(benchmark::State& state) {
  RunCommand(state, ID_SIMPLE_IMG_SYN, [] {
    ScaleTwo();
    platform::dialogScript().select(IDC_INIT_METHOD, 1);
  });
}

void BM_MultiLevel(benchmark::State& state) {
  RunCommand(state, ID_MULTI_LEVEL_SYN, [] { ScaleTwo(); });
}

void BM_FlowGuided(benchmark::State& state) {
  RunCommand(state, ID_FLOW_GUIDED_SYN, [] { ScaleTwo(IDC_FLOW_SCALE_X, IDC_FLOW_SCALE_Y); });
}

void BM_GenerateInitImg(benchmark::State& state) {
  RunCommand(state, ID_GENERATE_INIT_IMG, [] { ScaleTwo(); });
}

// Run and Result and Show Compare Result on the init image of scale 2.0, with one
// constraint polygon over a quarter of it.
void RunOnInitImage(benchmark::State& state, int id) {
  Session session;
  CPatchloomDoc* source = session.Open("exemplar.bmp");
  platform::dialogScript().clear();
  ScaleTwo();
  platform::dialogScript().press(platform::IDOK);
  source->OnCmdMsg(ID_GENERATE_INIT_IMG);
  CPatchloomDoc* init = session.app().GetActiveDocument();
  init->OnCmdMsg(ID_NEW_CONSTRAIN_AREA);
  CPointArray stroke;
  for (const CPoint p :
       {CPoint{20, 20}, CPoint{148, 30}, CPoint{130, 140}, CPoint{25, 120}, CPoint{20, 20}})
    stroke.Add(p);
  init->AddConstraintStroke(stroke);
  for (auto _ : state) {
    init->OnCmdMsg(id);
    state.PauseTiming();
    session.CloseAfter(2);
    init->m_nConstraintMode = 1;
    state.ResumeTiming();
  }
}

void BM_RunAndResult(benchmark::State& state) { RunOnInitImage(state, ID_RUN_AND_RESULT); }
void BM_ShowCompareResult(benchmark::State& state) {
  RunOnInitImage(state, ID_SHOW_COMPARE_RESULT);
}

}  // namespace

BENCHMARK(BM_Interpolation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimpleRandomStart)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SimpleInterpolatedStart)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MultiLevel)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FlowGuided)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_GenerateInitImg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunAndResult)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ShowCompareResult)->Unit(benchmark::kMillisecond)->Iterations(3);
