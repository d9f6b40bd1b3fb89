// Specified normals and the channel contract of the three normal channels: creation, flags,
// archives (the golden file, see normals_test.cpp for how to rewrite it), generation with
// each flag, recomputation of computed vectors, corner lookups, comparisons, frontiers,
// transforms, and face normals.
#include "common/zan_test_helpers.h"

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace
{
struct CObjectRelease
{
    void operator()(C3DObject* object) const { object->Delete(); }
};
using ObjectPtr = std::unique_ptr<C3DObject, CObjectRelease>;

// A unit cube with outward quads (face order: -z, +z, -y, +y, -x, +x).
ObjectPtr MakeCube()
{
    ObjectPtr mesh(new C3DObject);
    auto* points = C3DPointList::Create();
    points->SetSize(8);
    for (int i = 0; i < 8; ++i)
        (*points)[i].Set(float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1));
    auto* faces = C3DFaceList::Create();
    const int corners[] = {0, 2, 3, 1, 4, 5, 7, 6, 0, 1, 5, 4, 2, 6, 7, 3, 0, 4, 6, 2, 1, 3, 7, 5};
    EXPECT_TRUE(faces->AddFaces(corners, 6, 4));
    mesh->SetPointList(points, true);
    mesh->SetFaceList(faces, true);
    return mesh;
}

C3DTVector<float> SpecAt(const CSpecNormalChannel& channel, unsigned face, int corner)
{
    int count;
    const int* items = channel.GetNormalFaceList()->GetIndexes(face, count);
    return (*channel.GetNormalVectorList())[items[corner]];
}

void ExpectVector(const C3DTVector<float>& v, double x, double y, double z, double tolerance = 1e-6)
{
    EXPECT_NEAR(v.m_X, x, tolerance);
    EXPECT_NEAR(v.m_Y, y, tolerance);
    EXPECT_NEAR(v.m_Z, z, tolerance);
}

double Radians(double degrees)
{
    return degrees * M_PI / 180.0;
}

struct CChannelRelease
{
    void operator()(CChannel* channel) const { channel->Delete(); }
};
template <class T> using ChannelPtr = std::unique_ptr<T, CChannelRelease>;

// A specified-normal channel with two faces, given and computed vectors and an undefined one.
CSpecNormalChannel* MakeGoldenChannel()
{
    auto* channel = new CSpecNormalChannel(777);
    C3DVectorList& vectors = *channel->GetNormalVectorList();
    vectors.SetSize(4);
    vectors[0].Set(0, 0, 1);
    vectors[1].Set(0.6f, 0.8f, 0);
    vectors[1].SetFlags(_NormalComputed);
    vectors[2].Set(-1, 0, 0);
    vectors[3].SetFlags(_NormalUndefined);
    const int corners[] = {0, 1, 2, 3, 0, 1, 2};
    const unsigned counts[] = {4, 3};
    EXPECT_TRUE(channel->GetNormalFaceList()->AddFaces(corners, counts, 2));
    channel->GetNormalFaceList()->SetFaceFlags(1, 0x40, true);
    return channel;
}

std::string GoldenPath()
{
    return std::string(ZAN3D_TEST_DATA_DIR) + "/processing/specnormals.bin";
}

void StoreGolden(CXArchive& ar)
{
    CDependentChannels channels;
    channels.AddChannel(MakeGoldenChannel());
    channels.AddChannel(new CPointNormalChannel(778)); // recomputed: not stored
    channels.AddChannel(new CFaceNormalChannel(779));  // likewise
    channels.Serialize(ar);
}
} // namespace

// ------------------------------------------------------------------ the channel contract

TEST(NormalChannels, CreateGivesStaleChannelsOfEachTypeAndOnlySpecifiedOnesAreStored)
{
    const struct
    {
        _Channel3DType type;
        unsigned flags;
        bool recomputed;
        bool faces;
    } kinds[] = {{_ChannelPointNormal, 0x0E, true, true},
                 {_ChannelFaceNormal, 0x06, true, false},
                 {_ChannelSpecNormal, 0x16, false, true}};
    for (const auto& kind : kinds)
    {
        ChannelPtr<CChannel> channel(CChannel::Create(kind.type, 5000));
        ASSERT_NE(channel, nullptr);
        EXPECT_EQ(channel->GetType(), kind.type);
        EXPECT_EQ(channel->GetFlags(), kind.flags);
        EXPECT_EQ(channel->CanBeRecomputed(), kind.recomputed);
        EXPECT_EQ(channel->GetFaceList() != nullptr, kind.faces);
        EXPECT_NE(dynamic_cast<C3DVectorList*>(channel->GetPointList()), nullptr);
        ChannelPtr<CChannel> copy(channel->Copy(_ChannelCopyKeepID));
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->GetRuntimeClassDescriptor(), channel->GetRuntimeClassDescriptor());
        EXPECT_EQ(copy->GetChannelID(), 5000u);
    }

    auto bytes = zantest::StoreToBytes(StoreGolden);
    CDependentChannels loaded;
    zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { loaded.Serialize(ar); });
    ASSERT_EQ(loaded.GetSize(), 1);
    CNormalFaceList* faces = nullptr;
    C3DVectorList* vectors = nullptr;
    auto* spec = dynamic_cast<CSpecNormalChannel*>(loaded.GetSpecNormalChannel(faces, vectors));
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->GetChannelID(), 777u);
    ASSERT_EQ(vectors->GetSize(), 4);
    EXPECT_TRUE((*vectors)[1].IsOneFlagSet(_NormalComputed));
    EXPECT_TRUE((*vectors)[3].IsOneFlagSet(_NormalUndefined));
    EXPECT_EQ(faces->GetFaceFlags(1), 0x40u);
    EXPECT_EQ(SpecAt(*spec, 0, 1), C3DTVector<float>(0.6f, 0.8f, 0));
    EXPECT_EQ(zantest::StoreToBytes([&](CXArchive& ar) { loaded.Serialize(ar); }), bytes);
}

TEST(NormalChannels, GoldenFilePinsTheSpecifiedNormalLayout)
{
    auto golden = zantest::ReadFileBytes(GoldenPath());
    ASSERT_FALSE(golden.empty()) << "missing " << GoldenPath();
    EXPECT_EQ(zantest::StoreToBytes(StoreGolden), golden) << "the normal channel layout changed";
    // Every cut of the golden bytes is refused and leaves the array as it was.
    CDependentChannels target;
    target.AddChannel(new CSpecNormalChannel(1));
    zantest::ExpectTruncationsFail(golden, target, [&] {
        return target.GetSize() == 1 && target.GetAt(0)->GetChannelID() == 1;
    });
}

TEST(NormalChannels, DISABLED_WriteGoldenFile)
{
    ASSERT_TRUE(zantest::WriteFileBytes(GoldenPath(), zantest::StoreToBytes(StoreGolden)));
}

TEST(FaceNormals, UnitNormalsPerFaceAndSkippedFacesKeepTheirEntry)
{
    ObjectPtr cube = MakeCube();
    CFaceNormalChannel* channel = cube->GetFaceNormalChannel();
    ASSERT_NE(channel, nullptr);
    const C3DVectorList& normals = *channel->GetNormalVectorList();
    ASSERT_EQ(normals.GetSize(), 6);
    ExpectVector(normals[0], 0, 0, -1);
    ExpectVector(normals[5], 1, 0, 0);

    // An excluded face keeps its entry when the geometry moves.
    cube->GetFaceList()->SetFaceFlags(1, _FaceExcluded, true);
    (*cube->GetPointList())[7].Set(2, 1, 2); // moves the top and the +x side
    cube->Invalidate(_InvalidatePoints, true);
    ASSERT_EQ(cube->GetFaceNormalChannel(), channel);
    ExpectVector(normals[1], 0, 0, 1);
    EXPECT_GT(std::fabs(normals[5].m_X - 1), 0.01) << "the side face did not follow";

    // Cleaning drops the entries of removed faces.
    CXArray<unsigned int, unsigned int> remap;
    for (unsigned f : {0u, kZanNone, 1u, 2u, 3u, 4u})
        remap.Add(f);
    const C3DTVector<float> last = normals[5];
    EXPECT_TRUE(channel->Clean(nullptr, &remap, nullptr));
    ASSERT_EQ(normals.GetSize(), 5);
    EXPECT_EQ(normals[4], last);
    EXPECT_TRUE(channel->IsFlagSet(_ChannelModified));
}

// ------------------------------------------------------------------ generation

TEST(SpecNormals, GenerationFlagsChooseWhichCornersAndHowTheyShare)
{
    CGeomInfo* none = nullptr;
    {
        // Bit 1 alone: each corner its own vector; at 80 degrees each is its face's normal.
        ObjectPtr cube = MakeCube();
        ASSERT_TRUE(cube->SetSmoothAngle(float(Radians(80))));
        ASSERT_TRUE(cube->GenerateNormals(_GenerateEmptyFaces, _SmoothModeScene));
        CSpecNormalChannel* spec = cube->GetSpecNormalChannel();
        ASSERT_NE(spec, nullptr);
        EXPECT_EQ(spec->GetNormalVectorList()->GetSize(), 24);
        ExpectVector(SpecAt(*spec, 3, 2), 0, 1, 0);
        EXPECT_EQ(spec->GetNormalFaceList()->GetSize(), 6);
        // Nothing is left to generate a second time.
        EXPECT_FALSE(cube->GenerateNormals(_GenerateEmptyFaces, _SmoothModeScene));
        EXPECT_FALSE(spec->GenerateNormals(none, _GenerateEmptyFaces, 1.0, _SmoothModeArea));
    }
    {
        // Bits 1 and 4 above 90 degrees: a point smoothed with all its faces shares one vector.
        ObjectPtr cube = MakeCube();
        ASSERT_TRUE(cube->SetSmoothAngle(float(Radians(100))));
        ASSERT_TRUE(cube->GenerateNormals(_GenerateEmptyFaces | _GenerateShare, _SmoothModeArea));
        CSpecNormalChannel* spec = cube->GetSpecNormalChannel();
        EXPECT_EQ(spec->GetNormalVectorList()->GetSize(), 8);
        const double d = 1 / std::sqrt(3.0);
        ExpectVector(SpecAt(*spec, 1, 2), d, d, d); // point 7

        // An undefined vector is regenerated with bit 2 only; the old one is marked reused.
        (*spec->GetNormalVectorList())[0].SetFlags(_NormalUndefined);
        EXPECT_FALSE(cube->GenerateNormals(_GenerateShare, _SmoothModeArea)); // neither 1 nor 2
        ASSERT_TRUE(cube->GenerateNormals(_GenerateUndefined | _GenerateShare, _SmoothModeArea));
        ASSERT_EQ(spec->GetNormalVectorList()->GetSize(), 9);
        EXPECT_TRUE((*spec->GetNormalVectorList())[0].IsOneFlagSet(_NormalReused));
        ExpectVector(SpecAt(*spec, 0, 0), -d, -d, -d); // point 0
        int count;
        const int* items = spec->GetNormalFaceList()->GetIndexes(0, count);
        EXPECT_EQ(items[0], 8);
    }
    {
        // Bit 8: flat normals, one vector per face.
        ObjectPtr cube = MakeCube();
        ASSERT_TRUE(cube->GenerateNormals(_GenerateEmptyFaces | _GenerateFlat, _SmoothModeArea));
        CSpecNormalChannel* spec = cube->GetSpecNormalChannel();
        EXPECT_EQ(spec->GetNormalVectorList()->GetSize(), 6);
        ExpectVector(SpecAt(*spec, 4, 3), -1, 0, 0);
        // Mode 7 weighs by area: the same vectors as mode 2.
        ObjectPtr other = MakeCube();
        ASSERT_TRUE(other->SetSmoothAngle(float(Radians(100))));
        ASSERT_TRUE(other->GenerateNormals(_GenerateEmptyFaces, _NormalSmoothMode(7)));
        CSpecNormalChannel* specSeven = other->GetSpecNormalChannel();
        ObjectPtr area = MakeCube();
        ASSERT_TRUE(area->SetSmoothAngle(float(Radians(100))));
        ASSERT_TRUE(area->GenerateNormals(_GenerateEmptyFaces, _SmoothModeArea));
        for (int i = 0; i < 24; ++i)
            EXPECT_EQ((*specSeven->GetNormalVectorList())[i],
                      (*area->GetSpecNormalChannel()->GetNormalVectorList())[i]);
    }
}

TEST(SpecNormals, ComputedVectorsFollowTheirFacesAndCornerLookupsReportTheirSource)
{
    ObjectPtr cube = MakeCube();
    auto* spec = new CSpecNormalChannel;
    cube->AddChannel(spec);
    // Every corner uses vector 0 (given) except those at point 7, which use vector 1
    // (computed) and point 0, which uses vector 2 (undefined).
    C3DVectorList& vectors = *spec->GetNormalVectorList();
    vectors.SetSize(3);
    vectors[0].Set(0, 0, 1);
    vectors[1].SetFlags(_NormalComputed);
    vectors[2].SetFlags(_NormalUndefined);
    CNormalFaceList& faces = *spec->GetNormalFaceList();
    ASSERT_TRUE(faces.SetSize(*cube->GetFaceList()));
    for (unsigned f = 0; f < 6; ++f)
    {
        int count;
        std::vector<int> corners;
        const int* items = cube->GetFaceList()->GetIndexes(f, count);
        for (int k = 0; k < count; ++k)
            corners.push_back(items[k] == 7 ? 1 : items[k] == 0 ? 2 : 0);
        ASSERT_TRUE(faces.SetFaceIndexes(f, corners.data(), unsigned(count)));
    }
    CGeomInfo geom(cube.get());
    ASSERT_TRUE(spec->ComputeNormals(&geom, _SmoothModeArea));
    const double d = 1 / std::sqrt(3.0);
    ExpectVector(vectors[1], d, d, d);
    ExpectVector(vectors[0], 0, 0, 1, 0); // given vectors never change

    CPointNormalChannel* smooth = cube->GetPointNormalChannel();
    ASSERT_NE(smooth, nullptr);
    ASSERT_TRUE(smooth->PrepareSmoothing(&geom, spec));
    unsigned source = 0;
    ExpectVector(*smooth->GetSmoothNormalByIndex(1, 7, &source), d, d, d);
    EXPECT_EQ(source, 5u);
    ExpectVector(*smooth->GetSmoothNormalByCorner(1, 0, &source), 0, 0, 1);
    EXPECT_EQ(source, 2u);
    // At point 0 the specified normal is undefined: the smoothed one is used.
    ASSERT_NE(smooth->GetSmoothNormalByIndex(0, 0, &source), nullptr);
    EXPECT_EQ(source, 9u);
    EXPECT_EQ(smooth->GetSmoothNormalByCorner(9, 0, &source), nullptr);
    EXPECT_EQ(source, 0u);
    ASSERT_TRUE(smooth->PrepareSmoothing(&geom, nullptr));
    ASSERT_NE(smooth->GetSmoothNormalByCorner(1, 0, &source), nullptr);
    EXPECT_EQ(source, 9u);
}

TEST(SpecNormals, CompareFrontiersAndBreakFlags)
{
    CSpecNormalChannel channel;
    C3DTVector<float> z(0, 0, 1), tilted(0, std::sin(0.7f), std::cos(0.7f)), undefined, other;
    undefined.SetFlags(_NormalUndefined);
    other.SetFlags(_NormalUndefined);
    other.Set(1, 0, 0);
    EXPECT_TRUE(channel.Compare(&z, &z, 0));
    EXPECT_FALSE(channel.Compare(&z, &tilted, 0));
    EXPECT_TRUE(channel.Compare(&z, &tilted, 0.25));  // 0.7 rad is within a quarter turn
    EXPECT_FALSE(channel.Compare(&z, &tilted, 0.2));  // but not within 36 degrees
    const C3DTVector<float> down(0, 0, -1);
    EXPECT_TRUE(channel.Compare(&z, &down, 1)); // any two defined normals
    EXPECT_FALSE(channel.Compare(&z, &undefined, 1));
    EXPECT_TRUE(channel.Compare(&undefined, &other, 0.1));

    // Flat normals break along every cube edge; shared smooth ones along none.
    ObjectPtr cube = MakeCube();
    ASSERT_TRUE(cube->GenerateNormals(_GenerateEmptyFaces | _GenerateFlat, _SmoothModeArea));
    CGeomInfo geom(cube.get());
    CSpecNormalChannel* flat = cube->GetSpecNormalChannel();
    EXPECT_TRUE(flat->IsNormalFrontier(&geom, 0.1, C3DEdge(3, 7), 3, 5));
    EXPECT_FALSE(flat->IsNormalFrontier(&geom, M_PI, C3DEdge(3, 7), 3, 5));
    EXPECT_TRUE(flat->IsNormalFrontier(&geom, M_PI, C3DEdge(0, 7), 3, 5)) << "0 is on neither";
    EXPECT_EQ(flat->InitNormalBreakFlag(&geom, 0.1, true, _SmoothModeArea), 12u);
    for (int p = 0; p < 8; ++p)
        EXPECT_TRUE((*cube->GetPointList())[p].IsOneFlagSet(_PointNormalBreak));
    flat->GetNormalFaceList()->SetFaceFlags(3, _FaceInvalid, true);
    EXPECT_FALSE(flat->IsNormalFrontier(&geom, 0.1, C3DEdge(3, 7), 3, 5));

    ObjectPtr smooth = MakeCube();
    ASSERT_TRUE(smooth->SetSmoothAngle(float(Radians(100))));
    ASSERT_TRUE(smooth->GenerateNormals(_GenerateEmptyFaces | _GenerateShare, _SmoothModeArea));
    CGeomInfo smoothGeom(smooth.get());
    EXPECT_EQ(smooth->GetSpecNormalChannel()->InitNormalBreakFlag(&smoothGeom, 0.1, true,
                                                                  _SmoothModeArea),
              0u);
}

TEST(SpecNormals, TransformsKeepNormalsPerpendicularToTheirFaces)
{
    ChannelPtr<CSpecNormalChannel> channel(new CSpecNormalChannel);
    C3DVectorList& vectors = *channel->GetNormalVectorList();
    vectors.SetSize(3);
    const float h = float(1 / std::sqrt(2.0));
    vectors[0].Set(h, h, 0);
    vectors[1].Set(1, 0, 0);
    vectors[2].Set(5, 5, 5);
    vectors[2].SetFlags(_NormalUndefined);

    // Stretching x by 2 turns the plane x + y = c into x/2 + y = c: its normal (1/2, 1, 0).
    C4x4TMatrix<float> stretch;
    stretch[0][0] = 2;
    ASSERT_TRUE(channel->MatrixTransform(stretch));
    const double n = std::sqrt(1.25);
    ExpectVector(vectors[0], 0.5 / n, 1 / n, 0);
    ExpectVector(vectors[2], 5, 5, 5, 0); // undefined vectors are left alone
    // A mirror keeps the normal on the mirrored side.
    C4x4TMatrix<float> mirror;
    mirror[0][0] = -1;
    ASSERT_TRUE(channel->MatrixTransform(mirror));
    ExpectVector(vectors[1], -1, 0, 0);
    C4x4TMatrix<float> flat;
    flat[2][2] = 0;
    const C3DTVector<float> before = vectors[1];
    EXPECT_FALSE(channel->MatrixTransform(flat));
    EXPECT_EQ(vectors[1], before);

    ASSERT_TRUE(channel->SwapCoordinates(0x01 | 0x10)); // exchange x and y, mirror x
    EXPECT_FALSE(channel->SwapCoordinates(0));
    ExpectVector(vectors[1], 0, -1, 0);
    EXPECT_FALSE(channel->Normalize()) << "unit vectors and undefined ones stay";
    vectors[2].SetFlags(0);
    EXPECT_TRUE(channel->Normalize());
    const double third = 1 / std::sqrt(3.0);
    ExpectVector(vectors[2], -third, third, third); // the swap moved it too
    ExpectVector(vectors[1], 0, -1, 0);

    // Recomputed channels only become stale.
    CPointNormalChannel points;
    points.SetFlag(_ChannelModified, false);
    EXPECT_TRUE(points.MatrixTransform(stretch));
    EXPECT_TRUE(points.IsFlagSet(_ChannelModified));
}
