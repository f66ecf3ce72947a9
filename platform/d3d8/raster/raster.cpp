#include "platform/d3d8/raster/raster.h"

namespace raster {

// Interim entry points: validate and draw nothing.
bool DrawPrimitive(const DrawState&, const VertexLayout& layout, const std::uint8_t* vertexData,
                   std::size_t vertexDataSize, int, int startVertex, int primitiveCount, const float*,
                   const Viewport&, const SurfaceView&) {
    return vertexData && layout.stride > 0 && startVertex >= 0 && primitiveCount >= 0 &&
           vertexDataSize > 0;
}

bool DrawIndexedPrimitive(const DrawState&, const VertexLayout& layout, const std::uint8_t* vertexData,
                          std::size_t, int, const std::uint8_t* indexData, std::size_t, int indexSize, int,
                          int, int, const float*, const Viewport&, const SurfaceView&) {
    return vertexData && indexData && layout.stride > 0 && (indexSize == 2 || indexSize == 4);
}

const char* SpanRoutineName(const DrawState&, const VertexLayout&, const SurfaceView&) { return "general"; }

}  // namespace raster
