/// \file measures.h
/// \brief Measures of one triangle and point containment tests, shared by the face geometry
///        and the mesh comparison.
#pragma once

#include <3dzan/foundation/zandefs.h>
#include <3dzan/geometry/points.h>

/// \brief The squared circumradius of the triangle (a, b, c), in double precision:
///        |c - a|² |b - a|² |c - b|² / (4 |(b - a) × (c - a)|²).
/// \return +infinity for a degenerate triangle (collinear or repeated points); NaN when a
///         coordinate is NaN.
ZAN_API double GetCompacityFactor2(const C3DTPoint<float>& a, const C3DTPoint<float>& b,
                                   const C3DTPoint<float>& c);
/// \brief The shape quality of the triangle (a, b, c): 4√3 × area / (sum of the squared side
///        lengths), in double precision. 1 for an equilateral triangle, towards 0 as it
///        flattens, 0 for a degenerate one.
/// \return a value in [0, 1]; 0 when every side is 0; NaN when a coordinate is NaN.
ZAN_API double GetCompacityFactor(const C3DTPoint<float>& a, const C3DTPoint<float>& b,
                                  const C3DTPoint<float>& c);
/// \brief Whether \p p lies in the triangle (a, b, c): inside the triangle's bounding box
///        (bounds included) and classified alike by the three edges, each classifying \p p by
///        the signs of its 2D cross products in the xz, xy and yz projections.
/// \return false for a point outside the box or NaN coordinates.
ZAN_API bool IsInTriangle(const C3DTPoint<float>& p, const C3DTPoint<float>& a,
                          const C3DTPoint<float>& b, const C3DTPoint<float>& c);
/// \brief Whether min <= p <= max on all three axes (bounds included); false for NaN.
ZAN_API bool IsInBox(const C3DTPoint<float>& p, const C3DTPoint<float>& min,
                     const C3DTPoint<float>& max);
