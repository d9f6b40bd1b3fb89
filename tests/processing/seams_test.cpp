// Seam splitting and the face tagging walk. The split is checked as a property: every corner
// of every face must show the same position and the same value in every channel before and
// after, and afterwards every point carries one value per channel. The walk is checked by
// its group counts, by taggers that refuse neighbours, and through explode.
#include "processing/polyops_mesh.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/facetagger.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace
{
using ObjectPtr = polytest::MeshPtr;
using Value = std::array<double, 4>;

ObjectPtr MakeObject(const std::vector<std::array<float, 3>>& points,
                     const std::vector<std::vector<int>>& faces)
{
    return polytest::MakeMesh(points, faces);
}

// A unit cube of 8 points and 6 outward quads.
ObjectPtr MakeCube()
{
    std::vector<std::array<float, 3>> points;
    for (int i = 0; i < 8; ++i)
        points.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
    return MakeObject(
        points,
        {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}});
}

// Adds a per-corner channel: values set by \p setValue(value list, i) for i < valueNbr, and
// corner (f, k) using corners[f][k] (a face with a negative first corner is excluded).
template <class CHANNEL, class SET>
CHANNEL* AddCornerChannel(C3DObject& object, CHANNEL* channel, int valueNbr,
                          const std::vector<std::vector<int>>& corners, SET&& setValue)
{
    CPointList& values = *channel->GetPointList();
    values.SetSize(valueNbr);
    for (int i = 0; i < valueNbr; ++i)
        setValue(values, i);
    CFaceList& faces = *channel->GetFaceList();
    EXPECT_TRUE(faces.SetSize(*object.GetFaceList()));
    for (size_t f = 0; f < corners.size(); ++f)
    {
        if (corners[f][0] < 0)
        {
            faces.SetFaceFlags(unsigned(f), _FaceExcluded, true);
            continue;
        }
        EXPECT_TRUE(
            faces.SetFaceIndexes(unsigned(f), corners[f].data(), unsigned(corners[f].size())));
    }
    object.AddChannel(channel);
    return channel;
}

// What each corner shows: its position, then per channel its value (none for a channel face
// that carries none; per-point channels read at the corner's point).
struct CCornerView
{
    Value m_Position;
    std::vector<std::pair<bool, Value>> m_Channels;
    bool operator==(const CCornerView& other) const
    {
        return m_Position == other.m_Position && m_Channels == other.m_Channels;
    }
};

Value ValueOf(const CPt& point)
{
    C4DPoint p;
    point.To4DPoint(p);
    return {p[0], p[1], p[2], p[3]};
}

std::vector<std::vector<CCornerView>> Corners(const C3DGeomObject& object)
{
    std::vector<std::vector<CCornerView>> result;
    const C3DFaceList& faces = *object.GetFaceList();
    const C3DPointList& points = *object.GetPointList();
    for (int f = 0; f < faces.GetSize(); ++f)
    {
        int n = 0;
        const int* items = faces.GetIndexes(unsigned(f), n);
        std::vector<CCornerView> face;
        for (int k = 0; k < n; ++k)
        {
            CCornerView corner;
            const C3DTPoint<float>& p = points[items[k]];
            corner.m_Position = {p.m_X, p.m_Y, p.m_Z, 0};
            for (const CChannel* channel : *object.GetChannels())
            {
                const CPointList& values = *channel->GetPointList();
                const CFaceList* channelFaces = channel->GetFaceList();
                int index = items[k];
                if (channelFaces)
                {
                    int m = 0;
                    const int* at = channelFaces->GetIndexes(unsigned(f), m);
                    index = channelFaces->GetFaceFlags(unsigned(f)) & _FaceExcluded ? -1 : at[k];
                }
                corner.m_Channels.emplace_back(
                    index >= 0, index >= 0 ? ValueOf(values.GetPtView()[size_t(index)]) : Value{});
            }
            face.push_back(corner);
        }
        result.push_back(face);
    }
    return result;
}

// Whether every point shows one value per channel across the corners that carry one.
bool OneValuePerPoint(const C3DGeomObject& object)
{
    std::map<std::pair<int, size_t>, Value> seen;
    const auto corners = Corners(object);
    for (size_t f = 0; f < corners.size(); ++f)
    {
        int n = 0;
        const int* items = object.GetFaceList()->GetIndexes(unsigned(f), n);
        for (int k = 0; k < n; ++k)
            for (size_t c = 0; c < corners[f][size_t(k)].m_Channels.size(); ++c)
            {
                const auto& [has, value] = corners[f][size_t(k)].m_Channels[c];
                if (!has)
                    continue;
                auto [at, added] = seen.emplace(std::make_pair(items[k], c), value);
                if (!added && at->second != value)
                    return false;
            }
    }
    return true;
}

TEST(SeamSplit, CubeWithPerFaceTextureGetsOnePointPerCorner)
{
    ObjectPtr cube = MakeCube();
    std::vector<std::vector<int>> corners;
    for (int f = 0; f < 6; ++f)
        corners.push_back({4 * f, 4 * f + 1, 4 * f + 2, 4 * f + 3});
    AddCornerChannel(*cube, new CUVWChannel(500), 24, corners,
                     [](CPointList& values, int i)
                     {
                         static_cast<CUVWPointList&>(values)[i] =
                             CUVWPoint(float(i % 4) * 0.25f, float(i / 4) * 0.125f, 0);
                     });
    const auto before = Corners(*cube);
    EXPECT_FALSE(OneValuePerPoint(*cube));

    EXPECT_TRUE(cube->DisconnectBorderFaces(_ChannelUVW, 0, 0));
    EXPECT_EQ(cube->GetPointNbr(), 24);
    EXPECT_EQ(Corners(*cube), before);
    EXPECT_TRUE(OneValuePerPoint(*cube));
    // Nothing left to split: a second pass changes nothing.
    EXPECT_FALSE(cube->DisconnectBorderFaces(_ChannelUVW, 0xFFFF, 20480));
    EXPECT_EQ(cube->GetPointNbr(), 24);
}

TEST(SeamSplit, RandomChannelsKeepEveryCornerValue)
{
    std::mt19937 random(7);
    for (int round = 0; round < 4; ++round)
    {
        // A grid of quads, some split into triangles.
        const int side = 5 + round;
        std::vector<std::array<float, 3>> points;
        for (int j = 0; j <= side; ++j)
            for (int i = 0; i <= side; ++i)
                points.push_back({float(i), float(j), float((i * j) % 3) * 0.1f});
        std::vector<std::vector<int>> faces;
        for (int j = 0; j < side; ++j)
            for (int i = 0; i < side; ++i)
            {
                const int a = j * (side + 1) + i, b = a + 1, c = a + side + 2, d = a + side + 1;
                if (random() % 3 == 0)
                    faces.push_back({a, b, c}), faces.push_back({a, c, d});
                else
                    faces.push_back({a, b, c, d});
            }
        ObjectPtr object = MakeObject(points, faces);
        // Per-corner values drawn from small palettes, so that some neighbours agree; about
        // one face in eight carries no value.
        auto corners = [&](int palette)
        {
            std::vector<std::vector<int>> result;
            for (const auto& face : faces)
            {
                std::vector<int> c;
                for (size_t k = 0; k < face.size(); ++k)
                    c.push_back(int(random() % unsigned(palette)));
                if (random() % 8 == 0)
                    c[0] = -1;
                result.push_back(c);
            }
            return result;
        };
        AddCornerChannel(*object, new CUVWChannel(600), 3, corners(3),
                         [](CPointList& v, int i)
                         { static_cast<CUVWPointList&>(v)[i] = CUVWPoint(0.5f * float(i), 1, 0); });
        AddCornerChannel(*object, new CVCChannel(601), 2, corners(2),
                         [](CPointList& v, int i) {
                             static_cast<CVCPointList&>(v)[i] =
                                 CVCPoint(CRGBColor(uint8_t(i * 100), 20, 30));
                         });
        AddCornerChannel(*object, new CSpecNormalChannel(602), 3, corners(3),
                         [](CPointList& v, int i)
                         { static_cast<C3DVectorList&>(v)[i].Set(i == 0, i == 1, i == 2); });
        auto* weights = new CWeightChannel(603, true);
        weights->GetWeightPointList()->SetSize(object->GetPointNbr());
        for (int p = 0; p < object->GetPointNbr(); ++p)
            (*weights->GetWeightPointList())[p].SetWeight(float(p));
        object->AddChannel(weights);

        const auto before = Corners(*object);
        ASSERT_FALSE(OneValuePerPoint(*object));
        const int pointNbr = object->GetPointNbr();
        EXPECT_TRUE(object->DisconnectBorderFaces(_ChannelUVW | _ChannelVC | _ChannelSpecNormal,
                                                  0xFFFF, 20480));
        EXPECT_GT(object->GetPointNbr(), pointNbr);
        EXPECT_EQ(weights->GetWeightPointList()->GetSize(), object->GetPointNbr());
        EXPECT_EQ(Corners(*object), before) << "round " << round;
        EXPECT_TRUE(OneValuePerPoint(*object)) << "round " << round;
    }
}

TEST(SeamSplit, OnlyTheAskedChannelsSplit)
{
    ObjectPtr cube = MakeCube();
    std::vector<std::vector<int>> corners;
    for (int f = 0; f < 6; ++f)
        corners.push_back({f, f, f, f}); // one colour per face
    AddCornerChannel(*cube, new CVCChannel(700), 6, corners,
                     [](CPointList& v, int i)
                     { static_cast<CVCPointList&>(v)[i] = CVCPoint(CRGBColor(uint8_t(i), 0, 0)); });
    const unsigned checksum = cube->GetChecksum(16);
    EXPECT_FALSE(cube->DisconnectBorderFaces(_ChannelUVW, 0, 0));
    EXPECT_EQ(cube->GetChecksum(16), checksum);
    EXPECT_TRUE(cube->DisconnectBorderFaces(_ChannelVC, 0, 0));
    EXPECT_EQ(cube->GetPointNbr(), 24);
}

TEST(SeamSplit, SmoothingBreaksSplitWithPointNormals)
{
    ObjectPtr cube = MakeCube();
    cube->SetSmoothAngle(0.5f); // every cube edge is sharper
    EXPECT_TRUE(cube->DisconnectBorderFaces(_ChannelPointNormal, 0, 0));
    EXPECT_EQ(cube->GetPointNbr(), 24);
}

TEST(SeamSplit, BadInputChangesNothing)
{
    ObjectPtr empty(new C3DObject);
    EXPECT_FALSE(empty->DisconnectBorderFaces(0xFFFF, 0, 0));
    ObjectPtr pointsOnly(new C3DObject);
    auto* list = C3DPointList::Create();
    list->SetSize(3);
    pointsOnly->SetPointList(list, true);
    EXPECT_FALSE(pointsOnly->DisconnectBorderFaces(0xFFFF, 0, 0));
    EXPECT_EQ(pointsOnly->GetPointNbr(), 3);
    ObjectPtr flagged = MakeCube();
    flagged->SetFlag(_ObjectEmpty, true);
    EXPECT_FALSE(flagged->DisconnectBorderFaces(0xFFFF, 0, 0));
    EXPECT_EQ(flagged->GetPointNbr(), 8);
}

TEST(SeamMarks, MarkPointsWhoseCornersDiffer)
{
    // Two triangles sharing the side 1-2; the texture differs at point 2 only.
    ObjectPtr object =
        MakeObject({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}});
    auto* uv = AddCornerChannel(*object, new CUVWChannel(800), 5, {{0, 1, 2}, {1, 3, 4}},
                                [](CPointList& v, int i)
                                {
                                    static_cast<CUVWPointList&>(v)[i] =
                                        i == 4 ? CUVWPoint(0.0f, 1.0f, 0.0f)
                                               : CUVWPoint(float(i) * 0.5f, 0.0f, 0.0f);
                                });
    (*uv->GetUVWPointList())[2] = CUVWPoint(0.0f, 1.001f, 0.0f);
    CGeomInfo geom(object.get());
    EXPECT_EQ(uv->InitShareUVFlag(&geom, 0.0), 1u);
    const C3DPointList& points = *object->GetPointList();
    for (int p = 0; p < 4; ++p)
        EXPECT_EQ(points[p].IsOneFlagSet(_PointUVSeam), p == 2) << p;
    EXPECT_EQ(uv->InitShareUVFlag(&geom, 0.01), 0u); // within the tolerance
    EXPECT_FALSE(points[2].IsOneFlagSet(_PointUVSeam));
    EXPECT_EQ(uv->InitShareUVFlag(nullptr, 0.0), 0u);
}

// ---------------------------------------------------------------- the tagging walk

// Counts groups and faces, and refuses every neighbour of face \p m_Wall.
class CCountingTagger : public CFaceTagger
{
public:
    bool InitProcess(CGeomInfo* geom) override
    {
        return m_Accept && CFaceTagger::InitProcess(geom);
    }
    void BeginNewGroup(unsigned group, int face) override { m_Seeds.push_back({group, face}); }
    bool BelongToGroup(int face, int, int* neighbours, int count) override
    {
        return Filter(face, neighbours, count);
    }
    bool BelongToGroup(int face, const C3DEdge&, int* neighbours, int count) override
    {
        return Filter(face, neighbours, count);
    }
    void EndGroup(const int*, int count) override { m_Sizes.push_back(count); }
    void EndProcess(unsigned groupNbr) override { m_Ended = int(groupNbr); }

    bool m_Accept = true;
    int m_Wall = -1;
    int m_Ended = -1;
    std::vector<std::pair<unsigned, int>> m_Seeds;
    std::vector<int> m_Sizes;

private:
    bool Filter(int face, int* neighbours, int count)
    {
        for (int i = 0; i < count; ++i)
            if (neighbours[i] == m_Wall || face == m_Wall)
                neighbours[i] = -1;
        return true;
    }
};

TEST(TagFaces, GroupsFollowSidesOrPoints)
{
    // Triangles 0 and 1 are apart; 2 and 3 touch 1 at point 4 only; 4 is invalid.
    ObjectPtr object = MakeObject({{0, 0, 0},
                                   {1, 0, 0},
                                   {0, 1, 0},
                                   {5, 0, 0},
                                   {6, 0, 0},
                                   {5, 1, 0},
                                   {7, 0, 0},
                                   {7, 1, 0},
                                   {6, 1, 0}},
                                  {{0, 1, 2}, {3, 4, 5}, {4, 6, 7}, {4, 7, 8}, {0, 1}});
    CGeomInfo geom(object.get());
    C3DFaceList& faces = *object->GetFaceList();
    CCountingTagger byEdges;
    EXPECT_EQ(faces.TagFaces(&geom, byEdges, true), 3u); // {0}, {1}, {2, 3}
    EXPECT_EQ(byEdges.m_Ended, 3);
    EXPECT_EQ(byEdges.m_Sizes, (std::vector<int>{1, 1, 2}));
    EXPECT_EQ(byEdges.m_Seeds[2], std::make_pair(2u, 2));
    CCountingTagger byPoints;
    EXPECT_EQ(faces.TagFaces(&geom, byPoints, false), 2u); // {0}, {1, 2, 3}
    EXPECT_EQ(byPoints.m_Sizes, (std::vector<int>{1, 3}));
    // A wall face stands alone; the walk goes on around it.
    CCountingTagger walled;
    walled.m_Wall = 2;
    EXPECT_EQ(faces.TagFaces(&geom, walled, false), 3u);
    EXPECT_EQ(walled.m_Sizes, (std::vector<int>{1, 2, 1}));
    // A refusing tagger ends the walk before it starts, and graphs are not left behind.
    CCountingTagger refusing;
    refusing.m_Accept = false;
    EXPECT_EQ(faces.TagFaces(&geom, refusing, true), 0u);
    EXPECT_EQ(refusing.m_Ended, -1);
    EXPECT_FALSE(faces.HasPointToFaceGraph());
    EXPECT_EQ(faces.GetEdgeGraph(), nullptr);
}

TEST(TagFaces, ExplodeMakesOneObjectPerPart)
{
    ObjectPtr object =
        MakeObject({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {5, 0, 0}, {6, 0, 0}, {5, 1, 0}},
                   {{0, 1, 2}, {4, 5, 6}, {1, 3, 2}});
    CXArray<C3DGeomObject*> parts;
    parts.Add(nullptr); // emptied first
    EXPECT_EQ(object->ExplodeIntoIsolatedParts(parts), 2);
    ASSERT_EQ(parts.GetSize(), 2);
    EXPECT_EQ(parts[0]->GetFaceNbr(), 2);
    EXPECT_EQ(parts[0]->GetPointNbr(), 4);
    EXPECT_EQ(parts[1]->GetFaceNbr(), 1);
    EXPECT_EQ(parts[1]->GetPointNbr(), 3);
    for (C3DGeomObject* part : parts)
        part->Delete();

    ObjectPtr single = MakeCube();
    EXPECT_EQ(single->ExplodeIntoIsolatedParts(parts), 0);
    EXPECT_EQ(parts.GetSize(), 0);
    ObjectPtr empty(new C3DObject);
    EXPECT_EQ(empty->ExplodeIntoIsolatedParts(parts), 0);
}
} // namespace
