/// \file compare.h
/// \brief Mesh comparison: GeomCompare, a symmetric Hausdorff distance between two triangle
///        meshes normalised by the size of the pair, measured by sampling each mesh and
///        finding the closest face of the other through a face grid.
#pragma once

#include <3dzan/foundation/zandefs.h>

class C3DGeomObject;

/// \brief The comparison method; accepted for callers, every value measures the same way.
enum MeshCompareMethod : unsigned
{
    _MeshCompareHausdorff = 0
};

/// \brief Option flags of GeomCompare.
enum _MESH_COMPARE_FLAGS : unsigned
{
    _CompareSamplePoints = 0x1,     ///< every point of the source
    _CompareSampleEdges = 0x2,      ///< along the sides of the source's faces
    _CompareSampleFaces = 0x4,      ///< inside the source's faces
    _CompareUsedPointsOnly = 0x8,   ///< point samples only on points used by a valid face
    _CompareFaceHammersley = 0x10,  ///< face samples on a Hammersley sequence per face
    _CompareFaceLattice = 0x20,     ///< face samples on a barycentric lattice per face
    _CompareDensity4 = 0x10000,     ///< 4 samples per face of the larger mesh
    _CompareDensity10 = 0x40000,    ///< 10 samples per face (any other density value: 6)
    _CompareDensityMask = 0x70000
};

/// \brief What one direction of a comparison measured (source to target).
struct ZAN_API CMeshCompareSide
{
    double m_Max = 0.0;       ///< the largest sample distance (-infinity without a sample)
    double m_Mean = 0.0;
    double m_RMS = 0.0;
    double m_SizeReference = 0.0; ///< the diagonal of the box enclosing both meshes
    unsigned m_SampleNbr = 0;     ///< samples that found a face
    bool m_Failed = false;        ///< a mesh was not triangular or had no usable face
    bool m_Stopped = false;       ///< the maximum passed the limit and sampling stopped
};

/// \brief The symmetric Hausdorff distance between \p a and \p b divided by the diagonal of
///        the box enclosing both.
///
/// Each direction samples its source as \p flags asks (_MESH_COMPARE_FLAGS; with neither
/// 0x1, 0x2 nor 0x4 the points are sampled) and takes the exact distance from each sample to
/// the closest triangle of its target. Sampling is deterministic:
/// - points: every point of the source (with 0x8 only points a valid face uses);
/// - edges: every side of every valid face gets floor(λ × length) samples at the centres of
///   equal parts, λ = sqrt(remaining budget / total area);
/// - faces: the remaining budget is spread over the faces in proportion to their area (the
///   fractions carried from face to face); a face's m samples are the centroids of m of the
///   k² sub-triangles of its regular subdivision (k² >= m, evenly picked; the default), the
///   first m points of a Hammersley sequence warped onto the triangle (0x10), or m evenly
///   picked points of the barycentric lattice of the smallest level holding m (0x20).
/// The budget is the density (0x70000 bits) times the larger face count. The two directions run
/// on two threads when OMPGetMaxThreadCount() allows it; each builds its own face grid, so
/// the result does not depend on the thread count.
/// \param limit a normalised distance: a direction stops sampling once its maximum passes
///        limit × size (infinite: no limit); its maximum so far is then what it gives.
/// \return the larger of the two normalised maxima; infinity when either mesh is null, not
///         entirely triangular, or has no valid face; 0 for two meshes of one and the same
///         point.
ZAN_API double GeomCompare(const C3DGeomObject* a, const C3DGeomObject* b,
                           MeshCompareMethod method, double limit, unsigned flags);
/// \brief GeomCompare, also giving what each direction measured.
/// \param sides receives the two directions (a to b, then b to a); not null.
ZAN_API double GeomCompare(const C3DGeomObject* a, const C3DGeomObject* b,
                           MeshCompareMethod method, double limit, unsigned flags,
                           CMeshCompareSide sides[2]);
