// A fingerprint of a patch cluster tree, so that a change to the tree build can be checked
// to give the very same trees: every node's kind, centre bits and member vectors, in order.
#pragma once

#include <cstdint>
#include <cstring>

#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/image/image.h"

namespace patchloom_detail {

// 64-bit FNV-1a over `size` bytes, continuing from `hash`.
inline std::uint64_t Fnv1a(std::uint64_t hash, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= bytes[i];
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;

// Preorder over the tree; a null child counts as a marker, so that shapes differ too.
inline std::uint64_t ClusterTreeDigest(const CPatchClusterNode* node,
                                       std::uint64_t hash = kFnvOffset) {
  const std::uint8_t marker = node == nullptr ? 0 : node->isLeaf ? 1 : 2;
  hash = Fnv1a(hash, &marker, 1);
  if (node == nullptr) return hash;
  hash = Fnv1a(hash, &node->memberCount, sizeof node->memberCount);
  hash = Fnv1a(hash, node->centre.data(), node->centre.size() * sizeof(double));
  hash = Fnv1a(hash, node->members.data(), node->members.size());
  for (const auto& child : node->children) hash = ClusterTreeDigest(child.get(), hash);
  return hash;
}

// The size and every pixel's red, green and blue, row by row.
inline std::uint64_t ImageDigest(const CImage& image) {
  const int size[2] = {image.GetWidth(), image.GetHeight()};
  std::uint64_t hash = Fnv1a(kFnvOffset, size, sizeof size);
  for (int y = 0; y < size[1]; ++y) {
    for (int x = 0; x < size[0]; ++x) {
      std::uint8_t rgb[3];
      image.GetPixelRGB(x, y, &rgb[0], &rgb[1], &rgb[2]);
      hash = Fnv1a(hash, rgb, sizeof rgb);
    }
  }
  return hash;
}

}  // namespace patchloom_detail
