// CPatchloomView: shows one document's image 1:1 and records constraint polygons drawn
// with the mouse while the document asks for them (New/Add Constrain Area). A click adds
// a vertex, a double click or a right click closes the polygon and hands it to the
// document; the stored polygons and the one being drawn are outlined over the image.
#pragma once

#include <cstdint>
#include <vector>

#include "patchloom/app/document.h"
#include "patchloom/engine/point_array.h"

class CPatchloomDoc;

// A mouse event over the image, in image pixels with the top row 0.
struct ViewPointer {
  enum Kind { press, doubleClick, rightPress, move, release };
  Kind kind;
  int x, y;
};

// A polyline drawn over the image, in the same pixels.
struct ViewOutline {
  std::vector<CPoint> points;
  bool closed;
  std::uint32_t rgb;  // 0xRRGGBB
};

// Where the view puts what it shows (a window's image area, or a test's record).
class ViewSurface {
 public:
  virtual ~ViewSurface() = default;
  // rgb: width x height x 3 bytes, top row first.
  virtual void ShowImage(int width, int height, std::vector<std::uint8_t> rgb) = 0;
  virtual void ShowNoImage() = 0;
  virtual void ShowOutlines(std::vector<ViewOutline> outlines) = 0;
};

class CPatchloomView final : public CDocumentView {
 public:
  static constexpr std::uint32_t kStoredColour = 0xFF2020;
  static constexpr std::uint32_t kDrawingColour = 0x20FF20;

  // Joins the document's views and shows it at once.
  CPatchloomView(CPatchloomDoc& document, ViewSurface& surface);
  ~CPatchloomView() override;
  CPatchloomView(const CPatchloomView&) = delete;
  CPatchloomView& operator=(const CPatchloomView&) = delete;

  // Converts the image again only when the document holds another one.
  void OnUpdate(CDocument& document) override;
  void OnMouse(const ViewPointer& pointer);

  CPatchloomDoc& GetDocument() const { return m_document; }
  // The vertices of the polygon being drawn, without the closing point.
  const CPointArray& GetStroke() const { return m_stroke; }

 private:
  void ShowOutlines();
  void CloseStroke();
  CPoint ClampToImage(int x, int y) const;

  CPatchloomDoc& m_document;
  ViewSurface& m_surface;
  int m_nShownVersion = -1;
  CPointArray m_stroke;
  bool m_bHasCursor = false;
  CPoint m_cursor;
};
