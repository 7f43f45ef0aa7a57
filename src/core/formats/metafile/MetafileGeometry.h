#pragma once
// Affine transforms and outline paths for metafile playback. Paths are built in logical
// coordinates and stored in target-pixel coordinates, the way the graphics device keeps them.

#include <vector>

namespace ozm::metafile {

struct PointD {
    double x = 0;
    double y = 0;
};

// x' = a*x + c*y + e, y' = b*x + d*y + f (the order of a world transform's eM11, eM12,
// eM21, eM22, eDx, eDy).
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    PointD Apply(PointD p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    PointD ApplyLinear(PointD v) const { return {a * v.x + c * v.y, b * v.x + d * v.y}; }
    double Determinant() const { return a * d - b * c; }
    bool IsFinite() const;
    // Applies `first`, then `then`.
    static Affine Compose(const Affine& first, const Affine& then);
    static Affine Translate(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static Affine Scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
};

enum class PathOp { Move, Line, Curve, Close };

struct PathElement {
    PathOp op;
    PointD p[3];  // Move, Line: p[0]; Curve: two control points and the end point
};

// An outline made of figures; every figure starts with a Move.
class Path {
  public:
    void MoveTo(PointD p);
    void LineTo(PointD p);
    void CurveTo(PointD c1, PointD c2, PointD p);
    void Close();
    void Append(const Path& other);
    void Clear() { elements_.clear(); }

    bool Empty() const { return elements_.empty(); }
    const std::vector<PathElement>& Elements() const { return elements_; }
    // True when the last element is a Move, a Line or a Curve (a figure is open).
    bool HasCurrentPoint() const { return hasCurrent_; }

    Path Transformed(const Affine& m) const;

  private:
    std::vector<PathElement> elements_;
    PointD current_;
    PointD figureStart_;
    bool hasCurrent_ = false;
};

// Appends a Bezier approximation of the elliptical arc of the axis-aligned ellipse with
// centre `c` and radii `rx`, `ry` from parameter angle `t0` over `sweep` radians
// (positive: increasing angle), transformed by `m`. Connects with a line from the current
// point when `connect`, else starts a new figure.
void AppendEllipticArc(Path& path, const Affine& m, PointD c, double rx, double ry, double t0,
                       double sweep, bool connect);

// Whole ellipse inside the box, as one closed figure.
void AppendEllipse(Path& path, const Affine& m, double left, double top, double right,
                   double bottom);

// Rectangle with corners rounded by ellipses of `ew` x `eh`.
void AppendRoundRect(Path& path, const Affine& m, double left, double top, double right,
                     double bottom, double ew, double eh);

}  // namespace ozm::metafile
