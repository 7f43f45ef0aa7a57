#include "core/formats/metafile/MetafileCanvas.h"

#include <algorithm>
#include <cmath>

#include "core/formats/metafile/CanvasDetail.h"

namespace ozm::metafile {

using namespace detail;

Canvas::Canvas(cairo_surface_t* target, const Affine& deviceToTarget, PointD devicePixelsPerMm,
               WorkMeter& meter, ImageCache* images)
    : target_(target),
      cr_(cairo_create(target)),
      width_(cairo_image_surface_get_width(target)),
      height_(cairo_image_surface_get_height(target)),
      deviceToTarget_(deviceToTarget),
      devicePixelsPerMm_(devicePixelsPerMm),
      meter_(meter),
      images_(images ? images : &ownImages_) {
    state_.pen.colour = {0, 0, 0};
    state_.brush.colour = {255, 255, 255};
    state_.font.face = "";
    cairo_set_tolerance(cr_.get(), 0.1);
}

bool Canvas::Healthy() const { return cairo_status(cr_.get()) == CAIRO_STATUS_SUCCESS; }

void Canvas::Charge(double units) { meter_.Charge(units); }

void Canvas::ChargeArea(double pixels, double rows, double perPixel) {
    if (!std::isfinite(pixels) || pixels < 0) pixels = double(width_) * height_;
    pixels = std::min(pixels, double(width_) * height_ + 1024);
    rows = std::isfinite(rows) ? std::clamp(rows, 0.0, double(height_)) : double(height_);
    // Under a clip mask every figure is drawn into a group and masked onto the target.
    const double masked = state_.clip.mask ? kCostMaskedPixel : 0;
    meter_.Charge(kCostCall + pixels * (perPixel + masked + clipCostPerPixel_) +
                  clipCostPerRow_ * rows);
}

void Canvas::ChargeArea(const PixelBox& box, double perPixel) {
    ChargeArea(Area(box), std::max(0, box.y1 - box.y0), perPixel);
}

void Canvas::ChargePath(const Path& path, const PixelBox& box, double widen) {
    const EdgeCount n = CountEdges(path, box.y0, box.y1, widen);
    meter_.Charge(n.edges * kCostEdge + n.rows * kCostEdgeRow);
}

// ---- Device-context stack ------------------------------------------------------------------

bool Canvas::SaveDc() {
    if (saved_.size() >= kMaxSaveDepth) return false;
    saved_.push_back(state_);
    return true;
}

bool Canvas::RestoreDc(int index) {
    const auto depth = static_cast<std::int64_t>(saved_.size());
    const std::int64_t target = index < 0 ? depth + index : std::int64_t{index} - 1;
    if (target < 0 || target >= depth) return false;
    state_ = saved_[static_cast<std::size_t>(target)];
    saved_.resize(static_cast<std::size_t>(target));
    ++clipVersion_;
    return true;
}

}  // namespace ozm::metafile
