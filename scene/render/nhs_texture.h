// NHSTexture: a texture image of the scene's textured meshes and of the camera object,
// shared through SharedPtr as a payload without destructor. Sizes are powers of two so
// that texture coordinates wrap by masking: 2^log2_width texels per row, 2^log2_height
// rows, each texel 32-bit 0xAARRGGBB, rows back to back. The pixels usually follow the
// record in the same block (from a 16-byte boundary on); the renderer only reads them
// through the pointer.
#pragma once

#include <cstdint>

struct NHSTexture {
  const std::uint32_t* pixels = nullptr;
  std::uint8_t log2_width = 0;
  std::uint8_t log2_height = 0;

  int Width() const { return 1 << log2_width; }
  int Height() const { return 1 << log2_height; }
};
