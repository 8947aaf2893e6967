// CPatchloomDoc: one open image per document. It opens and saves images by file
// extension, holds the constraint polygons the view records, and carries every
// synthesis command of the EMSyntesis and ControllableSyn menus. Each command asks for
// its options, runs one operation of a fresh CPatchOptimizer, writes the result as a BMP
// file under a fixed name in the working directory, opens that file as a new document
// and reports the time it took.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "patchloom/app/document.h"
#include "patchloom/engine/point_array.h"

class CImage;

// The image that controllable synthesis draws from: the image of the document on which
// Generate Init Img last ran. Null at start, and again once that document is closed or
// its image replaced; the constraint commands do nothing while it is null.
extern CImage* g_controllableExemplar;

class CPatchloomDoc : public CDocument {
 public:
  static constexpr int kPolygonSlots = 10;

  CPatchloomDoc();
  ~CPatchloomDoc() override;
  // The document template's factory: a new empty document.
  static std::unique_ptr<CPatchloomDoc> CreateObject() { return std::make_unique<CPatchloomDoc>(); }

  bool OnNewDocument() override;
  // Refused (false, nothing loaded) for an extension outside the table, and for a file
  // that gives no pixels.
  bool OnOpenDocument(const std::string& path) override;
  bool OnSaveDocument(const std::string& path) override;
  bool DoSave(const std::optional<std::string>& pathName, bool replace = true) override;
  void OnCloseDocument() override;
  // Documents are never written through an archive.
  void Serialize() {}

  // The command `id` as the menu sends it; false for an id the document does not handle
  // or one its update handler disables.
  bool OnCmdMsg(int id);
  // Runs the update handler of `id`; false when the document has none for it.
  bool OnUpdateCommand(CCmdUI& cmdUI);

  void OnUpdateFileSave(CCmdUI& cmdUI);
  void OnUpdateFileSaveAs(CCmdUI& cmdUI);
  void OnUpdateStretchMode(CCmdUI& cmdUI);

  void OnFileSave();
  void OnFileSaveAs();
  void OnStretchMode();
  void OnInterpolation();
  void OnSimpleImgSyn();
  void OnMultiLevelSyn();
  void OnFlowGuidedSyn();
  void OnGenerateInitImg();
  void OnNewConstrainArea();
  void OnAddConstrainArea();
  void OnRunAndResult();
  void OnShowCompareResult();

  // A stroke the view finished while constraints are recorded (its last point repeats
  // the first). False when the document records none; an eleventh polygon is refused
  // with a message.
  bool AddConstraintStroke(const CPointArray& stroke);
  // Whether the view may begin another stroke: false when the document records none,
  // and false with the message shown when all polygon slots are taken.
  bool CanStartConstraintStroke();

  // The pixels inside the first `count` stored polygons (at most kPolygonSlots, up to
  // the first empty slot), as image coordinates with rows from the bottom: a pixel
  // inside k polygons is listed k times, in row order from y = 0.
  static std::unique_ptr<CPointArray> BuildConstrainedPixels(const CPointArray* polygons, int count,
                                                             int originX, int originY,
                                                             int drawnWidth, int drawnHeight,
                                                             int width, int height);
  // The even-odd crossing rule; an edge counts for rows from its lower end up to, not
  // including, its upper end, so horizontal edges never count.
  static bool PointInPolygon(int x, int y, const CPointArray& polygon);

  CImage* GetImage() const { return m_pImage; }
  // Why the last OnOpenDocument failed, naming the file; empty after a success.
  const std::string& GetOpenError() const { return m_strOpenError; }
  // Takes `image` as the document's own, deleting the old one.
  void ReplaceImage(CImage* image);
  // Changes whenever the document takes another image (a new one may reuse the old
  // one's address), so that views convert an image for display only once.
  int GetImageVersion() const { return m_nImageVersion; }
  CPointArray& PolygonSlot(int i) { return m_polygons[i / kPolygonSlots][i % kPolygonSlots]; }

  CImage* m_pImage = nullptr;
  bool m_bStretch = false;
  int m_nConstraintMode = -1;  // 1 while the view adds constraint polygons
  CPointArray m_polygons[2][kPolygonSlots];
  int m_nPolygonCount = 0;
  int m_nReserved = 0;
  int m_nOriginX = 0;
  int m_nOriginY = 0;
  int m_nDrawnWidth = 0;
  int m_nDrawnHeight = 0;

 private:
  std::string m_strOpenError;
  // Saves the result as BMP under `name`, deletes it and opens the file as a new
  // document; false (with the message shown) when that fails.
  bool SaveAndOpenResult(CImage* result, const char* name);

  int m_nImageVersion = 0;
};
