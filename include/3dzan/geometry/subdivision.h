/// \file subdivision.h
/// \brief CSubdivider, one level of Loop subdivision of a triangle mesh or of Catmull-Clark
///        subdivision of a quadrangle mesh, with the attribute lists that follow the mesh.
///
/// The subdivider works straight on the raw point and index arrays of the lists: the sides of
/// the faces are numbered once per level by a counting sort on their smaller point (linear in
/// the number of corners, no hashing), and every rule then reads and writes flat arrays.
///
/// *Numbering of the result.* The old points keep their indices, each edge of the mesh adds
/// one point (in the order in which the edges are first met, face by face), and with
/// Catmull-Clark each face then adds its face point. Every face becomes four faces, in the
/// order of its corners (Loop adds the middle triangle last), and each new face keeps the
/// orientation and the data (flags word, material, chunk values) of its parent.
///
/// *Rules.* Loop: an edge used by exactly two triangles gets 3/8 (a + b) + 1/8 (o1 + o2), with
/// o1 and o2 the corners opposite it; any other edge its midpoint. A point on a border edge (an
/// edge of one face) keeps its position and gets point flag 0x10; any other point with n
/// neighbours moves to beta × (sum of the neighbours) + (1 − n beta) × itself, beta = 3/16 for
/// n = 3 and 0.375 / n otherwise, and its flags become 0. Catmull-Clark: the face point is the
/// mean of the four corners; an edge of exactly two faces gets (a + b + F1 + F2) / 4, any
/// other edge its midpoint; a border point keeps its position (flag 0x10); any other point
/// with n edge neighbours and n diagonal corners moves to (1 − beta − gamma) p + beta/n × (sum
/// of the neighbours) + gamma/n × (sum of the diagonal corners), beta = 1.5 / n,
/// gamma = 0.25 / n; with another count of diagonal corners it keeps its position.
///
/// *Attributes.* Per-corner attribute lists (texture coordinates, colours...) have their own
/// points and faces parallel to the mesh faces; they are subdivided linearly on their own
/// sides, so seams stay seams: the old attribute points keep their values, each attribute side
/// gets the mean of its ends and each Catmull-Clark face the mean of its corners. Per-point
/// attributes follow the mesh numbering with the same means.
#pragma once

#include <3dzan/foundation/zandefs.h>

#include <cstdint>
#include <vector>

class CFaceList;
class CPointList;
class C3DPointList;

/// \brief One level of Loop or Catmull-Clark subdivision; see the file comment for the rules.
///
/// Subdivide must run first; the attribute operations then follow its mesh.
/// The input faces must all have the scheme's corner count (3 for Loop, 4 for Catmull-Clark)
/// and be usable (the caller leaves invalid and excluded faces out); anything else is refused.
class ZAN_API CSubdivider
{
public:
    enum Scheme
    {
        _Loop = 3,        ///< triangles
        _CatmullClark = 4 ///< quadrangles
    };

    explicit CSubdivider(Scheme scheme) : m_Scheme(scheme) {}

    /// \brief Subdivides the mesh (\p points, \p faces) once into (\p outPoints, \p outFaces).
    ///
    /// \p outPoints becomes a copy of \p points (chunk values included) grown by the new
    /// points, whose chunk values are constructed; \p outFaces takes the chunk structure of
    /// \p faces and gets the four children of every face. \p outPoints and \p outFaces must
    /// not be \p points or \p faces.
    /// \return false, with the outputs untouched, when a face has another corner count, an
    ///         index outside \p points or the result would exceed the index range; false
    ///         after a memory shortage, the outputs then being partly written.
    bool Subdivide(const C3DPointList& points, const CFaceList& faces, C3DPointList& outPoints,
                   CFaceList& outFaces);
    /// \brief Subdivides a per-corner attribute whose faces \p attrFaces run parallel to the
    ///        faces of the last Subdivide.
    /// \return false, with the outputs untouched, when there was no Subdivide, the face
    ///         counts or corner counts differ or an index is outside \p attrPoints; false
    ///         after a memory shortage, the outputs then being partly written.
    bool SubdivideCornerAttribute(const CPointList& attrPoints, const CFaceList& attrFaces,
                                  CPointList& outPoints, CFaceList& outFaces) const;
    /// \brief Subdivides a per-point attribute (one value per mesh point of the last
    ///        Subdivide). \return false, with \p outPoints untouched, when the counts differ.
    bool SubdividePointAttribute(const CPointList& attrPoints, CPointList& outPoints) const;

    /// \brief Number of edges of the last subdivided mesh.
    unsigned GetEdgeCount() const { return unsigned(m_EdgeA.size()); }

private:
    struct CSides
    {
        std::vector<int> sideEdge;       // edge of side i of face f at f * corners + i
        std::vector<int> edgeA, edgeB;   // ends of each edge, a < b
        std::vector<uint8_t> edgeFaces;  // faces using the edge, saturated at 255
    };
    static bool NumberSides(const int* indices, size_t faceCount, int corners, int pointCount,
                            CSides& sides);

    Scheme m_Scheme;
    int m_PointCount = -1;
    size_t m_FaceCount = 0;
    std::vector<int> m_SideEdge;
    std::vector<int> m_EdgeA, m_EdgeB;
    std::vector<int> m_Corners; // the last mesh's indices, face after face
};
