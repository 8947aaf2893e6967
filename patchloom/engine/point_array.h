// Integer points and the growable point array that carries constraint polygons and the
// constrained-pixel list between the document and the engine.
#pragma once

#include <cstddef>
#include <vector>

struct CPoint {
  int x = 0;
  int y = 0;

  friend bool operator==(const CPoint&, const CPoint&) = default;
};

class CPointArray {
 public:
  int GetSize() const { return static_cast<int>(points_.size()); }
  bool IsEmpty() const { return points_.empty(); }
  // Appends the point; returns its index.
  int Add(const CPoint& point) {
    points_.push_back(point);
    return GetSize() - 1;
  }
  int Add(int x, int y) { return Add(CPoint{x, y}); }
  void RemoveAll() { points_.clear(); }
  const CPoint& GetAt(int i) const { return points_[static_cast<std::size_t>(i)]; }
  CPoint& operator[](int i) { return points_[static_cast<std::size_t>(i)]; }
  const CPoint& operator[](int i) const { return points_[static_cast<std::size_t>(i)]; }

  std::vector<CPoint>::iterator begin() { return points_.begin(); }
  std::vector<CPoint>::iterator end() { return points_.end(); }
  std::vector<CPoint>::const_iterator begin() const { return points_.begin(); }
  std::vector<CPoint>::const_iterator end() const { return points_.end(); }

 private:
  std::vector<CPoint> points_;
};
