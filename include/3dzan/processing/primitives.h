/// \file primitives.h
/// \brief Ready-made meshes (box, sphere, cylinder, cone, capsule, plane), each returned as a
///        new scene node that owns a new C3DObject, and CreateObjectFromArrays, which wraps
///        raw vertex and index arrays in a C3DObject.
///
/// *Common rules.* Every point is an offset from \p center, computed in double precision and
/// stored as float. Every face gets the given material ID. With \p withUV a texture-coordinate
/// channel (CUVWChannel) of ID \p uvChannelID (0xFFFFFFFF: a new ID) is added, its face list
/// parallel to the geometry faces. The returned node is named after the shape ("Cube",
/// "Sphere", "Cylinder", "Cone", "Capsule", "Plane"), holds the object's only holder, belongs
/// to no scene and is the caller's: insert it in a scene or release it with Delete.
///
/// *Orientation.* Faces are wound counter-clockwise seen from outside, so their normals point
/// outwards. The solids (box, sphere, capped cylinder, cone, capsule) are closed: every edge
/// of a face with an area is shared by exactly two faces, in opposite directions, once the
/// points that coincide at seams, poles, rims and apexes are welded. The uncapped cylinder
/// and the plane are open. Within one primitive every texture triangle with an area, on a face
/// with an area in space, turns the same way in (u, v): clockwise for the box, the sphere, the
/// cylinder and the cone, counter-clockwise for the plane.
///
/// *Limits.* Sizes must be finite, at least 0 and at most \ref kPrimitiveMaxSize; the centre
/// must be finite. Segment counts have the minimum each function states, and no primitive may
/// need more than \ref kPrimitiveMaxPoints points or \ref kPrimitiveMaxFaces faces. Anything
/// else returns null with nothing allocated; so does a memory shortage.
#pragma once

#include <3dzan/foundation/zandefs.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/geometry/points.h>

#include <cstddef>

class C3DObject;
class C3DSceneNode;


/// \brief Largest accepted size (radius, width, height, depth), in scene units.
inline constexpr double kPrimitiveMaxSize = 1e18;
/// \brief Most points a primitive or CreateObjectFromArrays may create (2^28).
inline constexpr unsigned kPrimitiveMaxPoints = 1u << 28;
/// \brief Most faces a primitive or CreateObjectFromArrays may create (2^29).
inline constexpr unsigned kPrimitiveMaxFaces = 1u << 29;

/// \brief A box of \p width (x), \p height (y) and \p depth (z) around \p center: 8 points
///        and 6 quadrangles.
///
/// Points: (+x +y +z), (+x +y -z), (-x +y -z), (-x +y +z), then the same four at -y. Faces:
/// (1 2 3 0) top, (4 5 1 0) +x, (5 6 2 1) -z, (6 7 3 2) -x, (7 4 0 3) +z, (5 4 7 6) bottom.
/// With UV, the channel has the 4 corners of the unit square (0 0), (1 0), (1 1), (0 1), and
/// each face maps the whole square: (3 2 1 0), (0 3 2 1), (1 0 3 2), (2 1 0 3), (3 2 1 0),
/// (2 1 0 3).
/// \return a new node "Cube", or null for a size out of the limits.
ZAN_API C3DSceneNode* CreateCube(const C3DTPoint<float>& center, double width, double height,
                                 double depth, bool withUV, unsigned materialID,
                                 unsigned uvChannelID);

/// \brief A sphere of \p radius: \p rings + 1 rows of \p segments + 1 points and
///        2 × \p rings × (\p segments + 1) triangles.
///
/// Row i (0 to \p rings) lies at the polar angle θ = i π / rings from +y, column j (0 to
/// \p segments) at φ = j 2π / segments; the point is (sin φ sin θ, cos θ, cos φ sin θ) × r
/// with the angles rounded to float before the sine and cosine. Row 0 is the pole at +y, the
/// last row the pole at -y (every point of a pole row exactly on the axis), and column
/// \p segments repeats column 0 exactly, as a seam. For each row i
/// below \p rings and each k from i (S + 1) to i (S + 1) + S (S the segments), the triangles
/// are (k + S, k + S + 1, k) and (k, k + S + 1, k + 1). The triangles at the poles and the
/// two per row that cross the seam have no area; they stay in the list. With UV, point i,j
/// gets (j / segments, i / rings) and the channel faces use the geometry's indices (the two
/// seam triangles of each row then span the whole u range backwards, with no area in space).
/// \param rings at least 2. \param segments at least 3.
/// \return a new node "Sphere", or null for a parameter out of the limits.
ZAN_API C3DSceneNode* CreateSphere(const C3DTPoint<float>& center, double radius, int rings,
                                   int segments, bool withUV, unsigned materialID,
                                   unsigned uvChannelID);

/// \brief A cylinder of \p radius along y, \p height tall and centred on \p center.
///
/// Points: the side grid first, \p heightSegments + 1 rows (row i at height -h/2 + i h / H,
/// from the bottom) of \p segments + 1 points (column j at the angle a = j 2π / S, offset
/// (r cos a, ., r sin a); column S repeats column 0 exactly, as a seam). With \p caps, the
/// bottom cap (its centre, then a ring of S + 1 points like a side row), then the top cap the
/// same way: S + 2 points per cap, the caps' rings on the side's end rows but apart from them
/// (a sharp edge, their own texture coordinates).
///
/// Faces (triangles): for each row i below H, for each j below S, with a = (i, j),
/// b = (i, j + 1), c = (i + 1, j + 1), d = (i + 1, j): (a, d, b) and (b, d, c); then two
/// triangles with no area, ((i, S), (i, 0), (i, 1)) and ((i + 1, 0), (i + 1, S),
/// (i + 1, S - 1)), which lie along the seam of one row, so that the side has
/// 2 (S + 1) H triangles. Then, with caps, S triangles per cap, bottom then top, each joining
/// the cap's centre to two neighbouring ring points, facing down and up.
///
/// With UV there is one UV point per point: (j / S, i / H) on the side, and the caps map onto
/// the disc of centre (0.5, 0.5) and radius 0.5 (u = 0.5 + 0.5 cos a; v = 0.5 + 0.5 sin a on
/// top, 0.5 - 0.5 sin a at the bottom, so that both read the same way from outside).
/// \param segments at least 3. \param heightSegments at least 1.
/// \return a new node "Cylinder", or null for a parameter out of the limits.
ZAN_API C3DSceneNode* CreateCylinder(const C3DTPoint<float>& center, double radius, double height,
                                     unsigned segments, unsigned heightSegments, bool caps,
                                     bool withUV, unsigned materialID, unsigned uvChannelID);

/// \brief A cone along y, its base of \p radius at -height/2 and its apex at +height/2.
///
/// Points: the side grid of \p heightSegments + 1 rows of \p segments + 1 points laid out as
/// the cylinder's, row i of radius r (H - i) / H (so the last row is the apex, repeated once
/// per column for its texture coordinates), then the base centre and a base ring of S + 1
/// points on row 0 but apart from it: S + 2 + (S + 1)(H + 1) points. Faces: the cylinder's
/// 2 S H side triangles (a, d, b) and (b, d, c) (in the top row the second has no area), then
/// the S base triangles facing down: (2 H + 1) S triangles.
///
/// With UV, one UV point per point: (j / S, i / H) on the side, the base as the cylinder's
/// bottom cap.
/// \param segments at least 3. \param heightSegments at least 1.
/// \return a new node "Cone", or null for a parameter out of the limits.
ZAN_API C3DSceneNode* CreateCone(const C3DTPoint<float>& center, double radius, double height,
                                 unsigned segments, unsigned heightSegments, bool withUV,
                                 unsigned materialID, unsigned uvChannelID);

/// \brief A capsule: a cylinder of \p radius and \p height between two hemispheres of the same
///        radius, along \p axis. Its whole length is height + 2 radius. No texture
///        coordinates.
///
/// Along the axis the capsule has rows = \p bodyRings + 2 \p hemisphereRings bands of faces.
/// Points: the pole on the positive side of the axis, then rows - 1 rings of \p segments
/// points each (no seam) from that pole to the other, then the other pole:
/// (rows - 1) S + 2 points. Each hemisphere has \p hemisphereRings rings at the polar angles
/// k (π/2) / hemisphereRings (k = 1 to hemisphereRings, the last being the rim at ± height/2);
/// the body adds \p bodyRings - 1 rings between the two rims. Faces, S per band, in band
/// order: the first pole's triangles, quadrangles between neighbouring rings, the last pole's
/// triangles.
///
/// Materials: the faces of the two hemispheres (from a pole to its rim) take
/// \p capMaterialID, the faces of the body (between the rims) \p bodyMaterialID.
///
/// \param placement 0: the capsule is centred on \p center; 1: it stands on \p center, its
///        negative pole there and the rest along the positive axis. Other values are refused.
/// \param axis the capsule's long axis; the shape is built along y and its coordinates turned
///        cyclically (y to x for _AxisX: (x, y, z) -> (y, z, x); y to z for _AxisZ:
///        (x, y, z) -> (z, x, y)), a rotation, so faces keep facing outwards.
/// \param segments at least 3. \param hemisphereRings at least 1. \param bodyRings at least 1.
/// \return a new node "Capsule", or null for a parameter out of the limits.
ZAN_API C3DSceneNode* CreateCapsule(const C3DTPoint<float>& center, float radius, float height,
                                    unsigned segments, unsigned hemisphereRings, unsigned bodyRings,
                                    _AXIS_INFO axis, int placement, unsigned capMaterialID,
                                    unsigned bodyMaterialID);

/// \brief A flat grid of \p width by \p height facing \p normal: (nx + 1)(ny + 1) points and
///        nx × ny quadrangles.
///
/// The frame: n is \p normal made unit; U = A × n made unit, where A is +y unless n lies
/// within about 8° of ±y (|n.y| > 0.99), then -z; V = n × U. So for n = +z, U = +x and V = +y;
/// for n = +y, U = +x and V = -z. Point (i, j), at index j (nx + 1) + i, lies at
/// center - (w/2) U - (h/2) V + i (w / nx) U + j (h / ny) V. Face (i, j), at index
/// j nx + i, is ((i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1)), counter-clockwise seen
/// from the side n points to. With UV, point (i, j) gets (i / nx, j / ny).
/// \param widthSegments nx, at least 1. \param heightSegments ny, at least 1.
/// \return a new node "Plane", or null for a size out of the limits or a normal that is
///         zero or not finite.
ZAN_API C3DSceneNode* CreatePlane(const C3DTPoint<float>& center, const C3DTVector<float>& normal,
                                  double width, double height, unsigned widthSegments,
                                  unsigned heightSegments, bool withUV, unsigned materialID,
                                  unsigned uvChannelID);

/// \brief A new C3DObject (one holder, the caller's) made of raw arrays: points of three
///        floats (x, y, z), triangles of three indices, quadrangles of four indices.
///
/// Counts come from the byte sizes by integer division: points = pointBytes / 12,
/// triangles = triangleBytes / 12, quadrangles = quadBytes / 16; the remainders are ignored.
/// Faces 0 to triangles - 1 are the triangles in order, then the quadrangles. Faces get
/// material 0. No texture coordinates, no node.
///
/// *Indices outside the points.* Indices are not refused: each is stored as given (the face
/// list gets no point bound, see CFaceList::SetPointBound), except a negative one, which no
/// face list holds (that face keeps its corner count with every corner 0). A face with an
/// index that is negative or not below the point count gets _FaceInvalid: every reader of
/// faces skips it, the object archives and loads again (an archive whose valid faces name
/// missing points is refused as malformed), and C3DGeomObject::Clean removes it. The log
/// says how many faces were so marked.
/// \return null, with nothing allocated, for a null array whose size counts at least one
///         element, for more than kPrimitiveMaxPoints points or kPrimitiveMaxFaces faces, and
///         for a memory shortage.
ZAN_API C3DObject* CreateObjectFromArrays(const float* points, size_t pointBytes,
                                          const int* triangles, size_t triangleBytes,
                                          const int* quads, size_t quadBytes);
