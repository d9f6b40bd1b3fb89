// Texture coordinates from map projections (checked against values worked out by hand from
// the projection formulas), their regeneration, the global channel (every corner keeps the
// coordinates its material's channel gave it), renumbering, the point-to-texture table, and
// bad input that must leave objects alone.
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include "processing/polyops_mesh.h"

#include <3dzan/materials/materials.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace
{
using ObjectPtr = polytest::MeshPtr;
using polytest::Point3;

// An object of \p points and \p faces; face f gets material \p materials[f], 1 when not listed.
ObjectPtr MakeObject(const std::vector<Point3>& points, const std::vector<std::vector<int>>& faces,
                     const std::vector<unsigned>& materials = {})
{
    std::vector<unsigned> all(faces.size(), 1);
    std::copy_n(materials.begin(), std::min(materials.size(), all.size()), all.begin());
    return polytest::MakeMesh(points, faces, false, all);
}

// One triangle per point triple, so that each listed point is a corner of its own.
ObjectPtr Triangles(const std::vector<Point3>& points)
{
    std::vector<std::vector<int>> faces;
    for (int i = 0; i + 2 < int(points.size()); i += 3)
        faces.push_back({i, i + 1, i + 2});
    return MakeObject(points, faces);
}

CMaterialMap* AddMap(C3DScene& scene, unsigned materialID, MapProjection projection,
                     MapAxis axis = _MapAxisX)
{
    C3DMaterial* material = scene.GetMaterialTable().CreateNewMaterial(materialID);
    CMaterialMap* map = material->AddMaterialMap("wood.png", kZanNone, _MapDiffuse, projection);
    map->SetAxis(axis);
    return map;
}

// The texture coordinate at the corner of the channel \p id that uses geometry point \p point.
CUVWPoint UVAtPoint(const C3DGeomObject& object, unsigned id, int point, int face = -1)
{
    auto* channel = static_cast<CUVWChannel*>(object.GetChannelByID(id, _ChannelUVW));
    const CFaceList& faces = *object.GetFaceList();
    for (int f = 0; f < faces.GetSize(); ++f)
    {
        if (face >= 0 && f != face)
            continue;
        int n = 0, m = 0;
        const int* items = faces.GetIndexes(unsigned(f), n);
        const int* uv = channel->GetFaceList()->GetIndexes(unsigned(f), m);
        for (int k = 0; k < n; ++k)
            if (items[k] == point)
                return (*channel->GetUVWPointList())[uv[k]];
    }
    ADD_FAILURE() << "no corner at point " << point;
    return {};
}

void ExpectUV(const CUVWPoint& uv, double u, double v)
{
    EXPECT_NEAR(uv.m_U, u, 1e-6);
    EXPECT_NEAR(uv.m_V, v, 1e-6);
}

TEST(Projection, PlanarFollowsTheAxisAndTheMapTransform)
{
    const Point3 p = {0.2f, 0.7f, -0.3f};
    const struct
    {
        MapAxis axis;
        double u, v;
    } cases[] = {{_MapAxisY, 0.7, 0.8}, {_MapAxisZ, 0.7, -0.2}, {_MapAxisX, 0.2, -0.2}};
    for (const auto& c : cases)
    {
        C3DScene scene;
        CMaterialMap* map = AddMap(scene, 1, _ProjectionPlanar, c.axis);
        ObjectPtr object = Triangles({p, {0, 0, 0}, {1, 0, 0}});
        ASSERT_TRUE(object->GenerateUVW(&scene));
        ExpectUV(UVAtPoint(*object, map->GetChannelID(), 0), c.u, c.v);
    }
    // q = R (p + t): with a scale of 2 and a translation of (1, 0, 0), x becomes 2 (0.2 + 1).
    C3DScene scene;
    CMaterialMap* map = AddMap(scene, 1, _ProjectionPlanar, _MapAxisY);
    map->SetTranslation(0, {1, 0, 0});
    map->SetScale(0, {2, 2, 2});
    map->SetTile(0, {3, 3, 3}); // never applied to planar projections
    ObjectPtr object = Triangles({p, {0, 0, 0}, {1, 0, 0}});
    ASSERT_TRUE(object->GenerateUVW(&scene));
    ExpectUV(UVAtPoint(*object, map->GetChannelID(), 0), 2.4 + 0.5, 0.5 + 0.6);
}

TEST(Projection, CylindricalAngleHeightAndTile)
{
    struct CCase
    {
        MapAxis axis;
        Point3 p;
        double u, v;
    };
    const CCase cases[] = {
        {_MapAxisY, {1, 0.25f, 0}, 0.75, 0.25},   // y = -1, x = 0: a quarter turn
        {_MapAxisY, {-1, 0, 0}, 0.25, 0.5},       // y = 1, x = 0: three quarters
        {_MapAxisY, {0, 0.1f, 0}, 1.0, 0.4},      // on the axis: angle 0
        {_MapAxisY, {0, 0, 1}, 1.0, 0.5},         // x = 1, y = 0
        {_MapAxisY, {0.5f, 0, 0.5f}, 0.875, 0.5}, // a = 45 degrees
        {_MapAxisZ, {1, 0, 0.3f}, 0.75, 0.2},     {_MapAxisX, {0.1f, 0, 1}, 0.25, 0.4},
    };
    for (const CCase& c : cases)
    {
        C3DScene scene;
        CMaterialMap* map = AddMap(scene, 1, _ProjectionCylindrical, c.axis);
        ObjectPtr object = Triangles({c.p, {0, 5, 5}, {5, 0, 5}});
        ASSERT_TRUE(object->GenerateUVW(&scene));
        ExpectUV(UVAtPoint(*object, map->GetChannelID(), 0), c.u, c.v);
    }
    // A U tile of 2 wraps 0.75 to 0.5; the V tile is not used.
    C3DScene scene;
    CMaterialMap* map = AddMap(scene, 1, _ProjectionCylindrical, _MapAxisY);
    map->SetTile(0, {2, 5, 1});
    ObjectPtr object = Triangles({{1, 0.25f, 0}, {0, 0.1f, 0}, {5, 0, 5}});
    ASSERT_TRUE(object->GenerateUVW(&scene));
    ExpectUV(UVAtPoint(*object, map->GetChannelID(), 0), 0.5, 0.25);
    ExpectUV(UVAtPoint(*object, map->GetChannelID(), 1), 0.0, 0.4); // on the axis: wrap(2 x 1)
}

TEST(Projection, SphericalLongitudeLatitudeAndTiles)
{
    C3DScene scene;
    CMaterialMap* map = AddMap(scene, 1, _ProjectionSpherical, _MapAxisY);
    ObjectPtr object =
        Triangles({{0, 1, 0}, {0, 0, 1}, {-1, 1, 0}, {0, -2, 0}, {0, 0, 0}, {1, 0, 0}});
    ASSERT_TRUE(object->GenerateUVW(&scene));
    const unsigned id = map->GetChannelID();
    ExpectUV(UVAtPoint(*object, id, 0), 1.0, 0.5 - 1.5707958 / M_PI); // pole
    ExpectUV(UVAtPoint(*object, id, 1), 1.0, 0.5);
    ExpectUV(UVAtPoint(*object, id, 2), 1.0 - (6.2831832 - M_PI / 2) / 6.2831832, 0.25);
    ExpectUV(UVAtPoint(*object, id, 3), 1.0, 0.5 + 1.5707958 / M_PI); // the other pole
    ExpectUV(UVAtPoint(*object, id, 4), 1.0, 0.5);                    // the centre

    C3DScene tiled;
    CMaterialMap* tiledMap = AddMap(tiled, 1, _ProjectionSpherical, _MapAxisY);
    tiledMap->SetTile(0, {2, 6, 1});
    ObjectPtr again = Triangles({{-1, 1, 0}, {0, 0, 1}, {1, 0, 0}});
    ASSERT_TRUE(again->GenerateUVW(&tiled));
    const double u = 1.0 - (6.2831832 - M_PI / 2) / 6.2831832; // about 0.25
    ExpectUV(UVAtPoint(*again, tiledMap->GetChannelID(), 0), 2 * u, 6 * 0.25 - 1);
}

TEST(Projection, BoxProjectsEachFaceAlongItsNormal)
{
    std::vector<Point3> points;
    for (int i = 0; i < 8; ++i)
        points.push_back({(i & 1) - 0.5f, ((i >> 1) & 1) - 0.5f, ((i >> 2) & 1) - 0.5f});
    const std::vector<std::vector<int>> faces = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                                 {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    const int axisOf[6] = {2, 2, 1, 1, 0, 0}; // -z, +z, -y, +y, -x, +x
    for (bool swapped : {false, true})
    {
        C3DScene scene;
        CMaterialMap* map = AddMap(scene, 1, _ProjectionBox);
        if (swapped)
            map->SwapCoordinates(_SwapXY); // q = (y, x, z), normals turned alike
        ObjectPtr cube = MakeObject(points, faces);
        ASSERT_TRUE(cube->GenerateUVW(&scene));
        const unsigned id = map->GetChannelID();
        auto* channel = static_cast<CUVWChannel*>(cube->GetChannelByID(id, _ChannelUVW));
        EXPECT_EQ(channel->GetUVWPointList()->GetSize(), 24); // three per corner, one per axis
        for (int f = 0; f < 6; ++f)
            for (int p : faces[size_t(f)])
            {
                double q[3] = {points[size_t(p)][0], points[size_t(p)][1], points[size_t(p)][2]};
                int axis = axisOf[f];
                if (swapped)
                {
                    std::swap(q[0], q[1]);
                    axis = axis == 2 ? 2 : 1 - axis;
                }
                const double u = axis == 0 ? q[2] + 0.5 : q[0] + 0.5;
                const double v = axis == 1 ? 0.5 - q[2] : 0.5 - q[1];
                ExpectUV(UVAtPoint(*cube, id, p, f), u, v);
            }
    }
}

TEST(GenerateUVW, ChannelIsMarkedSharedAndReused)
{
    C3DScene scene;
    CMaterialMap* map = AddMap(scene, 1, _ProjectionPlanar, _MapAxisZ);
    scene.GetMaterialTable().CreateNewMaterial(2); // no diffuse map
    ObjectPtr object = MakeObject({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}},
                                  {{0, 1, 2, 3}, {1, 4, 2}}, {1, 2});
    EXPECT_EQ(map->GetChannelID(), kZanNone);
    ASSERT_TRUE(object->GenerateUVW(&scene));
    const unsigned id = map->GetChannelID();
    ASSERT_NE(id, kZanNone);
    CChannel* channel = object->GetChannelByID(id, _ChannelUVW);
    ASSERT_NE(channel, nullptr);
    EXPECT_TRUE(channel->IsFlagSet(_ChannelNoFaceEdit));
    EXPECT_EQ(channel->GetFaceList()->GetFaceFlags(0), 0u);
    EXPECT_TRUE(channel->GetFaceList()->IsFaceFlagSet(1, _FaceExcluded));
    EXPECT_EQ(channel->GetPointList()->GetSize(), 4); // the quad's corners, shared

    // Moving a point and updating regenerates in place: same ID, no growth.
    (*object->GetPointList())[2].Set(3, 3, 0);
    object->Invalidate(_InvalidatePoints, true);
    EXPECT_TRUE(object->Update(&scene, _ObjectUpdateUVW));
    EXPECT_EQ(map->GetChannelID(), id);
    EXPECT_EQ(object->GetChannels()->GetChannelsNumber(_ChannelUVW), 1u);
    EXPECT_EQ(channel->GetPointList()->GetSize(), 4);
    ExpectUV(UVAtPoint(*object, id, 2), 3.5, -2.5);
    EXPECT_TRUE(channel->GetFaceList()->IsFaceFlagSet(1, _FaceExcluded));
}

TEST(GenerateUVW, BadInputChangesNothing)
{
    C3DScene scene;
    CMaterialMap* planar = AddMap(scene, 1, _ProjectionPlanar);
    AddMap(scene, 2, _ProjectionChannel);
    AddMap(scene, 3, _ProjectionEnvironment);
    scene.GetMaterialTable().CreateNewMaterial(4);
    auto unchanged = [&](C3DGeomObject& object, C3DScene* in)
    {
        const unsigned channels = object.GetChannels()->GetSize();
        const unsigned checksum = object.GetChecksum(16);
        EXPECT_FALSE(object.GenerateUVW(in));
        EXPECT_EQ(object.GetChannels()->GetSize(), channels);
        EXPECT_EQ(object.GetChecksum(16), checksum);
        EXPECT_EQ(planar->GetChannelID(), kZanNone);
    };
    const std::vector<Point3> points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    for (unsigned material : {2u, 3u, 4u, 9u}) // projection 0, 1, no map, no material
    {
        ObjectPtr object = MakeObject(points, {{0, 1, 2}}, {material});
        unchanged(*object, &scene);
    }
    ObjectPtr object = MakeObject(points, {{0, 1, 2}}, {1});
    unchanged(*object, nullptr);
    ObjectPtr nan = MakeObject({{0, 0, 0}, {NAN, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}, {1});
    unchanged(*nan, &scene);
    ObjectPtr empty(new C3DObject);
    unchanged(*empty, &scene);
    ObjectPtr flagged = MakeObject(points, {{0, 1, 2}}, {1});
    flagged->SetFlag(_ObjectEmpty, true);
    unchanged(*flagged, &scene);
}

// ---------------------------------------------------------------- global channel

TEST(GlobalizeChannels, EveryCornerKeepsItsMaterialsCoordinates)
{
    std::mt19937 random(3);
    C3DScene scene;
    const unsigned materials[3] = {11, 12, 13};
    std::vector<Point3> points;
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i)
            points.push_back({float(i), float(j), 0});
    std::vector<std::vector<int>> faces;
    std::vector<unsigned> faceMaterials;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
        {
            const int a = j * 5 + i;
            faces.push_back({a, a + 1, a + 6, a + 5});
            faceMaterials.push_back(materials[random() % 3]);
        }
    ObjectPtr object = MakeObject(points, faces, faceMaterials);
    // Each material reads its own channel; its faces use random values there, the faces of
    // the other materials are excluded.
    std::vector<unsigned> ids;
    for (unsigned material : materials)
    {
        auto* channel = new CUVWChannel;
        CUVWPointList& values = *channel->GetUVWPointList();
        values.SetSize(25);
        for (int i = 0; i < 25; ++i)
            values[i] = CUVWPoint(float(random() % 100) / 100, float(random() % 100) / 100, 0);
        CFaceList& channelFaces = *channel->GetFaceList();
        channelFaces.SetSize(*object->GetFaceList());
        for (size_t f = 0; f < faces.size(); ++f)
        {
            std::vector<int> corners;
            for (size_t k = 0; k < 4; ++k)
                corners.push_back(int(random() % 25));
            channelFaces.SetFaceIndexes(unsigned(f), corners.data(), 4);
            if (faceMaterials[f] != material)
                channelFaces.SetFaceFlags(unsigned(f), _FaceExcluded, true);
        }
        ids.push_back(channel->GetChannelID());
        object->AddChannel(channel);
        scene.GetMaterialTable().CreateNewMaterial(material)->AddMaterialMap(
            "t.png", channel->GetChannelID(), _MapDiffuse, _ProjectionChannel);
    }
    std::vector<std::vector<CUVWPoint>> before;
    for (size_t f = 0; f < faces.size(); ++f)
    {
        const size_t m = size_t(std::find(materials, materials + 3, faceMaterials[f]) - materials);
        std::vector<CUVWPoint> corners;
        for (int p : faces[f])
            corners.push_back(UVAtPoint(*object, ids[m], p, int(f)));
        before.push_back(corners);
    }

    const unsigned global = object->GlobalizeChannels(&scene, true);
    ASSERT_NE(global, kZanNone);
    EXPECT_EQ(object->GetGlobalUVWChannel(), global);
    EXPECT_EQ(object->GetChannels()->GetChannelsNumber(_ChannelUVW), 1u); // merged ones removed
    auto* channel = static_cast<CUVWChannel*>(object->GetChannelByID(global, _ChannelUVW));
    for (size_t f = 0; f < faces.size(); ++f)
    {
        EXPECT_EQ(channel->GetFaceList()->GetFaceFlags(unsigned(f)), 0u);
        for (size_t k = 0; k < 4; ++k)
            EXPECT_EQ(UVAtPoint(*object, global, faces[f][k], int(f)), before[f][k]) << f;
    }
    // Up to date: the same ID, nothing built.
    const unsigned created = CChannel::GetCreatedCount();
    EXPECT_EQ(object->GlobalizeChannels(&scene, true), global);
    EXPECT_EQ(CChannel::GetCreatedCount(), created);
}

TEST(GlobalizeChannels, NothingToMergeChangesNothing)
{
    C3DScene scene;
    AddMap(scene, 1, _ProjectionPlanar); // names no channel of the object
    ObjectPtr object = MakeObject({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    EXPECT_EQ(object->GlobalizeChannels(&scene, true), kZanNone);
    EXPECT_EQ(object->GlobalizeChannels(nullptr, true), kZanNone);
    EXPECT_EQ(object->GetChannels()->GetSize(), 0);
    ObjectPtr empty(new C3DObject);
    EXPECT_EQ(empty->GlobalizeChannels(&scene, true), kZanNone);
}

TEST(ChannelIDs, RenumberingReachesGlobalIDsAndMaps)
{
    C3DScene scene;
    CMaterialMap* map = AddMap(scene, 1, _ProjectionChannel);
    map->SetChannelID(20);
    ObjectPtr object = MakeObject({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    object->SetGlobalUVWChannel(20);
    object->SetGlobalVCChannel(30, 0.5f);
    CHashMap<CChannelInfo, CChannelInfo> renumber;
    renumber.Insert(CChannelInfo(20, _ChannelUVW), CChannelInfo(21, _ChannelUVW));
    renumber.Insert(CChannelInfo(30, _ChannelUVW), CChannelInfo(99, _ChannelUVW)); // wrong type
    EXPECT_TRUE(object->ChangeChannelID(&scene, renumber));
    float factor = 0;
    EXPECT_EQ(object->GetGlobalUVWChannel(), 21u);
    EXPECT_EQ(object->GetGlobalVCChannel(factor), 30u);
    EXPECT_EQ(factor, 0.5f);
    EXPECT_EQ(map->GetChannelID(), 21u);
    renumber.Insert(CChannelInfo(30, _ChannelVC), CChannelInfo(31, _ChannelVC));
    EXPECT_TRUE(object->ChangeChannelID(nullptr, renumber));
    EXPECT_EQ(object->GetGlobalVCChannel(factor), 31u);
    EXPECT_EQ(factor, 1.0f);
}

TEST(ChannelIDs, TexturePointOfEachGeometryPoint)
{
    ObjectPtr object =
        MakeObject({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {9, 9, 9}}, {{0, 1, 2}, {1, 3, 2}});
    auto* channel = new CUVWChannel(77);
    channel->GetUVWPointList()->SetSize(6);
    channel->GetFaceList()->SetSize(*object->GetFaceList());
    const int first[] = {5, 4, 3}, second[] = {2, 1, 0};
    channel->GetFaceList()->SetFaceIndexes(0, first, 3);
    channel->GetFaceList()->SetFaceIndexes(1, second, 3);
    object->AddChannel(channel);
    int count = -1;
    std::unique_ptr<int[]> table = GetUVVertexFromUVFace(object.get(), 77, count);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(count, 5);
    EXPECT_EQ(std::vector<int>(table.get(), table.get() + 5), (std::vector<int>{5, 2, 0, 1, -1}));
    channel->GetFaceList()->SetFacesFlags(_FaceExcluded, true);
    EXPECT_EQ(GetUVVertexFromUVFace(object.get(), 77, count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(GetUVVertexFromUVFace(object.get(), 78, count), nullptr);
    EXPECT_EQ(GetUVVertexFromUVFace(nullptr, 77, count), nullptr);
}
} // namespace
