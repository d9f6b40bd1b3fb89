// Ready-made meshes. Every primitive checks its parameters and works out its counts in 64-bit
// arithmetic before anything is allocated, sizes a new C3DObject with Init, writes the points
// straight through the point list's view (offsets in double precision, stored as float), sets
// the faces through face handles (the corners and the material ID), and hands the object to a
// new, unattached scene node. A shape built from rings repeats its first column as a seam where
// it carries texture coordinates: the seam copies the first column's positions exactly, so that
// welding by position closes the mesh.
#include <3dzan/processing/primitives.h>

#include <3dzan/foundation/services.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scenenode.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <new>

namespace
{
constexpr double kPi = 3.14159265358979323846;

bool IsSize(double value)
{
    return value >= 0.0 && value <= kPrimitiveMaxSize; // false for NaN
}

bool IsFinitePoint(const C3DTPoint<float>& p)
{
    return std::isfinite(p.m_X) && std::isfinite(p.m_Y) && std::isfinite(p.m_Z);
}

bool IsWithinCounts(uint64_t points, uint64_t faces)
{
    return points <= kPrimitiveMaxPoints && faces <= kPrimitiveMaxFaces;
}

struct CObjectRelease
{
    void operator()(C3DObject* object) const
    {
        if (object)
            object->Delete();
    }
};
using CObjectPtr = std::unique_ptr<C3DObject, CObjectRelease>;

// The object under construction: its lists after Init, and the few writes the primitives need.
// Counts are checked by the callers, so every index written here is in range.
class CMeshWriter
{
public:
    explicit CMeshWriter(const C3DTPoint<float>& center) : m_Center(center) {}

    bool Init(uint64_t pointNbr, uint64_t faceNbr, int cornersPerFace, bool withUV,
              uint64_t uvPointNbr, unsigned uvChannelID)
    {
        m_Object.reset(new C3DObject);
        if (!m_Object->Init(int(pointNbr), int(faceNbr), cornersPerFace, withUV ? 1 : 0,
                            int(uvPointNbr), uvChannelID))
            return false;
        m_Points = m_Object->GetPointList()->GetPointView();
        m_Faces = m_Object->GetFaceList();
        if (withUV)
        {
            auto* uv = dynamic_cast<CUVWChannel*>(
                m_Object->GetChannels()->GetChannelByIndex(0, _ChannelUVW, false));
            if (!uv)
                return false;
            m_UVPoints = uv->GetUVWPointList()->GetPointView();
            m_UVFaces = uv->GetFaceList();
        }
        return true;
    }

    // Point \p index at the centre plus (x, y, z).
    void SetPoint(size_t index, double x, double y, double z)
    {
        C3DTPoint<float>& p = m_Points[index];
        p.m_X = float(double(m_Center.m_X) + x);
        p.m_Y = float(double(m_Center.m_Y) + y);
        p.m_Z = float(double(m_Center.m_Z) + z);
    }
    void CopyPoint(size_t to, size_t from)
    {
        C3DTPoint<float>& p = m_Points[to];
        const C3DTPoint<float>& q = m_Points[from];
        p.m_X = q.m_X;
        p.m_Y = q.m_Y;
        p.m_Z = q.m_Z;
    }
    bool HasUV() const { return m_UVFaces != nullptr; }
    void SetUV(size_t index, double u, double v)
    {
        if (!HasUV())
            return;
        CUVWPoint& p = m_UVPoints[index];
        p.m_U = float(u);
        p.m_V = float(v);
        p.m_W = 0.0f;
    }

    // Face \p face becomes the triangle or quadrangle of \p corners, with \p material; the
    // channel face, when there is one, takes \p uvCorners (the same indices when null).
    // Failures are remembered and make the build fail.
    void SetFace(unsigned face, const int* corners, int count, unsigned material,
                 const int* uvCorners = nullptr)
    {
        C3DFace handle;
        bool done = m_Faces->GetFace(face, handle) && SetCorners(handle, corners, count) &&
                    handle.SetMaterialID(material);
        if (done && HasUV())
        {
            CUVWFace uvHandle;
            done = m_UVFaces->GetFace(face, uvHandle) &&
                   SetCorners(uvHandle, uvCorners ? uvCorners : corners, count);
        }
        m_Failed = m_Failed || !done;
    }
    void SetTriangle(unsigned face, int a, int b, int c, unsigned material)
    {
        const int corners[] = {a, b, c};
        SetFace(face, corners, 3, material);
    }
    void SetQuadrangle(unsigned face, int a, int b, int c, int d, unsigned material)
    {
        const int corners[] = {a, b, c, d};
        SetFace(face, corners, 4, material);
    }

    // The finished object in a new node named \p name; null (the object released) after a
    // failed write or when the node cannot be made.
    C3DSceneNode* MakeNode(const char* name)
    {
        if (m_Failed || !m_Object)
            return nullptr;
        m_Object->FreeExtra();
        C3DSceneNode* node = nullptr;
        try
        {
            node = C3DSceneNode::Create();
            node->SetName(CXTString(name));
        }
        catch (const std::bad_alloc&)
        {
            if (node)
                node->Delete();
            return nullptr;
        }
        node->SetObject(m_Object.release(), true);
        return node;
    }

private:
    static bool SetCorners(CFace& face, const int* corners, int count)
    {
        return count == 3 ? face.SetTriangle(corners[0], corners[1], corners[2])
                          : face.SetQuadrangle(corners[0], corners[1], corners[2], corners[3]);
    }

    C3DTPoint<float> m_Center;
    CObjectPtr m_Object;
    CPointView<C3DTPoint<float>> m_Points;
    CFaceList* m_Faces = nullptr;
    CPointView<CUVWPoint> m_UVPoints;
    CFaceList* m_UVFaces = nullptr;
    bool m_Failed = false;
};

// Runs \p build (which returns the node) and turns a memory shortage into null.
template <class BUILD> C3DSceneNode* Guarded(BUILD&& build)
{
    try
    {
        return build();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

// The side of a cylinder or cone: rows 0..rows-1 of S + 1 points starting at \p first, row i at
// height y0 + i dy and radius radiusAt(i), column S a copy of column 0; UV (j / S, i / H).
template <class RADIUS>
void WriteRingGrid(CMeshWriter& mesh, size_t first, unsigned segments, unsigned heightSegments,
                   double y0, double dy, RADIUS&& radiusAt)
{
    const size_t columns = size_t(segments) + 1;
    for (unsigned i = 0; i <= heightSegments; ++i)
    {
        const double radius = radiusAt(i);
        const size_t row = first + i * columns;
        for (unsigned j = 0; j < segments; ++j)
        {
            const double a = j * 2.0 * kPi / segments;
            mesh.SetPoint(row + j, std::cos(a) * radius, y0 + i * dy, std::sin(a) * radius);
            mesh.SetUV(row + j, double(j) / segments, double(i) / heightSegments);
        }
        mesh.CopyPoint(row + segments, row);
        mesh.SetUV(row + segments, 1.0, double(i) / heightSegments);
    }
}

// The two triangles per quad of the grid's strips (a, d, b) and (b, d, c), strips 0..H-1,
// starting at face \p face. Returns the next face.
unsigned WriteGridFaces(CMeshWriter& mesh, unsigned face, unsigned segments,
                        unsigned heightSegments, unsigned material, bool seamTriangles)
{
    const int columns = int(segments) + 1;
    for (unsigned i = 0; i < heightSegments; ++i)
    {
        const int row = int(i) * columns;
        const int next = row + columns;
        for (int j = 0; j < int(segments); ++j)
        {
            const int a = row + j, b = a + 1, c = next + j + 1, d = next + j;
            mesh.SetTriangle(face++, a, d, b, material);
            mesh.SetTriangle(face++, b, d, c, material);
        }
        if (seamTriangles)
        {
            // Both lie along the seam inside one row: no area in space nor in texture space.
            const int s = int(segments);
            mesh.SetTriangle(face++, row + s, row, row + 1, material);
            mesh.SetTriangle(face++, next, next + s, next + s - 1, material);
        }
    }
    return face;
}

// A disc cap: its centre at \p first, then a ring of S + 1 points (the last a copy of the
// first) of \p radius at height \p y, and S triangles from face \p face on, facing +y when
// \p up. UV on the disc of centre (0.5, 0.5), mirrored at the bottom so that both caps read
// the same way from outside. Returns the next face.
unsigned WriteCap(CMeshWriter& mesh, size_t first, unsigned face, unsigned segments, double radius,
                  double y, bool up, unsigned material)
{
    const double vSign = up ? 0.5 : -0.5;
    mesh.SetPoint(first, 0.0, y, 0.0);
    mesh.SetUV(first, 0.5, 0.5);
    for (unsigned j = 0; j < segments; ++j)
    {
        const double a = j * 2.0 * kPi / segments;
        const double c = std::cos(a), s = std::sin(a);
        mesh.SetPoint(first + 1 + j, c * radius, y, s * radius);
        mesh.SetUV(first + 1 + j, 0.5 + 0.5 * c, 0.5 + vSign * s);
    }
    mesh.CopyPoint(first + 1 + segments, first + 1);
    mesh.SetUV(first + 1 + segments, 1.0, 0.5);
    const int centre = int(first);
    for (int j = 0; j < int(segments); ++j)
    {
        const int p = centre + 1 + j;
        if (up)
            mesh.SetTriangle(face++, centre, p + 1, p, material);
        else
            mesh.SetTriangle(face++, centre, p, p + 1, material);
    }
    return face;
}
} // namespace

C3DSceneNode* CreateCube(const C3DTPoint<float>& center, double width, double height, double depth,
                         bool withUV, unsigned materialID, unsigned uvChannelID)
{
    if (!IsFinitePoint(center) || !IsSize(width) || !IsSize(height) || !IsSize(depth))
        return nullptr;
    return Guarded(
        [&]() -> C3DSceneNode*
        {
            CMeshWriter mesh(center);
            if (!mesh.Init(8, 6, 4, withUV, 4, uvChannelID))
                return nullptr;
            const double hx = width / 2, hy = height / 2, hz = depth / 2;
            static const signed char kSigns[8][3] = {{1, 1, 1},    {1, 1, -1}, {-1, 1, -1},
                                                     {-1, 1, 1},   {1, -1, 1}, {1, -1, -1},
                                                     {-1, -1, -1}, {-1, -1, 1}};
            for (size_t i = 0; i < 8; ++i)
                mesh.SetPoint(i, kSigns[i][0] * hx, kSigns[i][1] * hy, kSigns[i][2] * hz);
            static const int kFaces[6][4] = {{1, 2, 3, 0}, {4, 5, 1, 0}, {5, 6, 2, 1},
                                             {6, 7, 3, 2}, {7, 4, 0, 3}, {5, 4, 7, 6}};
            static const int kUVFaces[6][4] = {{3, 2, 1, 0}, {0, 3, 2, 1}, {1, 0, 3, 2},
                                               {2, 1, 0, 3}, {3, 2, 1, 0}, {2, 1, 0, 3}};
            static const double kUV[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
            for (size_t i = 0; i < 4; ++i)
                mesh.SetUV(i, kUV[i][0], kUV[i][1]);
            // The texture faces do not follow the points: each face maps the whole square.
            for (unsigned f = 0; f < 6; ++f)
                mesh.SetFace(f, kFaces[f], 4, materialID, kUVFaces[f]);
            return mesh.MakeNode("Cube");
        });
}

C3DSceneNode* CreateSphere(const C3DTPoint<float>& center, double radius, int rings, int segments,
                           bool withUV, unsigned materialID, unsigned uvChannelID)
{
    if (!IsFinitePoint(center) || !IsSize(radius) || rings < 2 || segments < 3)
        return nullptr;
    const uint64_t rows = uint64_t(rings), columns = uint64_t(segments) + 1;
    const uint64_t pointNbr = (rows + 1) * columns, faceNbr = 2 * rows * columns;
    if (!IsWithinCounts(pointNbr, faceNbr))
        return nullptr;
    return Guarded(
        [&]() -> C3DSceneNode*
        {
            CMeshWriter mesh(center);
            if (!mesh.Init(pointNbr, faceNbr, 3, withUV, pointNbr, uvChannelID))
                return nullptr;
            const int s = segments;
            for (int i = 0; i <= rings; ++i)
            {
                // The angles go through float for the sine and cosine; the poles are exact, so
                // that every point of the first and last rows is the same point.
                const float theta = float(i * kPi / rings);
                const double sinTheta = (i == 0 || i == rings) ? 0.0 : double(std::sin(theta));
                const double cosTheta = i == 0 ? 1.0 : i == rings ? -1.0 : double(std::cos(theta));
                const size_t row = size_t(i) * size_t(columns);
                for (int j = 0; j < s; ++j)
                {
                    const float phi = float(j * 2.0 * kPi / s);
                    mesh.SetPoint(row + size_t(j), double(std::sin(phi)) * sinTheta * radius,
                                  cosTheta * radius, double(std::cos(phi)) * sinTheta * radius);
                    mesh.SetUV(row + size_t(j), double(j) / s, double(i) / rings);
                }
                mesh.CopyPoint(row + size_t(s), row);
                mesh.SetUV(row + size_t(s), 1.0, double(i) / rings);
            }
            // S + 1 steps per row: the step at each end of a row pairs the seam column with the
            // first, giving the two seam triangles with no area.
            unsigned face = 0;
            for (int i = 0; i < rings; ++i)
            {
                const int k0 = i * (s + 1);
                for (int k = k0; k <= k0 + s; ++k)
                {
                    mesh.SetTriangle(face++, k + s, k + s + 1, k, materialID);
                    mesh.SetTriangle(face++, k, k + s + 1, k + 1, materialID);
                }
            }
            return mesh.MakeNode("Sphere");
        });
}

C3DSceneNode* CreateCylinder(const C3DTPoint<float>& center, double radius, double height,
                             unsigned segments, unsigned heightSegments, bool caps, bool withUV,
                             unsigned materialID, unsigned uvChannelID)
{
    if (!IsFinitePoint(center) || !IsSize(radius) || !IsSize(height) || segments < 3 ||
        heightSegments < 1)
        return nullptr;
    const uint64_t columns = uint64_t(segments) + 1;
    const uint64_t sidePoints = (uint64_t(heightSegments) + 1) * columns;
    const uint64_t pointNbr = sidePoints + (caps ? 2 * (uint64_t(segments) + 2) : 0);
    const uint64_t faceNbr = 2 * columns * heightSegments + (caps ? 2 * uint64_t(segments) : 0);
    if (!IsWithinCounts(pointNbr, faceNbr))
        return nullptr;
    return Guarded(
        [&]() -> C3DSceneNode*
        {
            CMeshWriter mesh(center);
            if (!mesh.Init(pointNbr, faceNbr, 3, withUV, pointNbr, uvChannelID))
                return nullptr;
            const double bottom = -height / 2;
            WriteRingGrid(mesh, 0, segments, heightSegments, bottom, height / heightSegments,
                          [&](unsigned) { return radius; });
            unsigned face = WriteGridFaces(mesh, 0, segments, heightSegments, materialID, true);
            if (caps)
            {
                face =
                    WriteCap(mesh, sidePoints, face, segments, radius, bottom, false, materialID);
                WriteCap(mesh, sidePoints + segments + 2, face, segments, radius, -bottom, true,
                         materialID);
            }
            return mesh.MakeNode("Cylinder");
        });
}

C3DSceneNode* CreateCone(const C3DTPoint<float>& center, double radius, double height,
                         unsigned segments, unsigned heightSegments, bool withUV,
                         unsigned materialID, unsigned uvChannelID)
{
    if (!IsFinitePoint(center) || !IsSize(radius) || !IsSize(height) || segments < 3 ||
        heightSegments < 1)
        return nullptr;
    const uint64_t columns = uint64_t(segments) + 1;
    const uint64_t sidePoints = (uint64_t(heightSegments) + 1) * columns;
    const uint64_t pointNbr = sidePoints + uint64_t(segments) + 2;
    const uint64_t faceNbr = (2 * uint64_t(heightSegments) + 1) * segments;
    if (!IsWithinCounts(pointNbr, faceNbr))
        return nullptr;
    return Guarded(
        [&]() -> C3DSceneNode*
        {
            CMeshWriter mesh(center);
            if (!mesh.Init(pointNbr, faceNbr, 3, withUV, pointNbr, uvChannelID))
                return nullptr;
            const double bottom = -height / 2;
            WriteRingGrid(mesh, 0, segments, heightSegments, bottom, height / heightSegments,
                          [&](unsigned i)
                          { return radius * double(heightSegments - i) / heightSegments; });
            unsigned face = WriteGridFaces(mesh, 0, segments, heightSegments, materialID, false);
            WriteCap(mesh, sidePoints, face, segments, radius, bottom, false, materialID);
            return mesh.MakeNode("Cone");
        });
}

C3DSceneNode* CreateCapsule(const C3DTPoint<float>& center, float radius, float height,
                            unsigned segments, unsigned hemisphereRings, unsigned bodyRings,
                            _AXIS_INFO axis, int placement, unsigned capMaterialID,
                            unsigned bodyMaterialID)
{
    if (!IsFinitePoint(center) || !IsSize(radius) || !IsSize(height) || segments < 3 ||
        hemisphereRings < 1 || bodyRings < 1 ||
        (axis != _AxisX && axis != _AxisY && axis != _AxisZ) || (placement != 0 && placement != 1))
        return nullptr;
    const uint64_t bands = uint64_t(bodyRings) + 2 * uint64_t(hemisphereRings);
    const uint64_t pointNbr = (bands - 1) * segments + 2, faceNbr = bands * segments;
    if (!IsWithinCounts(pointNbr, faceNbr))
        return nullptr;
    return Guarded(
        [&]() -> C3DSceneNode*
        {
            CMeshWriter mesh(center);
            if (!mesh.Init(pointNbr, faceNbr, 4, false, 0, kZanNone))
                return nullptr;
            const double r = radius, halfHeight = double(height) / 2;
            const double shift = placement == 1 ? halfHeight + r : 0.0;
            // Built along y, then turned cyclically onto the axis (a rotation).
            auto put = [&](size_t index, double x, double y, double z)
            {
                y += shift;
                if (axis == _AxisX)
                    mesh.SetPoint(index, y, z, x);
                else if (axis == _AxisZ)
                    mesh.SetPoint(index, z, x, y);
                else
                    mesh.SetPoint(index, x, y, z);
            };
            const size_t lastPole = size_t(bands - 1) * segments + 1;
            put(0, 0.0, halfHeight + r, 0.0);
            put(lastPole, 0.0, -halfHeight - r, 0.0);
            size_t ring = 0;
            auto putRing = [&](double ringRadius, double y)
            {
                const size_t first = 1 + ring++ * segments;
                for (unsigned j = 0; j < segments; ++j)
                {
                    const double phi = j * 2.0 * kPi / segments;
                    put(first + j, std::sin(phi) * ringRadius, y, std::cos(phi) * ringRadius);
                }
            };
            const double step = (kPi / 2) / hemisphereRings;
            // The rims are exact: sin and cos of k * step are not quite 1 and 0 at the last k.
            auto ringSin = [&](unsigned k)
            { return k == hemisphereRings ? 1.0 : std::sin(k * step); };
            auto ringCos = [&](unsigned k)
            { return k == hemisphereRings ? 0.0 : std::cos(k * step); };
            for (unsigned k = 1; k <= hemisphereRings; ++k)
                putRing(r * ringSin(k), halfHeight + r * ringCos(k));
            for (unsigned m = 1; m < bodyRings; ++m)
                putRing(r, halfHeight - m * double(height) / bodyRings);
            for (unsigned k = hemisphereRings; k >= 1; --k)
                putRing(r * ringSin(k), -halfHeight - r * ringCos(k));

            const int s = int(segments);
            const int pole = int(lastPole);
            unsigned face = 0;
            for (uint64_t band = 0; band < bands; ++band)
            {
                const bool cap = band < hemisphereRings || band >= hemisphereRings + bodyRings;
                const unsigned material = cap ? capMaterialID : bodyMaterialID;
                // First points of the rings above and below the band (unused at the poles).
                const int upper = band > 0 ? 1 + int(band - 1) * s : 0;
                const int lower = 1 + int(band) * s;
                for (int j = 0; j < s; ++j)
                {
                    const int jn = (j + 1) % s;
                    if (band == 0)
                        mesh.SetTriangle(face++, 0, lower + j, lower + jn, material);
                    else if (band == bands - 1)
                        mesh.SetTriangle(face++, upper + j, pole, upper + jn, material);
                    else
                        mesh.SetQuadrangle(face++, lower + j, lower + jn, upper + jn, upper + j,
                                           material);
                }
            }
            return mesh.MakeNode("Capsule");
        });
}

C3DSceneNode* CreatePlane(const C3DTPoint<float>& center, const C3DTVector<float>& normal,
                          double width, double height, unsigned widthSegments,
                          unsigned heightSegments, bool withUV, unsigned materialID,
                          unsigned uvChannelID)
{
    if (!IsFinitePoint(center) || !IsSize(width) || !IsSize(height) || widthSegments < 1 ||
        heightSegments < 1)
        return nullptr;
    const double length = std::hypot(double(normal.m_X), double(normal.m_Y), double(normal.m_Z));
    if (!(length > 0.0) || !std::isfinite(length))
        return nullptr;
    const double n[3] = {normal.m_X / length, normal.m_Y / length, normal.m_Z / length};
    const uint64_t nx = widthSegments, ny = heightSegments;
    const uint64_t pointNbr = (nx + 1) * (ny + 1), faceNbr = nx * ny;
    if (!IsWithinCounts(pointNbr, faceNbr))
        return nullptr;
    // U = A x n with A = +y, or -z when n is nearly along y; V = n x U completes a frame in
    // which (U, V, n) is right-handed, so counter-clockwise faces in (U, V) face along n.
    const double a[3] = {0.0, std::fabs(n[1]) > 0.99 ? 0.0 : 1.0,
                         std::fabs(n[1]) > 0.99 ? -1.0 : 0.0};
    double u[3] = {a[1] * n[2] - a[2] * n[1], a[2] * n[0] - a[0] * n[2], a[0] * n[1] - a[1] * n[0]};
    const double uLength = std::hypot(u[0], u[1], u[2]);
    for (double& c : u)
        c /= uLength;
    const double v[3] = {n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2],
                         n[0] * u[1] - n[1] * u[0]};
    return Guarded(
        [&]() -> C3DSceneNode*
        {
            CMeshWriter mesh(center);
            if (!mesh.Init(pointNbr, faceNbr, 4, withUV, pointNbr, uvChannelID))
                return nullptr;
            const size_t rowLength = size_t(nx) + 1;
            for (uint64_t j = 0; j <= ny; ++j)
                for (uint64_t i = 0; i <= nx; ++i)
                {
                    const double s = -width / 2 + double(i) * width / double(nx);
                    const double t = -height / 2 + double(j) * height / double(ny);
                    const size_t index = size_t(j) * rowLength + size_t(i);
                    mesh.SetPoint(index, s * u[0] + t * v[0], s * u[1] + t * v[1],
                                  s * u[2] + t * v[2]);
                    mesh.SetUV(index, double(i) / double(nx), double(j) / double(ny));
                }
            unsigned face = 0;
            for (uint64_t j = 0; j < ny; ++j)
                for (uint64_t i = 0; i < nx; ++i)
                {
                    const int p = int(j * rowLength + i), q = p + int(rowLength);
                    mesh.SetQuadrangle(face++, p, p + 1, q + 1, q, materialID);
                }
            return mesh.MakeNode("Plane");
        });
}

C3DObject* CreateObjectFromArrays(const float* points, size_t pointBytes, const int* triangles,
                                  size_t triangleBytes, const int* quads, size_t quadBytes)
{
    const size_t pointNbr = pointBytes / 12, triangleNbr = triangleBytes / 12,
                 quadNbr = quadBytes / 16;
    if ((pointNbr && !points) || (triangleNbr && !triangles) || (quadNbr && !quads))
        return nullptr;
    if (pointNbr > kPrimitiveMaxPoints || triangleNbr > kPrimitiveMaxFaces ||
        quadNbr > kPrimitiveMaxFaces || triangleNbr + quadNbr > kPrimitiveMaxFaces)
        return nullptr;
    try
    {
        CObjectPtr object(new C3DObject);
        if (!object->Init(int(pointNbr), int(triangleNbr + quadNbr), quadNbr ? 4 : 3, 0, 0,
                          kZanNone))
            return nullptr;
        CPointView<C3DTPoint<float>> view = object->GetPointList()->GetPointView();
        for (size_t i = 0; i < pointNbr; ++i)
        {
            view[i].m_X = points[3 * i];
            view[i].m_Y = points[3 * i + 1];
            view[i].m_Z = points[3 * i + 2];
        }
        // Indices are stored as given, but a face that names a point the object does not have
        // is made invalid: the library's readers skip invalid faces, an archive of the object
        // loads again (valid faces must name existing points), and Clean removes the face.
        // A negative index the list cannot hold at all: that face keeps corners 0.
        CFaceList* faces = object->GetFaceList();
        unsigned outside = 0, negative = 0;
        auto check = [&](C3DFace& face, const int* corners, int count, bool stored)
        {
            if (!stored)
            {
                face.SetSize(count);
                ++negative;
            }
            bool inside = stored;
            for (int k = 0; k < count && inside; ++k)
                inside = size_t(corners[k]) < pointNbr;
            if (!inside)
            {
                face.SetFlag(_FaceInvalid, true);
                ++outside;
            }
        };
        C3DFace face;
        for (size_t t = 0; t < triangleNbr; ++t)
        {
            const int* c = triangles + 3 * t;
            if (!faces->GetFace(unsigned(t), face))
                return nullptr;
            check(face, c, 3, face.SetTriangle(c[0], c[1], c[2]));
        }
        for (size_t q = 0; q < quadNbr; ++q)
        {
            const int* c = quads + 4 * q;
            if (!faces->GetFace(unsigned(triangleNbr + q), face))
                return nullptr;
            check(face, c, 4, face.SetQuadrangle(c[0], c[1], c[2], c[3]));
        }
        if (outside)
            WriteToLogFile("CreateObjectFromArrays: %u of %zu faces name points outside the %zu "
                           "points (%u a negative index) and were made invalid\n",
                           outside, triangleNbr + quadNbr, pointNbr, negative);
        faces->FreeExtra();
        return object.release();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
