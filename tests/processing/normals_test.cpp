// Normals: the smoothing rules on small meshes whose answers are known (cube, seed rule,
// short faces, cancelling sums, recomputation), the four weightings against a slow reference
// written from their definitions on random meshes, the order of the stored normals, the
// specified normals (generation flags, recomputation, comparisons, transforms), the golden
// archive of a specified-normal channel, bad input, two objects computed on two threads, and
// one large object smoothed on one thread and on several.
//
// The golden file tests/data/processing/specnormals.bin is written by the disabled test
// SpecNormalArchive.DISABLED_WriteGoldenFile:
//   build/tests/processing_tests --gtest_also_run_disabled_tests
//       --gtest_filter=SpecNormalArchive.DISABLED_WriteGoldenFile
// Rewrite it only when the archive layout is meant to change.
#include "common/zan_test_helpers.h"
#include "scene/scene_test_helpers.h"

#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

namespace
{
using V3 = std::array<double, 3>;
using Faces = std::vector<std::vector<int>>;

struct CObjectRelease
{
    void operator()(C3DObject* object) const { object->Delete(); }
};
using ObjectPtr = std::unique_ptr<C3DObject, CObjectRelease>;

ObjectPtr MakeMesh(const std::vector<V3>& points, const Faces& faces)
{
    ObjectPtr mesh(new C3DObject);
    auto* pointList = C3DPointList::Create();
    pointList->SetSize(int(points.size()));
    for (size_t i = 0; i < points.size(); ++i)
        (*pointList)[int(i)].Set(float(points[i][0]), float(points[i][1]), float(points[i][2]));
    auto* faceList = C3DFaceList::Create();
    for (const auto& face : faces)
        EXPECT_NE(faceList->AddFace(face.data(), unsigned(face.size())), kZanNone);
    mesh->SetPointList(pointList, true);
    mesh->SetFaceList(faceList, true);
    return mesh;
}

// A unit cube with outward quads.
ObjectPtr MakeCube()
{
    std::vector<V3> points;
    for (int i = 0; i < 8; ++i)
        points.push_back({double(i & 1), double((i >> 1) & 1), double((i >> 2) & 1)});
    return MakeMesh(
        points,
        {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}});
}

double Radians(double degrees)
{
    return degrees * M_PI / 180.0;
}

// The normal index of every corner at point p, face by face.
std::vector<int> IndexesAt(const CPointNormalChannel& channel, const CFaceList& faces, int p)
{
    std::vector<int> result;
    for (unsigned f = 0; f < unsigned(faces.GetSize()); ++f)
    {
        int count, normalCount;
        const int* items = faces.GetIndexes(f, count);
        const int* normals = channel.GetNormalFaceList()->GetIndexes(f, normalCount);
        for (int k = 0; k < count && k < normalCount; ++k)
            if (items[k] == p)
                result.push_back(normals[k]);
    }
    return result;
}

V3 NormalAt(const CPointNormalChannel& channel, unsigned face, int corner)
{
    int count;
    const int* normals = channel.GetNormalFaceList()->GetIndexes(face, count);
    const C3DTVector<float>& v = (*channel.GetNormalVectorList())[normals[corner]];
    return {v.m_X, v.m_Y, v.m_Z};
}

bool HasBreak(const C3DGeomObject& object, int p)
{
    return (*object.GetPointList())[p].IsOneFlagSet(_PointNormalBreak);
}

void ExpectNear(const V3& a, const V3& b, double tolerance, const char* what = "")
{
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(a[size_t(c)], b[size_t(c)], tolerance) << what << " component " << c;
}

// ------------------------------------------------------------------ reference smoothing

V3 Sub(const V3& a, const V3& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
double Dot(const V3& a, const V3& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Point normals per corner, straight from the definitions: for each point, the faces around
// it in increasing order, grouped against a seed, each corner's contribution computed from
// the weighting's formula in double precision. No hashing, no graph.
struct CReference
{
    std::vector<std::vector<V3>> m_Corners; ///< per face, per corner
    std::vector<bool> m_Breaks;
};

CReference ReferenceSmoothing(C3DObject& object, float angle, unsigned mode)
{
    const C3DPointList& pointList = *object.GetPointList();
    C3DFaceList& faceList = *object.GetFaceList();
    const int pointNbr = pointList.GetSize();
    const unsigned faceNbr = unsigned(faceList.GetSize());
    std::vector<V3> points(static_cast<size_t>(pointNbr));
    for (int i = 0; i < pointNbr; ++i)
        points[size_t(i)] = {pointList[i].m_X, pointList[i].m_Y, pointList[i].m_Z};
    CGeomInfo geom(&object);
    std::vector<std::array<float, 3>> units(faceNbr);
    std::vector<V3> raws(faceNbr);
    std::vector<std::vector<int>> corners(faceNbr);
    for (unsigned f = 0; f < faceNbr; ++f)
    {
        C3DFace face;
        faceList.GetFace(f, face);
        C3DTVector<float> unit, raw;
        face.GetNormal(&geom, unit, true);
        face.GetNormal(&geom, raw, false);
        units[f] = {unit.m_X, unit.m_Y, unit.m_Z};
        raws[f] = {raw.m_X, raw.m_Y, raw.m_Z};
        int count;
        const int* items = faceList.GetIndexes(f, count);
        corners[f].assign(items, items + count);
    }
    auto contribution = [&](unsigned f, int p) -> V3
    {
        const std::vector<int>& c = corners[f];
        const size_t n = c.size();
        size_t k = 0;
        while (c[k] != p)
            ++k;
        const V3 e1 = Sub(points[size_t(c[(k + n - 1) % n])], points[size_t(p)]);
        const V3 e2 = Sub(points[size_t(c[(k + 1) % n])], points[size_t(p)]);
        const V3 unit = {units[f][0], units[f][1], units[f][2]};
        switch (mode)
        {
        case 1:
            return unit;
        case 3:
        {
            const double divisor = Dot(e1, e1) * Dot(e2, e2);
            if (divisor == 0)
                return {0, 0, 0};
            return {raws[f][0] / divisor, raws[f][1] / divisor, raws[f][2] / divisor};
        }
        case 4:
        {
            const double root = std::sqrt(Dot(e1, e1) * Dot(e2, e2));
            const double a =
                root < 1e-15 ? M_PI / 2 : std::acos(std::clamp(Dot(e1, e2) / root, -1.0, 1.0));
            return {unit[0] * a, unit[1] * a, unit[2] * a};
        }
        default:
            return raws[f];
        }
    };

    CReference result;
    result.m_Corners.resize(faceNbr);
    for (unsigned f = 0; f < faceNbr; ++f)
        result.m_Corners[f].assign(corners[f].size(), V3{0, 0, 0});
    result.m_Breaks.assign(size_t(pointNbr), false);
    const float cosLimit = std::cos(angle);
    for (int p = 0; p < pointNbr; ++p)
    {
        std::vector<unsigned> around;
        for (unsigned f = 0; f < faceNbr; ++f)
            if (!faceList.IsFaceOneFlagSet(f, _FaceInvalid | _FaceExcluded) &&
                std::count(corners[f].begin(), corners[f].end(), p))
                around.push_back(f);
        std::vector<int> state(around.size(), 0);
        for (size_t seed = 0; seed < around.size(); ++seed)
        {
            if (state[seed])
                continue;
            const auto& s = units[around[seed]];
            V3 sum = {0, 0, 0};
            std::vector<size_t> group;
            for (size_t j = seed; j < around.size(); ++j)
            {
                if (state[j])
                    continue;
                const auto& u = units[around[j]];
                if (j != seed && cosLimit > s[0] * u[0] + s[1] * u[1] + s[2] * u[2])
                {
                    result.m_Breaks[size_t(p)] = true;
                    continue;
                }
                const V3 c = contribution(around[j], p);
                for (int i = 0; i < 3; ++i)
                    sum[size_t(i)] += c[size_t(i)];
                group.push_back(j);
            }
            const double length = std::sqrt(Dot(sum, sum));
            if (length > 1e-15)
                for (double& x : sum)
                    x /= length;
            for (size_t j : group)
            {
                state[j] = 1;
                const unsigned f = around[j];
                for (size_t k = 0; k < corners[f].size(); ++k)
                    if (corners[f][k] == p)
                        result.m_Corners[f][k] = sum;
            }
        }
    }
    return result;
}

// Random points in a box (some repeated, so that some faces have no area) and random
// polygons of 3 to 6 corners, and a few of 17 to 24; about one face in ten repeats a corner,
// and every long one does.
ObjectPtr MakeRandomMesh(unsigned seed, int pointNbr, int faceNbr)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
    std::vector<V3> points;
    for (int i = 0; i < pointNbr; ++i)
    {
        if (i > 0 && random() % 10 == 0)
            points.push_back(points[random() % points.size()]);
        else
            points.push_back({coordinate(random), coordinate(random), coordinate(random)});
    }
    Faces faces;
    for (int f = 0; f < faceNbr; ++f)
    {
        // Now and then a long polygon, whose repeated corners are found another way.
        const int count = random() % 25 == 0 ? 17 + int(random() % 8) : 3 + int(random() % 4);
        std::vector<int> face;
        while (int(face.size()) < count)
        {
            const int p = int(random() % unsigned(pointNbr));
            if (std::find(face.begin(), face.end(), p) == face.end())
                face.push_back(p);
        }
        if (random() % 10 == 0)
            face[1] = face[0];
        if (count > 16)
            face[size_t(count) - 2] = face[3];
        faces.push_back(face);
    }
    return MakeMesh(points, faces);
}

struct CRandomCase
{
    unsigned m_Seed;
    unsigned m_Mode;
    double m_Degrees;
};
} // namespace

// ------------------------------------------------------------------ known answers

TEST(PointNormals, CubeSplitsBelowARightAngleAndSmoothsAboveIt)
{
    ObjectPtr cube = MakeCube();
    ASSERT_TRUE(cube->SetSmoothAngle(float(Radians(80))));
    CPointNormalChannel* channel = cube->GetPointNormalChannel();
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(channel->IsFlagSet(_ChannelModified));
    for (int p = 0; p < 8; ++p)
    {
        const std::vector<int> at = IndexesAt(*channel, *cube->GetFaceList(), p);
        ASSERT_EQ(at.size(), 3u);
        EXPECT_EQ(std::set<int>(at.begin(), at.end()).size(), 3u) << "point " << p;
        EXPECT_TRUE(HasBreak(*cube, p));
    }
    // Each face's group is the face alone: its corners all carry its own normal, stored once.
    EXPECT_EQ(channel->GetNormalVectorList()->GetSize(), 6);
    ExpectNear(NormalAt(*channel, 1, 0), {0, 0, 1}, 1e-6);

    ASSERT_TRUE(cube->SetSmoothAngle(float(Radians(100))));
    channel = cube->GetPointNormalChannel();
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->GetNormalVectorList()->GetSize(), 8);
    const double d = 1 / std::sqrt(3.0);
    for (int p = 0; p < 8; ++p)
    {
        const std::vector<int> at = IndexesAt(*channel, *cube->GetFaceList(), p);
        EXPECT_EQ(std::set<int>(at.begin(), at.end()).size(), 1u) << "point " << p;
        EXPECT_FALSE(HasBreak(*cube, p));
    }
    // Point 7 is the (1, 1, 1) corner: the three faces' area normals sum along the diagonal.
    ExpectNear(NormalAt(*channel, 1, 2), {d, d, d}, 1e-6);
}

TEST(PointNormals, FacesAreGroupedAgainstTheSeedOnly)
{
    // Three triangles around the origin: the seed (face 0) faces +z, faces 1 and 2 lean 60
    // degrees to either side of it, so 120 degrees apart from each other.
    auto triangle = [](const V3& n)
    {
        const V3 u = {0, 1, 0};
        const V3 b = {n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2],
                      n[0] * u[1] - n[1] * u[0]};
        return std::vector<V3>{{0, 0, 0}, u, b};
    };
    const double s = std::sin(Radians(60)), c = std::cos(Radians(60));
    std::vector<V3> points;
    for (const V3& n : {V3{0, 0, 1}, V3{s, 0, c}, V3{-s, 0, c}})
        for (const V3& p : triangle(n))
            points.push_back(p);
    points[3] = points[6] = points[0];
    ObjectPtr mesh = MakeMesh(points, {{0, 1, 2}, {0, 4, 5}, {0, 7, 8}});
    ASSERT_TRUE(mesh->SetSmoothMode(_SmoothModeUnweighted));

    ASSERT_TRUE(mesh->SetSmoothAngle(float(Radians(70))));
    CPointNormalChannel* channel = mesh->GetPointNormalChannel();
    ASSERT_NE(channel, nullptr);
    const std::vector<int> at = IndexesAt(*channel, *mesh->GetFaceList(), 0);
    ASSERT_EQ(at.size(), 3u);
    EXPECT_EQ(at[0], at[1]);
    EXPECT_EQ(at[0], at[2]);
    EXPECT_FALSE(HasBreak(*mesh, 0));
    ExpectNear(NormalAt(*channel, 0, 0), {0, 0, 1}, 1e-6); // the two tilts cancel sideways

    // Below 60 degrees the leaning faces each stand alone, and the point breaks.
    ASSERT_TRUE(mesh->SetSmoothAngle(float(Radians(50))));
    channel = mesh->GetPointNormalChannel();
    const std::vector<int> split = IndexesAt(*channel, *mesh->GetFaceList(), 0);
    EXPECT_EQ(std::set<int>(split.begin(), split.end()).size(), 3u);
    EXPECT_TRUE(HasBreak(*mesh, 0));
}

TEST(PointNormals, ShortFacesAndCancellingSums)
{
    // A triangle and a two-point face sharing point 0: the short face gets no normals and
    // adds nothing to the triangle's.
    ObjectPtr mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 1, 2}, {0, 3}});
    CPointNormalChannel* channel = mesh->GetPointNormalChannel();
    ASSERT_NE(channel, nullptr);
    const CNormalFaceList& normalFaces = *channel->GetNormalFaceList();
    ASSERT_EQ(normalFaces.GetSize(), 2);
    EXPECT_TRUE(normalFaces.IsFaceFlagsSet(1, _FaceInvalid | _FaceExcluded));
    EXPECT_EQ(normalFaces.GetFaceSize(1), 0);
    EXPECT_FALSE(normalFaces.IsFaceOneFlagSet(0, _FaceInvalid));
    for (int k = 0; k < 3; ++k)
        ExpectNear(NormalAt(*channel, 0, k), {0, 0, 1}, 1e-7);

    // The same triangle twice with opposite windings: at a half-turn smoothing angle they are
    // one group and their sum, (0, 0, 0), is kept as it is.
    ObjectPtr twice = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 1}});
    ASSERT_TRUE(twice->SetSmoothAngle(float(M_PI)));
    channel = twice->GetPointNormalChannel();
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->GetNormalVectorList()->GetSize(), 1);
    ExpectNear(NormalAt(*channel, 1, 2), {0, 0, 0}, 0);
}

TEST(PointNormals, RecomputesOnlyWhenTheAngleOrTheGeometryChanged)
{
    zantest::CTempConfigDir config;
    // Each computation leaves one timing line in the log: count them.
    auto computations = [&]
    {
        const std::string log = config.LogText();
        size_t lines = 0;
        for (size_t at = log.find("CPointNormalChannel::InitNormals time ");
             at != std::string::npos;
             at = log.find("CPointNormalChannel::InitNormals time ", at + 1))
            ++lines;
        return lines;
    };
    ObjectPtr cube = MakeCube();
    CPointNormalChannel* channel = cube->GetPointNormalChannel();
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(cube->GetPointNormalChannel(), channel);
    EXPECT_EQ(computations(), 1u) << "the same angle recomputed";
    EXPECT_EQ(channel->GetSmoothAngle(), cube->GetSmoothAngle());

    // Above a right angle the cube's corners are smoothed: one normal per point.
    ASSERT_TRUE(cube->SetSmoothAngle(1.7f));
    ASSERT_NE(cube->GetPointNormalChannel(), nullptr);
    EXPECT_EQ(computations(), 2u) << "a new angle did not recompute";
    EXPECT_EQ(channel->GetSmoothAngle(), 1.7f);
    EXPECT_EQ(channel->GetNormalVectorList()->GetSize(), 8);

    // Moving a point makes the channel stale; the next request follows the geometry, and
    // the lists it rewrites in place hold what a new channel would.
    (*cube->GetPointList())[7].Set(2, 2, 2);
    cube->Invalidate(_InvalidatePoints, true);
    EXPECT_TRUE(channel->IsFlagSet(_ChannelModified));
    ASSERT_NE(cube->GetPointNormalChannel(), nullptr);
    EXPECT_EQ(computations(), 3u);
    ObjectPtr fresh = MakeCube();
    (*fresh->GetPointList())[7].Set(2, 2, 2);
    ASSERT_TRUE(fresh->SetSmoothAngle(1.7f));
    const CPointNormalChannel* expected = fresh->GetPointNormalChannel();
    ASSERT_NE(expected, nullptr);
    ASSERT_EQ(channel->GetNormalVectorList()->GetSize(),
              expected->GetNormalVectorList()->GetSize());
    for (int f = 0; f < 6; ++f)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(NormalAt(*channel, unsigned(f), k), NormalAt(*expected, unsigned(f), k))
                << "face " << f << " corner " << k;
}

TEST(PointNormals, ModeZeroFollowsTheSceneAndUnknownModesWeighByArea)
{
    // A fan of one large and one small triangle around point 0, at 30 degrees to each other:
    // area weighting leans to the large one, unweighted halves the angle.
    const double t = Radians(30);
    ObjectPtr mesh = MakeMesh(
        {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {5, 5, 5}, {-1, 0, 0}, {0, -std::cos(t), std::sin(t)}},
        {{0, 1, 2}, {0, 4, 5}});
    zantest::ScenePtr scene(C3DScene::Create());
    zantest::AddNode(*scene, nullptr, "Fan", mesh.get());
    mesh->AddRef();
    ASSERT_EQ(mesh->GetScene(), scene.get());
    ASSERT_TRUE(mesh->SetSmoothAngle(float(Radians(60))));

    auto normalAtZero = [&]() { return NormalAt(*mesh->GetPointNormalChannel(), 0, 0); };
    scene->SetSmoothMode(_SmoothModeUnweighted);
    const V3 unweighted = normalAtZero();
    scene->SetSmoothMode(_SmoothModeArea);
    const V3 area = normalAtZero();
    EXPECT_GT(std::fabs(unweighted[1] - area[1]), 0.05) << "the scene's mode was not used";
    ASSERT_TRUE(mesh->SetSmoothMode(_SmoothModeUnweighted));
    ExpectNear(normalAtZero(), unweighted, 0, "object mode");

    // Mode 7 on the engine weighs by area.
    CGeomInfo geom(mesh.get());
    CFaceNormalContributionInfo seven(&geom, _NormalSmoothMode(7)), two(&geom, _SmoothModeArea);
    C3DTVector<float> a(0, 0, 0), b(0, 0, 0);
    const C3DTVector<float> unit(0, 0, 1);
    ASSERT_TRUE(seven.SetCorner(0, 0, unit));
    ASSERT_TRUE(two.SetCorner(0, 0, unit));
    seven.AddContribution(a);
    two.AddContribution(b);
    EXPECT_EQ(a, b);
    EXPECT_NEAR(a.m_Z, 100.0, 1e-4); // twice the area of the 10 x 10 triangle
}

// ------------------------------------------------------------------ against the reference

// A point in hundreds of faces of distinct normals has as many groups at a zero angle: more
// than a byte can count. The last face is a long polygon through that point twice.
TEST(PointNormals, APointOfHundredsOfGroupsMatchesTheReference)
{
    std::vector<V3> points = {{0, 0, 0}};
    Faces faces;
    const int rim = 300;
    for (int i = 0; i <= rim; ++i)
    {
        const double angle = 2 * M_PI * i / (rim + 1);
        points.push_back({std::cos(angle), std::sin(angle), 0.3 * std::sin(7 * angle)});
    }
    for (int i = 1; i <= rim; ++i)
        faces.push_back({0, i, i + 1});
    std::vector<int> polygon = {0};
    for (int side = 0; side < 2; ++side)
    {
        for (int k = 0; k < 8; ++k)
        {
            polygon.push_back(int(points.size()));
            points.push_back({3.0 + k, 2.0 * side + 0.1 * k, 0.05 * k * k});
        }
        if (side == 0)
            polygon.push_back(0);
    }
    faces.push_back(polygon);
    ObjectPtr mesh = MakeMesh(points, faces);
    ASSERT_TRUE(mesh->SetSmoothAngle(0.0f));
    // The first computation makes the channel's lists; the second rewrites them in place.
    for (int pass = 0; pass < 2; ++pass)
    {
        SCOPED_TRACE(testing::Message() << "pass " << pass);
        mesh->Invalidate(_InvalidatePoints, true);
        const CPointNormalChannel* channel = mesh->GetPointNormalChannel();
        ASSERT_NE(channel, nullptr);
        const CReference reference = ReferenceSmoothing(*mesh, 0.0f, 2);
        EXPECT_GT(IndexesAt(*channel, *mesh->GetFaceList(), 0).back(), 255);
        for (unsigned f = 0; f < unsigned(faces.size()); ++f)
            for (size_t k = 0; k < reference.m_Corners[f].size(); ++k)
                ExpectNear(NormalAt(*channel, f, int(k)), reference.m_Corners[f][k], 1e-5);
    }
}

TEST(PointNormals, EveryWeightingMatchesTheReferenceOnRandomMeshes)
{
    for (unsigned mode : {1u, 2u, 3u, 4u})
        for (unsigned seed : {1u, 2u, 3u})
            for (double degrees : {0.0, 25.0, 60.0, 120.0, 180.0})
            {
                SCOPED_TRACE(testing::Message()
                             << "mode " << mode << " seed " << seed << " angle " << degrees);
                ObjectPtr mesh = MakeRandomMesh(seed * 7 + mode, 40, 120);
                ASSERT_TRUE(mesh->SetSmoothMode(_NormalSmoothMode(mode)));
                ASSERT_TRUE(mesh->SetSmoothAngle(float(Radians(degrees))));
                CPointNormalChannel* channel = mesh->GetPointNormalChannel();
                ASSERT_NE(channel, nullptr);
                const CReference reference =
                    ReferenceSmoothing(*mesh, mesh->GetSmoothAngle(), mode);
                const CFaceList& faces = *mesh->GetFaceList();
                for (unsigned f = 0; f < unsigned(faces.GetSize()); ++f)
                    for (size_t k = 0; k < reference.m_Corners[f].size(); ++k)
                    {
                        const V3& expected = reference.m_Corners[f][k];
                        const double scale = std::max(1.0, std::sqrt(Dot(expected, expected)));
                        ExpectNear(NormalAt(*channel, f, int(k)), expected, 2e-5 * scale);
                    }
                for (int p = 0; p < mesh->GetPointNbr(); ++p)
                    EXPECT_EQ(HasBreak(*mesh, p), reference.m_Breaks[size_t(p)]) << "point " << p;

                // Each normal is stored once, and indices come in the order normals are first
                // met: points in order, around each point the faces in order.
                const C3DVectorList& vectors = *channel->GetNormalVectorList();
                std::set<std::tuple<float, float, float>> distinct;
                for (int i = 0; i < vectors.GetSize(); ++i)
                    distinct.insert(
                        {vectors[i].m_X + 0.0f, vectors[i].m_Y + 0.0f, vectors[i].m_Z + 0.0f});
                EXPECT_EQ(int(distinct.size()), vectors.GetSize());
                int next = 0;
                std::vector<bool> seen(size_t(vectors.GetSize()), false);
                for (int p = 0; p < mesh->GetPointNbr(); ++p)
                    for (int index : IndexesAt(*channel, faces, p))
                        if (!seen[size_t(index)])
                        {
                            EXPECT_EQ(index, next) << "point " << p;
                            seen[size_t(index)] = true;
                            ++next;
                        }
                EXPECT_EQ(next, vectors.GetSize());
            }
}

// ------------------------------------------------------------------ bad input and threads

TEST(PointNormals, BadInputFailsAndLeavesEverythingAsItWas)
{
    ObjectPtr cube = MakeCube();
    CPointNormalChannel* channel = cube->GetPointNormalChannel();
    ASSERT_NE(channel, nullptr);
    const C3DVectorList* before = channel->GetNormalVectorList();
    (*cube->GetPointList())[3].SetFlags(_PointNormalBreak, true);
    (*cube->GetPointList())[5].Set(std::numeric_limits<float>::quiet_NaN(), 0, 0);
    cube->Invalidate(_InvalidatePoints, true);
    EXPECT_EQ(cube->GetPointNormalChannel(), nullptr);
    EXPECT_EQ(channel->GetNormalVectorList(), before);
    EXPECT_TRUE(channel->IsFlagSet(_ChannelModified)) << "a failed computation is still stale";
    EXPECT_TRUE(HasBreak(*cube, 3));

    CGeomInfo geom(cube.get());
    EXPECT_FALSE(channel->InitNormals(&geom, std::numeric_limits<float>::quiet_NaN()));
    // Nothing to smooth is no failure: the channel is simply up to date.
    CPointNormalChannel lone;
    EXPECT_TRUE(lone.InitNormals(nullptr, 0.5f));
    EXPECT_EQ(lone.GetNormalVectorList()->GetSize(), 0);
    CFaceNormalChannel faces;
    EXPECT_FALSE(faces.InitNormals(nullptr));
    ObjectPtr empty(new C3DObject);
    EXPECT_EQ(empty->GetPointNormalChannel(), nullptr);
    EXPECT_FALSE(empty->GenerateNormals(_GenerateEmptyFaces, _SmoothModeScene));
}

TEST(PointNormals, TwoObjectsOnTwoThreadsGiveTheBytesOfOneAfterTheOther)
{
    auto content = [](C3DObject& mesh)
    {
        CPointNormalChannel* channel = mesh.GetPointNormalChannel();
        std::vector<float> bytes;
        if (!channel)
            return bytes;
        const C3DVectorList& vectors = *channel->GetNormalVectorList();
        for (int i = 0; i < vectors.GetSize(); ++i)
            bytes.insert(bytes.end(), {vectors[i].m_X, vectors[i].m_Y, vectors[i].m_Z});
        const CFaceList& faces = *channel->GetNormalFaceList();
        faces.ForEachFace([&](unsigned, const int* items, unsigned count)
                          { bytes.insert(bytes.end(), items, items + count); });
        return bytes;
    };
    auto make = [](unsigned seed, unsigned mode)
    {
        ObjectPtr mesh = MakeRandomMesh(seed, 3000, 6000);
        mesh->SetSmoothMode(_NormalSmoothMode(mode));
        mesh->SetSmoothAngle(0.6f);
        return mesh;
    };
    ObjectPtr a = make(11, 4), b = make(12, 3);
    const std::vector<float> alone[2] = {content(*a), content(*b)};
    ASSERT_FALSE(alone[0].empty());
    ObjectPtr c = make(11, 4), d = make(12, 3);
    std::vector<float> together[2];
    std::thread first([&] { together[0] = content(*c); });
    std::thread second([&] { together[1] = content(*d); });
    first.join();
    second.join();
    EXPECT_EQ(together[0], alone[0]);
    EXPECT_EQ(together[1], alone[1]);
}

// A terrain of n x n cells over (n + 1)^2 points numbered row by row: waves, a cliff (normal
// breaks), flat terraces whose normal (0, 0, 1) comes back row after row, and two tilted
// strips far apart with the same exact slope, so that a normal first met in a middle row
// comes back in a late one. Some cells are two triangles, some quads repeat a corner, and a
// few faces are excluded.
ObjectPtr MakeTerrain(int n, bool shuffled = false)
{
    std::vector<V3> points;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
        {
            double z = 0.3 * std::sin(i * 0.37) * std::cos(j * 0.23) + (j > n / 2 ? 3.0 : 0.0);
            if ((i / 20) % 3 == 1)
                z = 2.0;
            if ((i >= 100 && i < 110) || (i >= 200 && i < 210))
                z = 0.5 * j;
            points.push_back({double(i), double(j), z});
        }
    Faces faces;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
        {
            const int p = i * (n + 1) + j, q = p + n + 1;
            if ((i + j) % 7 == 0)
            {
                faces.push_back({p, q, q + 1});
                faces.push_back({p, q + 1, p + 1});
            }
            else if ((i * j) % 53 == 5)
                faces.push_back({p, p, q + 1, p + 1});
            else
                faces.push_back({p, q, q + 1, p + 1});
        }
    if (shuffled)
        std::shuffle(faces.begin(), faces.end(), std::mt19937(7));
    ObjectPtr mesh = MakeMesh(points, faces);
    C3DFaceList& list = *mesh->GetFaceList();
    for (unsigned f = 0; f < unsigned(list.GetSize()); f += 997)
        list.SetFaceFlags(f, _FaceExcluded, true);
    return mesh;
}

// Each normal is stored once, and indices come in the order normals are first met: points
// in order, around each point the faces in order. Sorts the corners instead of searching the
// faces of every point, so that it checks large meshes too.
void ExpectDistinctInFirstMetOrder(const CPointNormalChannel& channel, const CFaceList& faces)
{
    const C3DVectorList& vectors = *channel.GetNormalVectorList();
    std::set<std::tuple<float, float, float>> distinct;
    for (int i = 0; i < vectors.GetSize(); ++i)
        distinct.insert({vectors[i].m_X + 0.0f, vectors[i].m_Y + 0.0f, vectors[i].m_Z + 0.0f});
    EXPECT_EQ(int(distinct.size()), vectors.GetSize());
    std::vector<std::array<int, 3>> corners; // point, face, normal index
    const CFaceList& normalFaces = *channel.GetNormalFaceList();
    for (unsigned f = 0; f < unsigned(faces.GetSize()); ++f)
    {
        if (faces.IsFaceOneFlagSet(f, _FaceInvalid | _FaceExcluded))
            continue;
        int count, normalCount;
        const int* items = faces.GetIndexes(f, count);
        const int* normals = normalFaces.GetIndexes(f, normalCount);
        ASSERT_EQ(count, normalCount);
        for (int k = 0; k < count; ++k)
            corners.push_back({items[k], int(f), normals[k]});
    }
    std::sort(corners.begin(), corners.end());
    int next = 0;
    std::vector<bool> seen(size_t(vectors.GetSize()), false);
    for (const auto& corner : corners)
    {
        ASSERT_GE(corner[2], 0);
        ASSERT_LT(corner[2], vectors.GetSize());
        if (seen[size_t(corner[2])])
            continue;
        ASSERT_EQ(corner[2], next) << "point " << corner[0] << " face " << corner[1];
        seen[size_t(corner[2])] = true;
        ++next;
    }
    EXPECT_EQ(next, vectors.GetSize());
}

TEST(PointNormals, SeveralThreadsGiveTheBytesOfOneThread)
{
    struct CThreadReset
    {
        ~CThreadReset() { OMPSetMaxThreadCount(0); }
    } reset;
    // Everything the smoothing decides, bit for bit: the normals, each corner's index, the
    // normal faces' flags and the break marks.
    auto content = [](C3DObject& mesh, int threads)
    {
        OMPSetMaxThreadCount(threads);
        mesh.Invalidate(_InvalidatePoints, true);
        std::vector<uint32_t> bytes;
        CPointNormalChannel* channel = mesh.GetPointNormalChannel();
        if (!channel)
            return bytes;
        const C3DVectorList& vectors = *channel->GetNormalVectorList();
        for (int i = 0; i < vectors.GetSize(); ++i)
            for (float x : {vectors[i].m_X, vectors[i].m_Y, vectors[i].m_Z})
            {
                uint32_t bits;
                std::memcpy(&bits, &x, sizeof bits);
                bytes.push_back(bits);
            }
        const CFaceList& faces = *channel->GetNormalFaceList();
        for (unsigned f = 0; f < unsigned(faces.GetSize()); ++f)
        {
            int count;
            const int* items = faces.GetIndexes(f, count);
            bytes.push_back(faces.GetFaceFlags(f));
            bytes.insert(bytes.end(), items, items + count);
        }
        for (int p = 0; p < mesh.GetPointNbr(); ++p)
            bytes.push_back(HasBreak(mesh, p));
        return bytes;
    };
    // 261 x 261 points: enough for four ranges of points. Faces in rows let each range pass
    // over most of them; shuffled, every block of faces reaches every range.
    for (bool shuffled : {false, true})
        for (unsigned mode : {1u, 2u, 3u, 4u})
        {
            SCOPED_TRACE(testing::Message() << "mode " << mode << (shuffled ? " shuffled" : ""));
            ObjectPtr mesh = MakeTerrain(260, shuffled);
            ASSERT_TRUE(mesh->SetSmoothAngle(float(Radians(31))));
            ASSERT_TRUE(mesh->SetSmoothMode(_NormalSmoothMode(mode)));
            const std::vector<uint32_t> alone = content(*mesh, 1);
            ASSERT_FALSE(alone.empty());
            const CPointNormalChannel& channel = *mesh->GetPointNormalChannel();
            ExpectDistinctInFirstMetOrder(channel, *mesh->GetFaceList());
            // The flat terraces share one normal: fewer normals than groups of faces.
            int breaks = 0;
            for (int p = 0; p < mesh->GetPointNbr(); ++p)
                breaks += HasBreak(*mesh, p);
            EXPECT_GT(breaks, 0);
            EXPECT_LT(channel.GetNormalVectorList()->GetSize(), mesh->GetPointNbr());
            for (int threads : {2, 3, 4})
                EXPECT_EQ(content(*mesh, threads), alone) << threads << " threads";
        }
}
