// Primitives checked by their properties: counts implied by the parameters, closed and
// outward-facing surfaces (edges paired after welding coincident points, signed volume against
// the analytic one), texture triangles that all turn the same way, materials on every face,
// the node's name and ownership, refusals that create nothing, and raw-array objects whose
// indices point outside the points.
#include "common/geometry_checks.h"
#include "common/zan_test_helpers.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/processing/primitives.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scenenode.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <vector>

namespace
{
constexpr double kPi = 3.14159265358979323846;
using Vec = std::array<double, 3>;

struct NodeDelete
{
    void operator()(C3DSceneNode* node) const { node->Delete(); }
};
using NodePtr = std::unique_ptr<C3DSceneNode, NodeDelete>;

struct Mesh
{
    std::vector<Vec> points;
    std::vector<std::vector<int>> faces;
};

Mesh Read(const C3DObject& object)
{
    Mesh mesh;
    auto view = object.GetPointList()->GetPointView();
    for (size_t i = 0; i < view.GetCount(); ++i)
        mesh.points.push_back({view[i].m_X, view[i].m_Y, view[i].m_Z});
    object.GetFaceList()->ForEachFace([&](unsigned, const int* c, unsigned n)
                                      { mesh.faces.emplace_back(c, c + n); });
    return mesh;
}

Vec Sub(const Vec& a, const Vec& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec Cross(const Vec& a, const Vec& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vec& a, const Vec& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Twice the area vector of a face (Newell), relative to no centre.
Vec AreaVector(const Mesh& mesh, const std::vector<int>& face)
{
    Vec n{0, 0, 0};
    for (size_t k = 0; k < face.size(); ++k)
    {
        Vec c = Cross(mesh.points[face[k]], mesh.points[face[(k + 1) % face.size()]]);
        for (int a = 0; a < 3; ++a)
            n[a] += c[a];
    }
    return n;
}

// The divergence theorem over fan triangles: positive for an outward-facing closed surface.
double SignedVolume(const Mesh& mesh)
{
    double volume = 0;
    for (const auto& f : mesh.faces)
        for (size_t k = 1; k + 1 < f.size(); ++k)
            volume += Dot(mesh.points[f[0]], Cross(mesh.points[f[k]], mesh.points[f[k + 1]]));
    return volume / 6;
}

// Whether every edge of the non-degenerate faces, after welding points closer than \p tolerance,
// is used once in each direction; \p borders receives the number of unpaired directed edges.
::testing::AssertionResult Closed(const Mesh& mesh, double tolerance, int* borders = nullptr)
{
    std::vector<int> weld(mesh.points.size());
    for (size_t i = 0; i < mesh.points.size(); ++i)
    {
        weld[i] = int(i);
        for (size_t j = 0; j < i; ++j)
            if (weld[j] == int(j) &&
                std::sqrt(Dot(Sub(mesh.points[i], mesh.points[j]),
                              Sub(mesh.points[i], mesh.points[j]))) <= tolerance)
            {
                weld[i] = int(j);
                break;
            }
    }
    std::map<std::pair<int, int>, int> edges;
    for (const auto& f : mesh.faces)
    {
        std::vector<int> w;
        for (int c : f)
            w.push_back(weld[c]);
        bool degenerate = false;
        for (size_t a = 0; a < w.size(); ++a)
            degenerate = degenerate || w[a] == w[(a + 1) % w.size()] ||
                         (w.size() == 3 && w[a] == w[(a + 2) % 3]);
        if (degenerate)
            continue;
        for (size_t a = 0; a < w.size(); ++a)
            ++edges[{w[a], w[(a + 1) % w.size()]}];
    }
    int unpaired = 0;
    for (const auto& [edge, count] : edges)
    {
        if (count != 1)
            return ::testing::AssertionFailure() << "edge " << edge.first << "-" << edge.second
                                                 << " used " << count << " times one way";
        unpaired += edges.count({edge.second, edge.first}) ? 0 : 1;
    }
    if (borders)
        *borders = unpaired;
    if (unpaired && !borders)
        return ::testing::AssertionFailure() << unpaired << " edges without their opposite";
    return ::testing::AssertionSuccess();
}

const CUVWChannel* UVOf(const C3DObject& object)
{
    return object.GetChannels()->GetUVWChannelByIndex(0, false);
}

// The sign shared by every texture triangle of non-zero area (skipping those with no area in
// space when \p spatialOnly), or 0 when two disagree.
int UVWinding(const C3DObject& object, bool spatialOnly)
{
    const Mesh mesh = Read(object);
    const CUVWChannel* uv = UVOf(object);
    auto uvPoints = uv->GetUVWPointList()->GetPointView();
    int sign = 0;
    bool mixed = false;
    uv->GetFaceList()->ForEachFace(
        [&](unsigned face, const int* c, unsigned n)
        {
            if (spatialOnly && std::sqrt(Dot(AreaVector(mesh, mesh.faces[face]),
                                             AreaVector(mesh, mesh.faces[face]))) < 1e-9)
                return;
            for (unsigned k = 1; k + 1 < n; ++k)
            {
                const CUVWPoint &a = uvPoints[c[0]], &b = uvPoints[c[k]], &d = uvPoints[c[k + 1]];
                const double area = double(b.m_U - a.m_U) * (d.m_V - a.m_V) -
                                    double(b.m_V - a.m_V) * (d.m_U - a.m_U);
                if (std::fabs(area) < 1e-9)
                    continue;
                const int s = area > 0 ? 1 : -1;
                mixed = mixed || (sign && s != sign);
                sign = s;
            }
        });
    return mixed ? 0 : sign;
}

// What every primitive node shares: its name, one object held only by the node, no scene, the
// material on every face, and a texture channel of the given ID parallel to the faces.
C3DObject& CheckNode(const NodePtr& node, const char* name, bool withUV, unsigned uvID,
                     unsigned material)
{
    EXPECT_EQ(node->GetName(), CXTString(name));
    EXPECT_EQ(node->GetScene(), nullptr);
    auto* object = dynamic_cast<C3DObject*>(node->GetBaseObject());
    EXPECT_NE(object, nullptr);
    EXPECT_EQ(object->GetInstanceCount(), 1);
    const C3DFaceList& faces = *object->GetFaceList();
    zantest::ExpectFaceChunksParallel(faces);
    for (int f = 0; f < faces.GetSize(); ++f)
        EXPECT_EQ(faces.GetFaceMaterial(unsigned(f)), material) << name << " face " << f;
    EXPECT_EQ(object->GetChannels()->GetSize(), withUV ? 1 : 0);
    if (withUV)
    {
        EXPECT_TRUE(uvID == kZanNone || object->GetChannelByID(uvID, _ChannelUVW));
        zantest::ExpectChannelsParallel(faces, *object->GetChannels());
    }
    return *object;
}

bool Made(C3DSceneNode* node)
{
    NodePtr held(node);
    return node != nullptr;
}
} // namespace

TEST(Primitives, CubeHasItsEightCornersSixOutwardQuadsAndWholeSquareTextures)
{
    const C3DTPoint<float> centre(1, -2, 3);
    NodePtr node(CreateCube(centre, 2, 4, 6, true, 7, 1234));
    ASSERT_TRUE(node);
    C3DObject& cube = CheckNode(node, "Cube", true, 1234, 7);
    const Mesh mesh = Read(cube);
    ASSERT_EQ(mesh.points.size(), 8u);
    ASSERT_EQ(mesh.faces.size(), 6u);
    const int signs[8][3] = {{1, 1, 1},  {1, 1, -1},  {-1, 1, -1},  {-1, 1, 1},
                             {1, -1, 1}, {1, -1, -1}, {-1, -1, -1}, {-1, -1, 1}};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(mesh.points[i],
                  (Vec{1.0 + signs[i][0], -2.0 + 2 * signs[i][1], 3.0 + 3 * signs[i][2]}))
            << i;
    EXPECT_EQ(mesh.faces[0], (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(mesh.faces[5], (std::vector<int>{5, 4, 7, 6}));
    EXPECT_TRUE(Closed(mesh, 0));
    EXPECT_DOUBLE_EQ(SignedVolume(mesh), 2 * 4 * 6);
    EXPECT_EQ(UVOf(cube)->GetPointList()->GetSize(), 4);
    EXPECT_EQ(UVWinding(cube, false), -1);

    NodePtr plain(CreateCube(C3DTPoint<float>(0, 0, 0), 2, 1, 1, false, 0, 0));
    for (const Vec& p : Read(CheckNode(plain, "Cube", false, 0, 0)).points)
        EXPECT_EQ(std::fabs(p[0]), 1.0);
}

TEST(Primitives, SphereIsClosedOutwardAndItsTextureRowsRunFromPoleToPole)
{
    NodePtr small(CreateSphere(C3DTPoint<float>(0, 0, 0), 2, 2, 4, true, 3, 55));
    ASSERT_TRUE(small);
    C3DObject& octa = CheckNode(small, "Sphere", true, 55, 3);
    EXPECT_EQ(octa.GetPointNbr(), 15);
    EXPECT_EQ(octa.GetFaceNbr(), 20);
    auto uv = UVOf(octa)->GetUVWPointList()->GetPointView();
    ASSERT_EQ(uv.GetCount(), 15u);
    for (int j = 0; j < 5; ++j)
        EXPECT_TRUE(uv[j].m_V == 0.0f && uv[10 + j].m_V == 1.0f) << j;

    double previousError = 1;
    for (auto [rings, segments] : {std::pair{3, 3}, {8, 12}, {16, 32}})
    {
        const double r = 1.5;
        NodePtr node(CreateSphere(C3DTPoint<float>(5, 0, -1), r, rings, segments, true, 9, 2));
        ASSERT_TRUE(node);
        C3DObject& sphere = CheckNode(node, "Sphere", true, 2, 9);
        const Mesh mesh = Read(sphere);
        EXPECT_EQ(mesh.points.size(), size_t((rings + 1) * (segments + 1)));
        EXPECT_EQ(mesh.faces.size(), size_t(2 * rings * (segments + 1)));
        for (const Vec& p : mesh.points)
            EXPECT_NEAR(std::sqrt(Dot(Sub(p, {5, 0, -1}), Sub(p, {5, 0, -1}))), r, 1e-5);
        EXPECT_TRUE(Closed(mesh, 1e-5)) << rings << "x" << segments;
        const double exact = 4.0 / 3 * kPi * r * r * r;
        const double error = (exact - SignedVolume(mesh)) / exact;
        EXPECT_GT(error, 0); // inscribed
        EXPECT_LT(error, previousError);
        previousError = error;
        EXPECT_EQ(UVWinding(sphere, true), -1);
    }
    EXPECT_LT(previousError, 0.03);
}

TEST(Primitives, CylinderAndConeAreClosedPrismsAndPyramidsOverTheirPolygon)
{
    for (auto [segments, rows] : {std::pair{3u, 1u}, {8u, 3u}, {24u, 2u}})
    {
        const double r = 2, h = 3;
        const double base = 0.5 * segments * r * r * std::sin(2 * kPi / segments);
        NodePtr cylinder(
            CreateCylinder(C3DTPoint<float>(0, 1, 0), r, h, segments, rows, true, true, 4, 77));
        ASSERT_TRUE(cylinder);
        C3DObject& solid = CheckNode(cylinder, "Cylinder", true, 77, 4);
        Mesh mesh = Read(solid);
        EXPECT_EQ(mesh.points.size(), (rows + 1) * (segments + 1) + 2 * (segments + 2));
        EXPECT_EQ(mesh.faces.size(), 2 * (segments + 1) * rows + 2 * segments);
        EXPECT_TRUE(Closed(mesh, 1e-6)) << segments << "x" << rows;
        EXPECT_NEAR(SignedVolume(mesh), base * h, 1e-5 * base * h);
        EXPECT_EQ(UVWinding(solid, false), -1);

        NodePtr tube(
            CreateCylinder(C3DTPoint<float>(0, 0, 0), r, h, segments, rows, false, false, 4, 77));
        ASSERT_TRUE(tube);
        mesh = Read(CheckNode(tube, "Cylinder", false, 0, 4));
        EXPECT_EQ(mesh.points.size(), (rows + 1) * (segments + 1));
        EXPECT_EQ(mesh.faces.size(), 2 * (segments + 1) * rows);
        int borders = 0;
        EXPECT_TRUE(Closed(mesh, 1e-6, &borders));
        EXPECT_EQ(borders, int(2 * segments)); // the two end rings
        for (const auto& f : mesh.faces) // every face that has an area faces away from the axis
        {
            const Vec n = AreaVector(mesh, f), p = mesh.points[f[0]];
            EXPECT_TRUE(Dot(n, n) < 1e-12 || n[0] * p[0] + n[2] * p[2] > 0);
        }

        NodePtr cone(CreateCone(C3DTPoint<float>(0, 0, 2), r, h, segments, rows, true, 5, 78));
        ASSERT_TRUE(cone);
        C3DObject& pyramid = CheckNode(cone, "Cone", true, 78, 5);
        mesh = Read(pyramid);
        EXPECT_EQ(mesh.points.size(), segments + 2 + (segments + 1) * (rows + 1));
        EXPECT_EQ(mesh.faces.size(), (2 * rows + 1) * segments);
        EXPECT_EQ(UVOf(pyramid)->GetPointList()->GetSize(), int(mesh.points.size()));
        EXPECT_TRUE(Closed(mesh, 1e-6)) << segments << "x" << rows;
        EXPECT_NEAR(SignedVolume(mesh), base * h / 3, 1e-5 * base * h);
        EXPECT_EQ(UVWinding(pyramid, false), -1);
    }
}

TEST(Primitives, CapsuleIsClosedAlongEachAxisWithCapAndBodyMaterials)
{
    const float r = 1, h = 2;
    for (auto [segments, half, body] : {std::array{3u, 1u, 1u}, {12u, 4u, 3u}, {32u, 8u, 2u}})
        for (_AXIS_INFO axis : {_AxisX, _AxisY, _AxisZ})
            for (int placement : {0, 1})
            {
                NodePtr node(CreateCapsule(C3DTPoint<float>(1, 2, 3), r, h, segments, half, body,
                                           axis, placement, 10, 20));
                ASSERT_TRUE(node);
                C3DObject& capsule = *dynamic_cast<C3DObject*>(node->GetBaseObject());
                EXPECT_EQ(node->GetName(), CXTString("Capsule"));
                EXPECT_EQ(capsule.GetChannels()->GetSize(), 0);
                const Mesh mesh = Read(capsule);
                const unsigned rows = body + 2 * half;
                EXPECT_EQ(mesh.points.size(), (rows - 1) * segments + 2);
                ASSERT_EQ(mesh.faces.size(), segments * rows);
                unsigned triangles = 0, caps = 0, bodies = 0;
                for (unsigned f = 0; f < mesh.faces.size(); ++f)
                {
                    triangles += mesh.faces[f].size() == 3;
                    const unsigned m = capsule.GetFaceList()->GetFaceMaterial(f);
                    caps += m == 10;
                    bodies += m == 20;
                }
                EXPECT_EQ(triangles, 2 * segments);
                EXPECT_EQ(caps, 2 * half * segments);
                EXPECT_EQ(bodies, body * segments);
                EXPECT_TRUE(Closed(mesh, 0));
                const double exact = kPi * r * r * h + 4.0 / 3 * kPi * r * r * r;
                const double error = (exact - SignedVolume(mesh)) / exact;
                EXPECT_GT(error, 0);
                EXPECT_LT(error, segments >= 32 ? 0.02 : 0.85);
                C3DTPoint<float> lo, hi;
                ASSERT_TRUE(capsule.GetBoundingBox(lo, hi, _BBoxPoints));
                const double centre[3] = {1, 2, 3};
                EXPECT_NEAR(hi[axis] - lo[axis], h + 2 * r, 1e-5);
                EXPECT_NEAR(lo[axis], placement ? centre[axis] : centre[axis] - h / 2 - r, 1e-5);
            }
}

TEST(Primitives, PlaneFacesItsNormalWithTexturesTurningTheSameWay)
{
    const C3DTVector<float> normals[] = {{0, 0, 1}, {0, 1, 0},  {0, -3, 0},
                                         {1, 0, 0}, {1, 2, -2}, {0.001f, 1, 0}};
    for (const auto& normal : normals)
        for (auto [nx, ny] : {std::pair{1u, 1u}, {3u, 5u}})
        {
            NodePtr node(
                CreatePlane(C3DTPoint<float>(1, 1, 1), normal, 4, 2, nx, ny, true, 6, kZanNone));
            ASSERT_TRUE(node);
            C3DObject& plane = CheckNode(node, "Plane", true, kZanNone, 6);
            const Mesh mesh = Read(plane);
            EXPECT_EQ(mesh.points.size(), (nx + 1) * (ny + 1));
            EXPECT_EQ(mesh.faces.size(), nx * ny);
            const Vec n{normal.m_X, normal.m_Y, normal.m_Z};
            Vec total{0, 0, 0};
            for (const auto& f : mesh.faces)
            {
                const Vec a = AreaVector(mesh, f);
                EXPECT_NEAR(Dot(a, n) / std::sqrt(Dot(a, a) * Dot(n, n)), 1, 1e-6);
                for (int k = 0; k < 3; ++k)
                    total[k] += a[k] / 2;
            }
            EXPECT_NEAR(std::sqrt(Dot(total, total)), 4 * 2, 1e-4);
            for (const Vec& p : mesh.points)
                EXPECT_NEAR(Dot(Sub(p, {1, 1, 1}), n), 0, 1e-5);
            int borders = 0;
            EXPECT_TRUE(Closed(mesh, 0, &borders));
            EXPECT_EQ(borders, int(2 * (nx + ny)));
            EXPECT_EQ(UVWinding(plane, false), 1);
        }
}

TEST(Primitives, BadParametersCreateNothing)
{
    const unsigned nodes = C3DSceneNode::GetNextNodeID();
    const unsigned objects = C3DBaseObject::GetNextObjectID();
    const C3DTPoint<float> o(0, 0, 0), bad(0, std::numeric_limits<float>::infinity(), 0);
    const double nan = std::nan("");
    const C3DTVector<float> up(0, 1, 0), zero(0, 0, 0), nanNormal(nan, 1, 0);
    EXPECT_TRUE(zantest::AllRefused({
        Made(CreateCube(o, -1, 1, 1, true, 0, 0)),
        Made(CreateCube(o, 1, nan, 1, true, 0, 0)),
        Made(CreateCube(o, 1, 1, 1e300, false, 0, 0)),
        Made(CreateCube(bad, 1, 1, 1, true, 0, 0)),
        Made(CreateSphere(o, -1, 4, 4, true, 0, 0)),
        Made(CreateSphere(o, 1, 1, 4, true, 0, 0)),
        Made(CreateSphere(o, 1, 4, 2, true, 0, 0)),
        Made(CreateSphere(o, 1, -4, 4, true, 0, 0)),
        Made(CreateSphere(o, 1, 1 << 15, 1 << 14, true, 0, 0)),
        Made(CreateSphere(o, 1, 0x7FFFFFFF, 0x7FFFFFFF, true, 0, 0)),
        Made(CreateCylinder(o, 1, -1, 8, 1, true, true, 0, 0)),
        Made(CreateCylinder(o, 1, 1, 0, 1, true, true, 0, 0)),
        Made(CreateCylinder(o, 1, 1, 8, 0, true, true, 0, 0)),
        Made(CreateCylinder(o, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, true, true, 0, 0)),
        Made(CreateCone(o, nan, 1, 8, 1, true, 0, 0)),
        Made(CreateCone(o, 1, 1, 2, 1, true, 0, 0)),
        Made(CreateCone(o, 1, 1, 1u << 20, 1u << 10, true, 0, 0)),
        Made(CreateCapsule(o, -1, 1, 8, 2, 1, _AxisY, 0, 0, 0)),
        Made(CreateCapsule(o, 1, nan, 8, 2, 1, _AxisY, 0, 0, 0)),
        Made(CreateCapsule(o, 1, 1, 8, 0, 1, _AxisY, 0, 0, 0)),
        Made(CreateCapsule(o, 1, 1, 8, 2, 0, _AxisY, 0, 0, 0)),
        Made(CreateCapsule(o, 1, 1, 8, 2, 1, _AXIS_INFO(3), 0, 0, 0)),
        Made(CreateCapsule(o, 1, 1, 8, 2, 1, _AxisY, 2, 0, 0)),
        Made(CreateCapsule(o, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, _AxisY, 0, 0, 0)),
        Made(CreatePlane(o, zero, 1, 1, 1, 1, true, 0, 0)),
        Made(CreatePlane(o, nanNormal, 1, 1, 1, 1, true, 0, 0)),
        Made(CreatePlane(o, up, -1, 1, 1, 1, true, 0, 0)),
        Made(CreatePlane(o, up, 1, 1, 0, 1, true, 0, 0)),
        Made(CreatePlane(o, up, 1, 1, 1u << 16, 1u << 14, true, 0, 0)),
    }));
    EXPECT_EQ(C3DSceneNode::GetNextNodeID(), nodes);
    EXPECT_EQ(C3DBaseObject::GetNextObjectID(), objects);
}

TEST(Primitives, ObjectFromArraysCountsByBytesAndSurvivesIndicesOutsideItsPoints)
{
    zantest::CTempConfigDir config;
    const float points[] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 9};
    const int triangles[] = {0, 1, 2, 0, 2, 3};
    const int quads[] = {0, 1, 2, 3, 3, 2, 1};
    auto release = [](C3DObject* object) { object->Delete(); };
    std::unique_ptr<C3DObject, decltype(release)> object(
        CreateObjectFromArrays(points, sizeof points, triangles, sizeof triangles, quads,
                               sizeof quads),
        release);
    ASSERT_TRUE(object);
    EXPECT_EQ(object->GetPointNbr(), 4); // the thirteenth float is ignored
    EXPECT_EQ(Read(*object).faces,
              (std::vector<std::vector<int>>{{0, 1, 2}, {0, 2, 3}, {0, 1, 2, 3}}));
    EXPECT_EQ(object->GetFaceList()->GetFaceMaterial(2), 0u);

    object.reset(CreateObjectFromArrays(points, 48, triangles, sizeof triangles, quads, 15));
    ASSERT_TRUE(object);
    EXPECT_TRUE(object->IsTriangular());
    EXPECT_EQ(object->GetFaceNbr(), 2);

    EXPECT_TRUE(zantest::AllRefused({
        CreateObjectFromArrays(nullptr, 12, triangles, 12, nullptr, 0) != nullptr,
        CreateObjectFromArrays(points, 12, nullptr, 12, nullptr, 0) != nullptr,
        CreateObjectFromArrays(points, 12, triangles, 12, nullptr, 16) != nullptr,
        CreateObjectFromArrays(points, size_t(12) << 29, nullptr, 0, nullptr, 0) != nullptr,
    }));

    // Faces naming missing points are kept as given but made invalid, so that nothing later
    // reads through them: boxes, archives (which refuse valid faces naming missing points)
    // and cleaning, which drops them with the point only they used.
    const int wild[] = {0, 1, 7, 0, 1, 2, -5, 1, 3, 3, 2, 0};
    object.reset(CreateObjectFromArrays(points, 48, wild, sizeof wild, nullptr, 0));
    ASSERT_TRUE(object);
    const Mesh mesh = Read(*object);
    EXPECT_EQ(mesh.faces[0], (std::vector<int>{0, 1, 7}));
    EXPECT_EQ(mesh.faces[2].size(), 3u);
    for (unsigned f = 0; f < 4; ++f)
        EXPECT_EQ(object->GetFaceList()->IsFaceFlagSet(f, _FaceInvalid), f == 0 || f == 2) << f;
    EXPECT_NE(config.LogText().find("2 of 4 faces"), std::string::npos);
    C3DTPoint<float> lo, hi;
    ASSERT_TRUE(object->GetBoundingBox(lo, hi, _BBoxFaces));
    EXPECT_EQ(hi[0], 1.0f);
    C3DObject loaded;
    zantest::RoundTrip(*object, loaded);
    EXPECT_EQ(Read(loaded).faces, mesh.faces);
    for (C3DObject* o : {object.get(), &loaded})
    {
        EXPECT_TRUE(o->Clean());
        EXPECT_EQ(Read(*o).faces, (std::vector<std::vector<int>>{{0, 1, 2}, {3, 2, 0}}));
        zantest::ExpectFaceChunksParallel(*o->GetFaceList());
    }
}
