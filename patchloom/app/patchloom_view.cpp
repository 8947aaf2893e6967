#include "patchloom/app/patchloom_view.h"

#include <algorithm>
#include <utility>

#include "patchloom/app/display_image.h"
#include "patchloom/app/patchloom_doc.h"
#include "patchloom/image/image.h"

namespace {

std::vector<CPoint> Vertices(const CPointArray& points, int count) {
  return std::vector<CPoint>(points.begin(), points.begin() + count);
}

}  // namespace

CPatchloomView::CPatchloomView(CPatchloomDoc& document, ViewSurface& surface)
    : m_document(document), m_surface(surface) {
  m_document.AddView(this);
  OnUpdate(m_document);
}

CPatchloomView::~CPatchloomView() { m_document.RemoveView(this); }

void CPatchloomView::OnUpdate(CDocument&) {
  CImage* image = m_document.GetImage();
  if (m_nShownVersion != m_document.GetImageVersion()) {
    m_nShownVersion = m_document.GetImageVersion();
    std::vector<std::uint8_t> rgb =
        image != nullptr ? DisplayRgb(*image) : std::vector<std::uint8_t>{};
    if (rgb.empty())
      m_surface.ShowNoImage();
    else
      m_surface.ShowImage(image->GetWidth(), image->GetHeight(), std::move(rgb));
  }
  // Strokes are taken in image pixels, so the image sits at the origin of the view's
  // coordinates.
  m_document.m_nOriginX = 0;
  m_document.m_nOriginY = 0;
  m_document.m_nDrawnWidth = image != nullptr ? image->GetWidth() : 0;
  m_document.m_nDrawnHeight = image != nullptr ? image->GetHeight() : 0;
  if (m_document.m_nConstraintMode != 1) {
    m_stroke.RemoveAll();
    m_bHasCursor = false;
  }
  ShowOutlines();
}

CPoint CPatchloomView::ClampToImage(int x, int y) const {
  const CImage* image = m_document.GetImage();
  // A vertex on the far edge lets a polygon take in the last column and the top row.
  const int width = image != nullptr ? image->GetWidth() : 0;
  const int height = image != nullptr ? image->GetHeight() : 0;
  return {std::clamp(x, 0, width), std::clamp(y, 0, height)};
}

void CPatchloomView::OnMouse(const ViewPointer& pointer) {
  if (m_document.m_nConstraintMode != 1 || m_document.GetImage() == nullptr) return;
  const CPoint point = ClampToImage(pointer.x, pointer.y);
  switch (pointer.kind) {
    case ViewPointer::press:
    case ViewPointer::doubleClick:
      // The first press of a double click has added its vertex already.
      if (m_stroke.IsEmpty() && !m_document.CanStartConstraintStroke()) return;
      if (m_stroke.IsEmpty() || !(m_stroke[m_stroke.GetSize() - 1] == point)) m_stroke.Add(point);
      if (pointer.kind == ViewPointer::doubleClick) return CloseStroke();
      break;
    case ViewPointer::rightPress:
      return CloseStroke();
    case ViewPointer::move:
      m_cursor = point;
      m_bHasCursor = true;
      break;
    case ViewPointer::release:
      return;
  }
  ShowOutlines();
}

void CPatchloomView::CloseStroke() {
  CPointArray stroke = std::exchange(m_stroke, CPointArray{});
  m_bHasCursor = false;
  // Fewer than three vertices enclose no pixel: such a stroke is dropped.
  if (stroke.GetSize() >= 3) {
    stroke.Add(stroke[0]);
    m_document.AddConstraintStroke(stroke);  // updates the views
  }
  ShowOutlines();
}

void CPatchloomView::ShowOutlines() {
  std::vector<ViewOutline> outlines;
  const int count = std::min(m_document.m_nPolygonCount, CPatchloomDoc::kPolygonSlots);
  for (int i = 0; i < count; ++i) {
    const CPointArray& stored = m_document.PolygonSlot(i);
    // The stored stroke ends with a repeat of its first point.
    if (stored.GetSize() > 1)
      outlines.push_back({Vertices(stored, stored.GetSize() - 1), true, kStoredColour});
  }
  if (!m_stroke.IsEmpty()) {
    ViewOutline drawing{Vertices(m_stroke, m_stroke.GetSize()), false, kDrawingColour};
    if (m_bHasCursor) drawing.points.push_back(m_cursor);
    outlines.push_back(std::move(drawing));
  }
  m_surface.ShowOutlines(std::move(outlines));
}
