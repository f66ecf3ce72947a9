// Sixteen-bit textures and targets seen through 32-bit copies, so that the 32-bit span
// routines serve them with the results the general pipeline gives.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d8/raster/raster.h"

namespace raster {

bool IsSixteenBit(PixelFormat format);

// An A8R8G8B8 copy of a texture's levels, each texel decoded exactly as the general path
// decodes it; formats without alpha read 0xFF.
class ExpandedTexture {
public:
    // Rebuilds the copy from source and returns it; a 32-bit source is returned as it is.
    const TextureView& Refresh(const TextureView& source);
    const TextureView& View() const { return view_; }

private:
    std::vector<std::vector<std::uint32_t>> bits_;
    std::vector<SurfaceView> levels_;
    TextureView view_;
};

}  // namespace raster
