// Ear clipping of one polygon given in its own plane, and the projection that puts it there.
//
// The ring holds one record per corner still to clip. Each corner's turning angle is
// atan2(a × b, a · b) with a = next - corner and b = previous - corner, in double: the interior
// angle at convex corners, negative at reflex ones. The clipper takes the convex corner with
// the smallest angle, keeps walking to a neighbour while the angles stay small (below 1.58 rad,
// just above a right angle) and looks for a fresh smallest corner otherwise. An ear is refused
// when a reflex corner lies inside it or on its sides (other than at its three corners). The
// smallest convex corner comes from a heap for large rings and from a scan for small ones; both
// pick the smallest angle and, among equal angles, the lowest position, so they give the same
// triangles.
#pragma once

#include "facegeometry.h"

#include <cstdint>
#include <vector>

namespace zan_detail
{
/// \brief Projects the polygon \p indices[0, count) into its own plane: \p xy receives 2 ×
///        count doubles, counter-clockwise seen from the tip of the Newell normal, the first
///        corner at the origin. A polygon without a usable normal is projected onto the
///        coordinate plane of its two largest extents.
/// \return false for an index outside \p points, a non-finite coordinate or count 0.
bool ProjectPolygon(const CPositionView& points, const int* indices, unsigned count, double* xy);

/// \brief The ear clipper; keeps its buffers between polygons.
class CEarClipper
{
public:
    /// \brief Clips the polygon of \p count corners at \p xy (2 × count doubles) whose point
    ///        indices are \p indices, appending to \p triangles three corner positions per
    ///        triangle written (candidate, next, previous). Ears whose point indices repeat
    ///        are clipped without being written.
    /// \return the number of triangles appended.
    unsigned Run(const double* xy, const int* indices, unsigned count,
                 std::vector<uint16_t>& triangles);

private:
    struct CCorner
    {
        double m_X, m_Y;
        double m_Angle;
        unsigned m_Prev, m_Next;
        unsigned m_Version;
        bool m_Convex;
        bool m_Removed;
        bool m_Listed; ///< in m_Reflex
    };
    struct CHeapItem
    {
        double m_Angle;
        unsigned m_Position;
        unsigned m_Version;
    };

    void SetAngle(unsigned k);
    unsigned Smallest();
    bool IsEar(unsigned c);

    std::vector<CCorner> m_Ring;
    std::vector<unsigned> m_Reflex;
    std::vector<CHeapItem> m_Heap;
    bool m_UseHeap = false;
};

/// \brief The split of a quadrangle whose four turning angles are all non-negative, exactly as
///        CEarClipper would clip it, without its buffers.
/// \return the number of triangles written to \p triangles (0 to 2, three positions each), or
///         -1 when a corner is reflex or an angle is NaN (use the clipper).
int ClipConvexQuad(const double* xy, const int* indices, uint16_t* triangles);
} // namespace zan_detail
