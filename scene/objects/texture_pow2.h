// Textures of the scene's meshes: a picture rounded up to power-of-two sides (so that the
// renderer wraps texture coordinates by masking), each side at most kMaxTextureSide.
#pragma once

#include <cstdint>

#include "foundation/runtime/shared_ptr.h"
#include "scene/render/nhs_texture.h"

inline constexpr int kMaxTextureLog2 = 13;  // 8192 texels a side

// A new texture for a width × height picture whose rows lie `stride` pixels apart (null
// source: the pixels are left for the caller to fill). Each side becomes the next power of
// two, at most 8192; a very wide picture (32768 or more) gives up height first while its
// width's leading bits are not the smaller. A picture of that size is copied, any other is
// resampled with the triangle filter over the whole picture. Empty for a zero side.
// Throws std::bad_alloc.
SharedPtr<NHSTexture> MakeTexturePow2(const uint32_t* source, uint32_t stride, uint32_t width,
                                      uint32_t height);
