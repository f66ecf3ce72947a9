// Settled-runs upkeep: every write a draw makes clears the flags of the runs it touches,
// except a constant-colour fill's, which keeps them itself (spans_fast.cpp).
#include <cstring>

#include "platform/d3d8/raster/raster_internal.h"

namespace raster {
namespace {

void UnsettlingSpan(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    Unsettle(*ctx.target.settled, y, x0, x1);
    ctx.settledWrap.span(ctx, t, y, x0, x1);
}

void UnsettlingRows(const DrawContext& ctx, const TriangleSetup& t, int y0, int count, const RowSpan* spans) {
    SettledRuns& runs = *ctx.target.settled;
    for (int r = 0; r < count; ++r) Unsettle(runs, y0 + r, spans[r].x0, spans[r].x1);
    ctx.settledWrap.rows(ctx, t, y0, count, spans);
}

}  // namespace

std::uint64_t FillKey(FastBlend blend, std::uint32_t argb) {
    return std::uint64_t{1} << 40 | static_cast<std::uint64_t>(blend) << 32 | argb;
}

namespace {

std::size_t FlagCount(const SettledRuns& runs) {
    return static_cast<std::size_t>(runs.perRow) * static_cast<std::size_t>(runs.rows);
}

}  // namespace

void ClaimSettled(SettledRuns& runs, std::uint64_t key) {
    if (runs.key == key) return;
    constexpr std::uint8_t keep = static_cast<std::uint8_t>(~SettledRuns::kSettled);
    for (std::size_t i = 0, n = runs.flags ? FlagCount(runs) : 0; i < n; ++i) runs.flags[i] &= keep;
    runs.key = key;
}

void ForgetRuns(SettledRuns& runs) {
    if (runs.flags) std::memset(runs.flags, 0, FlagCount(runs));
    runs.key = 0;
}

void MarkRunsShown(SettledRuns& runs) {
    for (std::size_t i = 0, n = runs.flags ? FlagCount(runs) : 0; i < n; ++i) runs.flags[i] |= SettledRuns::kShown;
}

void AttachSettledRuns(DrawContext& ctx) {
    if (!ctx.target.settled) return;
    if (BytesPerPixel(ctx.target.format) != 4 || ctx.bridge.span) {
        ctx.target.settled = nullptr;
        return;
    }
    if (ctx.settles) return;
    ctx.settledWrap.span = ctx.span;
    ctx.settledWrap.rows = ctx.rows;
    ctx.span = UnsettlingSpan;
    if (ctx.rows) ctx.rows = UnsettlingRows;
}

}  // namespace raster
