// Channels and their array: ids and the id counter, lookups that skip invalid channels,
// copies and shared copies, per-class comparisons, welding, weight limits, cleaning a whole
// geometry (faces, points, per-corner and per-point channels), archives (round trip, channels
// that are recomputed and not stored, the golden file, truncations and malformed input).
// Every mutation of a geometry with channels is followed by ExpectChannelsParallel.
//
// The golden file tests/data/geometry/channels.bin is written by the disabled test
// ChannelArchive.DISABLED_WriteGoldenFile:
//   build/tests/geometry_tests --gtest_also_run_disabled_tests
//       --gtest_filter=ChannelArchive.DISABLED_WriteGoldenFile
// Rewrite it only when the archive layout is meant to change.
#include "common/geometry_checks.h"
#include "common/zan_test_helpers.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace
{
using Corners = std::vector<int>;
using FaceSet = std::vector<Corners>;

FaceSet AllCorners(const CFaceList& list)
{
    FaceSet faces;
    for (unsigned i = 0; i < unsigned(list.GetSize()); ++i)
    {
        int count;
        const int* p = list.GetIndexes(i, count);
        faces.push_back(p ? Corners(p, p + count) : Corners());
    }
    return faces;
}

void Fill(CFaceList& list, const FaceSet& faces)
{
    for (const Corners& f : faces)
        ASSERT_NE(list.AddFace(f.data(), unsigned(f.size())), kZanNone);
}

// Corner k of face f gets channel point 3f + k: every corner its own value.
FaceSet PerCorner(const FaceSet& faces)
{
    FaceSet out;
    int next = 0;
    for (const Corners& f : faces)
    {
        Corners c;
        for (size_t k = 0; k < f.size(); ++k)
            c.push_back(next++);
        out.push_back(c);
    }
    return out;
}

// A channel whose values are rebuilt from the geometry, like the normal channels: archives
// leave it out.
class CRecomputedChannel : public CChannel
{
public:
    explicit CRecomputedChannel(unsigned id = kZanNone) : CChannel(_ChannelPointNormal, id)
    {
        AdoptLists(new C3DVectorList, new CNormalFaceList);
    }
    bool CanBeRecomputed() const override { return true; }

protected:
    CChannel* Duplicate(bool keepID) const override
    {
        return new CRecomputedChannel(keepID ? GetChannelID() : kZanNone);
    }
    const CXRuntimeClass* GetPointListClass() const override
    {
        return ZAN_RUNTIME_CLASS(C3DVectorList);
    }
    const CXRuntimeClass* GetFaceListClass() const override
    {
        return ZAN_RUNTIME_CLASS(CNormalFaceList);
    }
    CPointList* NewPointList() const override { return new C3DVectorList; }
};

// A geometry of five triangles over eight points (point 4 only in face 2) with a UVW channel
// (one value per corner), a shared vertex-colour channel (one colour per geometry point), a
// per-corner and a per-point weight channel. The context names them all as its source.
struct CTestMesh
{
    static FaceSet Faces() { return {{0, 1, 2}, {1, 3, 2}, {2, 3, 4}, {3, 5, 6}, {5, 7, 6}}; }

    CTestMesh()
    {
        for (int p = 0; p < 8; ++p)
        {
            C3DTPoint<float> point(float(p), float(p % 3), 0);
            points.Add(&point);
        }
        Fill(faces, Faces());
        FaceSet corners = PerCorner(Faces());

        uvw = new CUVWChannel;
        Fill(*uvw->GetFaceList(), corners);
        for (int f = 0; f < 5; ++f)
            for (int k = 0; k < 3; ++k)
            {
                CUVWPoint value(float(f), float(k), 0);
                uvw->GetPointList()->Add(&value);
            }
        colours = new CVCChannel;
        Fill(*colours->GetFaceList(), Faces());
        for (int p = 0; p < 8; ++p)
        {
            CVCPoint value(CRGBColor(uint8_t(p * 10), 0, 0, 255));
            colours->GetPointList()->Add(&value);
        }
        cornerWeights = new CWeightChannel(kZanNone, false);
        Fill(*cornerWeights->GetFaceList(), corners);
        for (int i = 0; i < 15; ++i)
        {
            CWeightPoint value(float(i) / 2);
            cornerWeights->GetPointList()->Add(&value);
        }
        pointWeights = new CWeightChannel(kZanNone, true);
        for (int p = 0; p < 8; ++p)
        {
            CWeightPoint value(float(p * 10));
            pointWeights->GetPointList()->Add(&value);
        }
        channels.AddChannel(uvw);
        channels.AddChannel(colours);
        channels.AddChannel(cornerWeights);
        channels.AddChannel(pointWeights);
        geom.SetPointList(&points, nullptr, 0);
        geom.SetFaceList(&faces, nullptr, 0);
        geom.SetChannels(&channels, nullptr, 0);
    }

    C3DPointList points;
    C3DFaceList faces;
    CDependentChannels channels;
    CGeomInfo geom;
    CUVWChannel* uvw;
    CVCChannel* colours;
    CWeightChannel* cornerWeights;
    CWeightChannel* pointWeights;
};

std::vector<float> Weights(const CChannel& channel)
{
    std::vector<float> out;
    auto* list = dynamic_cast<const CWeightPointList*>(channel.GetPointList());
    for (int i = 0; list && i < list->GetSize(); ++i)
        out.push_back((*list)[i].m_Weight);
    return out;
}

std::vector<uint8_t> Bytes(CXObject& object)
{
    return zantest::StoreToBytes([&](CXArchive& ar) { object.Serialize(ar); });
}

void Load(CXObject& object, const std::vector<uint8_t>& bytes)
{
    zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { object.Serialize(ar); });
}
} // namespace

// ---------------------------------------------------------------- ids and lookups

TEST(Channel, IdsComeFromOneCounterThatLoadedIdsMovePast)
{
    // Under ctest every test runs in a process of its own: nothing made a channel before.
    if (CChannel::GetCreatedCount() == 0)
    {
        EXPECT_EQ(CChannel::GetNextID(), CChannel::kFirstID);
    }
    unsigned live = CChannel::GetLiveCount();
    {
        CDependentChannels array;
        array.AddChannel(new CUVWChannel);
        array.AddChannel(new CVCChannel);
        EXPECT_EQ(array[1]->GetChannelID(), array[0]->GetChannelID() + 1);
        EXPECT_GE(array[0]->GetChannelID(), CChannel::kFirstID);
        EXPECT_EQ(CChannel::GetNextID(), array[1]->GetChannelID() + 1);
        EXPECT_EQ(CChannel::GetLiveCount(), live + 2);

        // An explicit id leaves the counter alone; loading an id beyond it moves it past.
        unsigned created = CChannel::GetCreatedCount();
        CUVWChannel fixed(5);
        EXPECT_EQ(fixed.GetChannelID(), 5u);
        EXPECT_EQ(CChannel::GetCreatedCount(), created + 1);
        unsigned far = CChannel::GetNextID() + 10000;
        fixed.SetChannelID(far);
        auto bytes = Bytes(fixed);
        CUVWChannel loaded;
        Load(loaded, bytes);
        EXPECT_EQ(loaded.GetChannelID(), far);
        CUVWChannel next;
        EXPECT_EQ(next.GetChannelID(), far + 1);
        // A lower loaded id does not move the counter back.
        fixed.SetChannelID(7);
        Load(loaded, Bytes(fixed));
        EXPECT_EQ(CChannel::GetNextID(), far + 2);

        // Copies keep the id only when asked to.
        CChannel* same = next.Copy(_ChannelCopyKeepID);
        CChannel* renamed = next.Copy(0);
        EXPECT_EQ(same->GetChannelID(), next.GetChannelID());
        EXPECT_EQ(renamed->GetChannelID(), far + 2);
        same->Delete();
        renamed->Delete();
    }
    EXPECT_EQ(CChannel::GetLiveCount(), live);
    EXPECT_EQ(CChannel::Create(_Channel3DType(2), kZanNone), nullptr);
    EXPECT_EQ(CChannel::Create(_Channel3DType(0x80), kZanNone), nullptr);
}

TEST(DependentChannels, IndexQueriesSkipInvalidChannelsAndAbsentOnesGiveNothing)
{
    CDependentChannels array;
    EXPECT_EQ(array.AddChannel(nullptr), kZanNone);
    CChannel* badUVW = CChannel::Create(_ChannelUVW, 100);
    CChannel* colours = CChannel::Create(_ChannelVC, 101);
    CChannel* goodUVW = CChannel::Create(_ChannelUVW, 102);
    CChannel* weights = CChannel::Create(_ChannelWeight, 100); // ids are unique per type only
    badUVW->SetFlag(_ChannelInvalid, true);
    for (CChannel* c : {badUVW, colours, goodUVW, weights})
        array.AddChannel(c);

    EXPECT_EQ(array.GetChannelByIndex(0, _ChannelUVW, true), goodUVW);
    EXPECT_EQ(array.GetChannelByIndex(0, _ChannelUVW, false), badUVW);
    EXPECT_EQ(array.GetUVWChannelByIndex(0, true), goodUVW);
    EXPECT_EQ(array.GetChannelByIndex(1, _ChannelUVW, true), nullptr);
    EXPECT_EQ(array.GetChannelByIndex(1, _ChannelUVW | _ChannelVC, true), goodUVW);
    EXPECT_EQ(array.GetChannelByIndex(3), weights);
    EXPECT_EQ(array.GetChannelByIndex(4), nullptr);
    EXPECT_EQ(array.GetChannelByIndex(-1, _ChannelUVW), nullptr);
    EXPECT_EQ(array.GetChannelIndex(102, _ChannelUVW, true), 0u);
    EXPECT_EQ(array.GetChannelIndex(102, _ChannelUVW, false), 1u);
    EXPECT_EQ(array.GetChannelIndex(100, _ChannelUVW, true), kZanNone);
    EXPECT_EQ(array.GetChannelIndex(555, _ChannelVC), kZanNone);
    EXPECT_EQ(array.GetChannelByID(100), badUVW);
    EXPECT_EQ(array.GetChannelByID(100, _ChannelWeight), weights);
    EXPECT_EQ(array.GetVCChannelByID(101), colours);
    EXPECT_EQ(array.GetVCChannelByID(100), nullptr);
    CFaceList* faces;
    CPointList* points;
    EXPECT_EQ(array.GetChannelByID(555, faces, points), nullptr);
    EXPECT_TRUE(faces == nullptr && points == nullptr);
    EXPECT_EQ(array.GetChannelByIndex(0, faces, points, _ChannelWeight), weights);
    EXPECT_EQ(faces, nullptr); // per-point weights
    EXPECT_EQ(points, weights->GetPointList());
    EXPECT_EQ(array.GetChannelType(1), _ChannelVC);
    EXPECT_EQ(array.GetChannelType(9), _ChannelNone);
    EXPECT_EQ(array.GetAt(-1), nullptr);
    EXPECT_EQ(array.GetChannelsNumber(_ChannelUVW, false), 2u);
    EXPECT_EQ(array.GetChannelsNumber(_ChannelUVW, true), 1u);
    CXArray<unsigned int, unsigned int> indices;
    indices.Add(99);
    EXPECT_EQ(array.GetChannels(_ChannelUVW | _ChannelWeight, indices, true), 2u);
    EXPECT_EQ(indices.GetVector(), (std::vector<unsigned>{2, 3}));
    EXPECT_EQ(array.GetPointNormalChannel(), nullptr);

    // Flags on a mask, modification tracking, removals.
    array.SetFlag(_ChannelUVW, _ChannelTracked, true);
    EXPECT_FALSE(array.InvalidateChannels(_ChannelVC));
    EXPECT_TRUE(array.InvalidateChannels(_ChannelAll));
    EXPECT_TRUE(goodUVW->IsFlagSet(_ChannelModified));
    EXPECT_FALSE(colours->IsOneFlagSet(_ChannelModified));
    unsigned live = CChannel::GetLiveCount();
    EXPECT_EQ(array.RemoveChannelsByFlag(_ChannelInvalid), 1u);
    EXPECT_EQ(CChannel::GetLiveCount(), live - 1);
    EXPECT_FALSE(array.RemoveChannelByID(100, _ChannelUVW));
    EXPECT_TRUE(array.RemoveChannelByIndex(0, _ChannelWeight));
    EXPECT_FALSE(array.RemoveChannel(weights)); // already gone
    EXPECT_EQ(array.GetSize(), 2);
    goodUVW->AddRef(); // a holder of our own: removal only drops the array's
    EXPECT_EQ(array.RemoveChannelsByType(_ChannelUVW | _ChannelVC), 2u);
    EXPECT_EQ(goodUVW->GetInstanceCount(), 1);
    goodUVW->Delete();
    EXPECT_EQ(CChannel::GetLiveCount(), live - 4);
}

TEST(Channel, TypeStringsComeFromTheStringTableWithBuiltInFallbacks)
{
    CUVWChannel uvw;
    EXPECT_EQ(uvw.GetTypeString().str(), "texture coordinates");
    EXPECT_EQ(CChannel::GetTypeString(_ChannelFaceNormal).str(), "face normals");
    const CStringTable* table = CXTString::GetStringTable();
    CXTString::SetStringTable(nullptr);
    EXPECT_EQ(CChannel::GetTypeString(_ChannelPointNormal).str(), "Points");
    EXPECT_EQ(CChannel::GetTypeString(_ChannelFaceNormal).str(), "Faces");
    EXPECT_EQ(CChannel::GetTypeString(_ChannelSpecNormal).str(), "Normals");
    EXPECT_EQ(CChannel::GetTypeString(_ChannelWeight).str(), "Weight");
    EXPECT_TRUE(uvw.GetTypeString().IsEmpty());
    CXTString::SetStringTable(table);
    EXPECT_TRUE(CChannel::GetTypeString(2).IsEmpty());
}

// ---------------------------------------------------------------- copies

TEST(Channel, CopiesTakeContentOrStructureAndNeverTheContentOfAnInvalidChannel)
{
    CTestMesh mesh;
    CUVWChannel& uvw = *mesh.uvw;
    uvw.GetPointList()->SavePointsIndex();
    uvw.GetCustomData().SetInt(ZanTag("TEST"), 12);
    uvw.SetFlag(_ChannelTracked, true);

    {
        CChannel* full = uvw.Copy(0);
        ASSERT_NE(full, nullptr);
        EXPECT_NE(full->GetPointList(), uvw.GetPointList());
        EXPECT_EQ(full->GetPointList()->GetChecksum(3), uvw.GetPointList()->GetChecksum(3));
        EXPECT_EQ(AllCorners(*full->GetFaceList()), AllCorners(*uvw.GetFaceList()));
        EXPECT_EQ(full->GetCustomData().GetInt(ZanTag("TEST")), 12);
        EXPECT_EQ(full->GetFlags(), unsigned(_ChannelTracked));
        EXPECT_NE(dynamic_cast<CUVWChannel*>(full), nullptr);
        // The copy is independent.
        full->GetFaceList()->SetFacesFlags(_FaceExcluded, true);
        EXPECT_EQ(uvw.GetFaceList()->GetFaceFlags(0), 0u);
        full->Delete();
    }
    CChannel* shape = uvw.Copy(_ChannelCopyStructure | _ChannelCopyKeepID);
    EXPECT_EQ(shape->GetPointList()->GetSize(), 0);
    EXPECT_EQ(shape->GetFaceList()->GetSize(), 0);
    EXPECT_GT(shape->GetPointList()->GetSizeOfData(ZanTag("POOI")), 0u); // chunk structure kept
    EXPECT_TRUE(shape->IsFlagSet(_ChannelTracked | _ChannelModified));
    EXPECT_EQ(shape->GetCustomData().GetInt(ZanTag("TEST")), 12);
    shape->Delete();

    uvw.SetFlag(_ChannelInvalid, true);
    CChannel* invalid = uvw.Copy(0);
    EXPECT_EQ(invalid->GetPointList()->GetSize(), 0);
    EXPECT_EQ(invalid->GetFaceList()->GetSize(), 0);
    EXPECT_TRUE(invalid->IsFlagSet(_ChannelInvalid | _ChannelModified));
    invalid->Delete();

    // Per-point weights copy as per-point weights.
    CChannel* weights = mesh.pointWeights->Copy(0);
    EXPECT_EQ(weights->GetFaceList(), nullptr);
    EXPECT_EQ(Weights(*weights), Weights(*mesh.pointWeights));
    // Inherit takes flags and chunk structure only.
    CWeightChannel other(kZanNone, true);
    other.GetPointList()->SetSize(3);
    other.Inherit(*mesh.pointWeights);
    EXPECT_EQ(other.GetPointList()->GetSize(), 3);
    other.Inherit(uvw);
    EXPECT_TRUE(other.IsFlagSet(_ChannelInvalid));
    weights->Delete();
}

TEST(DependentChannels, CopyChannelsHonoursTypeMaskAndFlags)
{
    CTestMesh mesh;
    CDependentChannels& src = mesh.channels;
    mesh.colours->SetFlag(_ChannelInvalid, true);
    mesh.cornerWeights->SetFlag(_ChannelNoFaceEdit, true);

    CDependentChannels copy;
    copy.AddChannel(new CUVWChannel);
    CXArray<unsigned int, unsigned int> from;
    EXPECT_EQ(copy.CopyChannels(src, 0, 0), 0u); // an empty mask still empties the array
    EXPECT_EQ(copy.GetSize(), 0);

    EXPECT_EQ(copy.CopyChannels(src, _ChannelAll, _ChannelCopySkipInvalid, &from), 3u);
    EXPECT_EQ(from.GetVector(), (std::vector<unsigned>{0, 2, 3}));
    EXPECT_NE(copy[0], mesh.uvw);
    EXPECT_NE(copy[0]->GetChannelID(), mesh.uvw->GetChannelID());
    zantest::ExpectChannelsParallel(mesh.faces, copy);

    EXPECT_EQ(
        copy.CopyChannels(src, _ChannelWeight,
                          _ChannelCopyAppend | _ChannelCopySkipNoFaceEdit | _ChannelCopyKeepID),
        1u);
    ASSERT_EQ(copy.GetSize(), 4);
    EXPECT_EQ(copy[3]->GetChannelID(), mesh.pointWeights->GetChannelID());

    EXPECT_EQ(copy.CopyChannels(src, _ChannelUVW | _ChannelVC, _ChannelCopyShare), 2u);
    EXPECT_EQ(copy[0], mesh.uvw);
    EXPECT_EQ(copy[1], mesh.colours); // invalid, but not asked to skip
    EXPECT_EQ(mesh.uvw->GetInstanceCount(), 2);
    copy.RemoveAll();
    EXPECT_EQ(mesh.uvw->GetInstanceCount(), 1);

    // Copying an array into itself keeps its channels alive.
    EXPECT_EQ(src.CopyChannels(src, _ChannelAll, _ChannelCopyShare), 4u);
    EXPECT_EQ(src.GetSize(), 4);
    EXPECT_EQ(src[0], mesh.uvw);
    CDependentChannels shared(src);
    EXPECT_EQ(shared[2], mesh.cornerWeights);
    EXPECT_EQ(mesh.cornerWeights->GetInstanceCount(), 2);
}

// ---------------------------------------------------------------- comparisons and welding

TEST(Channel, CompareFollowsEachChannelClass)
{
    CUVWChannel uvw;
    CUVWPoint a(0.5f, 0.25f, 0), b(0.5f, 0.25f, 0), c(0.53f, 0.29f, 0);
    EXPECT_TRUE(uvw.Compare(&a, &b, 0));
    EXPECT_FALSE(uvw.Compare(&a, &c, 0));
    EXPECT_TRUE(uvw.Compare(&a, &c, 0.0501)); // distance 0.05
    EXPECT_FALSE(uvw.Compare(&a, &c, 0.0499));

    CVCChannel colours;
    CVCPoint red(CRGBColor(200, 10, 10, 255)), redder(CRGBColor(201, 10, 10, 0));
    CVCPoint same(CRGBColor(200, 10, 10, 255)), transparent(CRGBColor(200, 10, 10, 0));
    EXPECT_TRUE(colours.Compare(&red, &same, 0));
    EXPECT_FALSE(colours.Compare(&red, &transparent, 0));          // with t = 0 alpha counts
    EXPECT_FALSE(colours.Compare(&red, &redder, 0.5 / 255));       // still t = 0
    EXPECT_TRUE(colours.Compare(&red, &redder, 1.0 / 255 + 1e-9)); // t = 1, alpha ignored
    CVCPoint far(CRGBColor(203, 10, 10, 255));
    EXPECT_FALSE(colours.Compare(&red, &far, 2.0 / 255 + 1e-9));
    EXPECT_TRUE(colours.Compare(&red, &red, 0.1));

    CWeightChannel weights;
    CWeightPoint w1(0.5f), w2(0.75f);
    EXPECT_TRUE(weights.Compare(&w1, &w2, 0.25));
    EXPECT_FALSE(weights.Compare(&w1, &w2, 0.2));
    // Points of another class never compare equal, nor do points of the base channel.
    EXPECT_FALSE(weights.Compare(&w1, &a, 1));
    EXPECT_FALSE(uvw.Compare(&a, &w1, 1));
    CRecomputedChannel base;
    EXPECT_FALSE(base.Compare(&a, &b, 1));
}

TEST(Channel, WeldMergesEqualValuesAroundEachGeometryPointAndKeepsSeams)
{
    // Two triangles sharing the edge 1-2. Corner values: face 0 (0,0) (1,0) (0,1);
    // face 1 (1,0) (1,1) (0,1) except that its corner at point 2 carries (0.5, 1): a seam.
    C3DPointList points;
    for (int p = 0; p < 4; ++p)
    {
        C3DTPoint<float> point(float(p & 1), float(p >> 1), 0);
        points.Add(&point);
    }
    C3DFaceList faces;
    Fill(faces, {{0, 1, 2}, {1, 3, 2}});
    CDependentChannels channels;
    auto* uvw = new CUVWChannel;
    Fill(*uvw->GetFaceList(), {{0, 1, 2}, {3, 4, 5}});
    const float values[][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 0}, {1, 1}, {0.5f, 1}};
    for (auto& v : values)
    {
        CUVWPoint value(v[0], v[1], 0);
        uvw->GetPointList()->Add(&value);
    }
    uvw->SetFlag(_ChannelTracked, true);
    channels.AddChannel(uvw);
    CGeomInfo geom;
    geom.SetPointList(&points, nullptr, 0);
    geom.SetFaceList(&faces, nullptr, 0);
    geom.SetChannels(&channels, nullptr, 0);

    // The connectivity data: the corners around point 1 use channel points 1 and 3.
    ASSERT_TRUE(uvw->InitGraph(&geom));
    int count;
    const _ChannelConnectionInfo* around = uvw->GetChannelPointsConnectedToPoint(1, count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(around[0].m_Point, 1);
    EXPECT_EQ(around[1].m_Face, 1);
    EXPECT_EQ(around[1].m_Corner, 0);
    EXPECT_EQ(around[1].m_Point, 3);
    EXPECT_EQ(uvw->GetChannelPointsConnectedToPoint(4, count), nullptr);
    EXPECT_EQ(count, 0);
    uvw->DeleteGraph();

    // Excluded from face edits or invalid: nothing happens.
    uvw->SetFlag(_ChannelNoFaceEdit, true);
    EXPECT_EQ(channels.Weld(&geom, 0), 0u);
    uvw->SetFlag(_ChannelNoFaceEdit, false);

    EXPECT_EQ(channels.Weld(&geom, 5.0), 1u); // an absurd tolerance counts as 0
    EXPECT_EQ(AllCorners(*uvw->GetFaceList()), (FaceSet{{0, 1, 2}, {1, 3, 4}}));
    EXPECT_EQ(uvw->GetPointList()->GetSize(), 5);
    EXPECT_EQ(uvw->GetUVWPointList()->ElementAt(4).m_U, 0.5f);
    EXPECT_TRUE(uvw->IsFlagSet(_ChannelModified));
    EXPECT_FALSE(uvw->HasGraph());
    zantest::ExpectChannelsParallel(faces, channels);
    EXPECT_FALSE(uvw->Weld(&geom, 0)); // nothing left to merge

    // A tolerance that covers the seam merges it too.
    EXPECT_TRUE(uvw->Weld(&geom, 0.6));
    EXPECT_EQ(AllCorners(*uvw->GetFaceList()), (FaceSet{{0, 1, 2}, {1, 3, 2}}));
    EXPECT_EQ(uvw->GetPointList()->GetSize(), 4);
    zantest::ExpectChannelsParallel(faces, channels);

    // Per-point channels have nothing to merge; without geometry points nothing happens.
    auto* perPoint = new CWeightChannel(kZanNone, true);
    perPoint->GetPointList()->SetSize(4);
    channels.AddChannel(perPoint);
    EXPECT_FALSE(perPoint->Weld(&geom, 0));
    CGeomInfo bare;
    EXPECT_FALSE(uvw->Weld(&bare, 0));
    EXPECT_FALSE(uvw->InitGraph(&bare));
}

TEST(WeightChannel, LimitsAndNormalizeIgnoreNaNAndGuardAgainstAZeroRange)
{
    CWeightChannel weights;
    float min = 1, max = 1;
    weights.GetLimits(min, max);
    EXPECT_EQ(min, 0.0f);
    EXPECT_EQ(max, 0.0f);
    EXPECT_FALSE(weights.Normalize(false));

    for (float w : {2.0f, std::numeric_limits<float>::quiet_NaN(), -1.0f, 5.0f})
    {
        CWeightPoint value(w);
        weights.GetPointList()->Add(&value);
    }
    weights.GetLimits(min, max);
    EXPECT_EQ(min, -1.0f);
    EXPECT_EQ(max, 5.0f);
    weights.SetFlag(_ChannelTracked, true);
    ASSERT_TRUE(weights.Normalize(false));
    std::vector<float> w = Weights(weights);
    EXPECT_FLOAT_EQ(w[0], 0.5f);
    EXPECT_TRUE(std::isnan(w[1]));
    EXPECT_FLOAT_EQ(w[2], 0.0f);
    EXPECT_FLOAT_EQ(w[3], 1.0f);
    EXPECT_TRUE(weights.IsFlagSet(_ChannelModified));
    ASSERT_TRUE(weights.Normalize(true));
    w = Weights(weights);
    EXPECT_FLOAT_EQ(w[0], 0.5f);
    EXPECT_FLOAT_EQ(w[2], 1.0f);
    EXPECT_FLOAT_EQ(w[3], 0.0f);

    CWeightChannel flat;
    for (float v : {3.0f, 3.0f})
    {
        CWeightPoint value(v);
        flat.GetPointList()->Add(&value);
    }
    ASSERT_TRUE(flat.Normalize(true));
    EXPECT_EQ(Weights(flat), (std::vector<float>{1.0f, 1.0f})); // divisor 1: 1 − 0
}

TEST(WeightChannel, WeightsPerGeometryPointAverageTheCornersAroundIt)
{
    CTestMesh mesh;
    CWeightPointList* list = mesh.cornerWeights->GetWeightPointOnlyList(&mesh.geom);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->GetSize(), 8);
    // Point 2 is corner 2 of face 0 (1.0), corner 2 of face 1 (2.5), corner 0 of face 2 (3.0).
    EXPECT_FLOAT_EQ((*list)[2].m_Weight, (1.0f + 2.5f + 3.0f) / 3);
    EXPECT_FLOAT_EQ((*list)[7].m_Weight, 6.5f);
    list->Delete();
    list = mesh.pointWeights->GetWeightPointOnlyList(&mesh.geom);
    EXPECT_EQ((*list)[5].m_Weight, 50.0f);
    list->Delete();
    CGeomInfo bare;
    EXPECT_EQ(mesh.cornerWeights->GetWeightPointOnlyList(&bare), nullptr);
}

// ---------------------------------------------------------------- cleaning

TEST(Channel, CleaningTheGeometryRemovesTheSameChannelFacesAndTheUnusedValues)
{
    CTestMesh mesh;
    mesh.uvw->SetFlag(_ChannelTracked, true);
    mesh.faces.SetFaceFlags(2, _FaceInvalid, true);
    ASSERT_TRUE(mesh.faces.Clean(&mesh.geom));
    zantest::ExpectChannelsParallel(mesh.faces, mesh.channels);

    // Point 4 was used by face 2 only: the geometry is renumbered past it.
    EXPECT_EQ(mesh.points.GetSize(), 7);
    EXPECT_EQ(AllCorners(mesh.faces), (FaceSet{{0, 1, 2}, {1, 3, 2}, {3, 4, 5}, {4, 6, 5}}));
    // UVW: channel faces 0, 1, 3, 4 in that order, renumbered past the three values of face 2.
    EXPECT_EQ(AllCorners(*mesh.uvw->GetFaceList()),
              (FaceSet{{0, 1, 2}, {3, 4, 5}, {6, 7, 8}, {9, 10, 11}}));
    ASSERT_EQ(mesh.uvw->GetPointList()->GetSize(), 12);
    EXPECT_EQ(mesh.uvw->GetUVWPointList()->ElementAt(6).m_U, 3.0f); // face 3's first value
    EXPECT_TRUE(mesh.uvw->IsFlagSet(_ChannelModified));
    // Shared colours lose the colour of point 4 and follow the geometry's numbering.
    EXPECT_EQ(AllCorners(*mesh.colours->GetFaceList()), AllCorners(mesh.faces));
    EXPECT_EQ(mesh.colours->GetVCPointList()->ElementAt(4).GetColor().m_Red, 50);
    // Per-corner weights keep the weights of the faces kept; per-point weights lose point 4's.
    EXPECT_EQ(Weights(*mesh.cornerWeights),
              (std::vector<float>{0, 0.5f, 1, 1.5f, 2, 2.5f, 4.5f, 5, 5.5f, 6, 6.5f, 7}));
    EXPECT_EQ(Weights(*mesh.pointWeights), (std::vector<float>{0, 10, 20, 30, 50, 60, 70}));
    EXPECT_EQ(mesh.pointWeights->GetPointList()->GetSize(), mesh.points.GetSize());

    // A clean with nothing to do changes nothing.
    unsigned stamp = mesh.faces.GetChangedStamp();
    EXPECT_FALSE(mesh.faces.Clean(&mesh.geom));
    EXPECT_EQ(mesh.faces.GetChangedStamp(), stamp);
    zantest::ExpectChannelsParallel(mesh.faces, mesh.channels);
}

TEST(Channel, RepeatedCornersLeaveTheChannelsThatFollowFaceEdits)
{
    CTestMesh mesh;
    // A quad with a repeated corner: (1, 3, 3, 2) loses position 1 in the geometry and in
    // every channel that follows face edits.
    const int quad[] = {1, 3, 3, 2};
    const int channelQuad[] = {3, 4, 14, 5};
    const int colourQuad[] = {1, 3, 3, 2};
    ASSERT_TRUE(mesh.faces.SetFaceIndexes(1, quad, 4));
    ASSERT_TRUE(mesh.uvw->GetFaceList()->SetFaceIndexes(1, channelQuad, 4));
    ASSERT_TRUE(mesh.colours->GetFaceList()->SetFaceIndexes(1, colourQuad, 4));
    ASSERT_TRUE(mesh.cornerWeights->GetFaceList()->SetFaceIndexes(1, channelQuad, 4));
    mesh.cornerWeights->SetFlag(_ChannelNoFaceEdit, true);
    zantest::ExpectChannelsParallel(mesh.faces, mesh.channels);

    ASSERT_TRUE(mesh.faces.CleanPointsIndex(&mesh.geom));
    EXPECT_EQ(AllCorners(mesh.faces)[1], (Corners{1, 3, 2}));
    EXPECT_EQ(AllCorners(*mesh.uvw->GetFaceList())[1], (Corners{3, 14, 5}));
    EXPECT_EQ(AllCorners(*mesh.colours->GetFaceList())[1], (Corners{1, 3, 2}));
    EXPECT_EQ(mesh.cornerWeights->GetFaceList()->GetFaceSize(1), 4); // left alone
    mesh.cornerWeights->SetFlag(_ChannelInvalid, true);              // so not compared
    zantest::ExpectChannelsParallel(mesh.faces, mesh.channels);
    EXPECT_FALSE(mesh.faces.CleanPointsIndex(&mesh.geom));
    EXPECT_FALSE(mesh.faces.CleanPointsIndex(static_cast<const CGeomInfo*>(nullptr)));

    // A degenerate triangle goes with its channel faces through the whole clean.
    const int flat[] = {5, 5, 6};
    ASSERT_TRUE(mesh.faces.SetFaceIndexes(3, flat, 3));
    mesh.cornerWeights->SetFlag(_ChannelInvalid, false);
    mesh.cornerWeights->SetFlag(_ChannelNoFaceEdit, false);
    ASSERT_TRUE(mesh.faces.Clean(&mesh.geom));
    EXPECT_EQ(mesh.faces.GetSize(), 4);
    EXPECT_EQ(mesh.uvw->GetFaceList()->GetSize(), 4);
    // The weights kept a 4-corner face where the geometry has 3: their face count still
    // matches, so they stay valid, and the check below sees the corner drift.
    EXPECT_FALSE(zantest::ChannelsParallel(mesh.faces, mesh.channels));
    mesh.channels.RemoveChannel(mesh.cornerWeights);
    zantest::ExpectChannelsParallel(mesh.faces, mesh.channels);
}

TEST(Channel, AChannelThatCannotFollowTheGeometryBecomesInvalid)
{
    CTestMesh mesh;
    mesh.uvw->GetFaceList()->SetSize(3); // two faces short
    mesh.faces.SetFaceFlags(0, _FaceInvalid, true);
    ASSERT_TRUE(mesh.faces.Clean(&mesh.geom));
    EXPECT_TRUE(mesh.uvw->IsFlagSet(_ChannelInvalid));
    zantest::ExpectChannelsParallel(mesh.faces, mesh.channels); // invalid ones are skipped
    EXPECT_EQ(mesh.channels.GetUVWChannelByIndex(0, true), nullptr);
    EXPECT_EQ(mesh.channels.RemoveChannelsByFlag(_ChannelInvalid), 1u);
    zantest::ExpectChannelsParallel(mesh.faces, mesh.channels);
}

// ---------------------------------------------------------------- archives

namespace
{
// The channels of the golden archive, built the same way every time.
void StoreGoldenChannels(CXArchive& ar)
{
    CTestMesh mesh;
    mesh.uvw->SetChannelID(42);
    mesh.colours->SetChannelID(43);
    mesh.cornerWeights->SetChannelID(44);
    mesh.pointWeights->SetChannelID(45);
    mesh.uvw->SetFlag(_ChannelTracked, true);
    mesh.colours->SetFlag(_ChannelNoFaceEdit, true);
    mesh.uvw->GetCustomData().SetString(ZanTag("NAME"), "UVChannel_1");
    mesh.cornerWeights->GetFaceList()->SetFaceFlags(4, _FaceExcluded, true);
    mesh.channels.AddChannel(new CRecomputedChannel(46)); // not stored
    mesh.channels.Serialize(ar);
}

std::string GoldenPath()
{
    return std::string(ZAN3D_TEST_DATA_DIR) + "/geometry/channels.bin";
}

// A loaded array's content, for comparisons.
std::vector<uint8_t> Content(CDependentChannels& channels)
{
    return Bytes(channels);
}
} // namespace

TEST(ChannelArchive, RecomputedChannelsAreNotStoredAndTheRestRoundTrips)
{
    CTestMesh mesh;
    mesh.uvw->SetFlag(_ChannelTracked, true);
    mesh.uvw->GetCustomData().SetDouble(ZanTag("SCAL"), 2.5);
    mesh.channels.AddChannel(new CRecomputedChannel);
    auto bytes = Bytes(mesh.channels);
    uint32_t stored;
    std::memcpy(&stored, bytes.data(), 4);
    EXPECT_EQ(stored, 4u);

    CDependentChannels loaded;
    loaded.AddChannel(new CVCChannel);
    Load(loaded, bytes);
    ASSERT_EQ(loaded.GetSize(), 4);
    EXPECT_EQ(loaded.GetPointNormalChannel(), nullptr);
    for (int c = 0; c < 4; ++c)
    {
        EXPECT_EQ(loaded[c]->GetRuntimeClassDescriptor(),
                  mesh.channels[c]->GetRuntimeClassDescriptor());
        EXPECT_EQ(loaded[c]->GetChannelID(), mesh.channels[c]->GetChannelID());
        EXPECT_EQ(loaded[c]->GetPointList()->GetChecksum(3),
                  mesh.channels[c]->GetPointList()->GetChecksum(3));
    }
    EXPECT_TRUE(loaded[0]->IsFlagSet(_ChannelTracked | _ChannelModified)); // tracked: modified
    EXPECT_EQ(loaded[0]->GetCustomData().GetDouble(ZanTag("SCAL")), 2.5);
    EXPECT_EQ(loaded[3]->GetFaceList(), nullptr); // still per point
    EXPECT_EQ(AllCorners(*loaded[2]->GetFaceList()),
              AllCorners(*mesh.cornerWeights->GetFaceList()));
    zantest::ExpectChannelsParallel(mesh.faces, loaded);
    loaded[0]->SetFlag(_ChannelModified, false);
    EXPECT_EQ(Bytes(loaded), Bytes(mesh.channels));
}

TEST(ChannelArchive, GoldenFilePinsTheLayout)
{
    auto golden = zantest::ReadFileBytes(GoldenPath());
    ASSERT_FALSE(golden.empty()) << "missing " << GoldenPath();
    EXPECT_EQ(zantest::StoreToBytes(StoreGoldenChannels), golden)
        << "the channel archive layout changed";

    CDependentChannels loaded;
    Load(loaded, golden);
    ASSERT_EQ(loaded.GetSize(), 4);
    EXPECT_NE(loaded.GetUVWChannelByID(42), nullptr);
    EXPECT_NE(loaded.GetVCChannelByID(43), nullptr);
    auto* corner = dynamic_cast<CWeightChannel*>(loaded.GetChannelByID(44, _ChannelWeight));
    auto* point = dynamic_cast<CWeightChannel*>(loaded.GetChannelByID(45, _ChannelWeight));
    ASSERT_TRUE(corner && point);
    EXPECT_FALSE(corner->IsPerPoint());
    EXPECT_TRUE(point->IsPerPoint());
    EXPECT_EQ(Weights(*point), (std::vector<float>{0, 10, 20, 30, 40, 50, 60, 70}));
    EXPECT_TRUE(corner->GetFaceList()->IsFaceFlagSet(4, _FaceExcluded));
    EXPECT_TRUE(loaded[0]->IsFlagSet(_ChannelModified));
    EXPECT_TRUE(loaded[1]->IsFlagSet(_ChannelNoFaceEdit));
    EXPECT_EQ(loaded[0]->GetCustomData().GetString(ZanTag("NAME")).str(), "UVChannel_1");
    EXPECT_EQ(AllCorners(*loaded[1]->GetFaceList()), CTestMesh::Faces());
    EXPECT_GT(CChannel::GetNextID(), 45u);
}

TEST(ChannelArchive, DISABLED_WriteGoldenFile)
{
    ASSERT_TRUE(zantest::WriteFileBytes(GoldenPath(), zantest::StoreToBytes(StoreGoldenChannels)));
}

TEST(ChannelArchive, EveryTruncationIsRefusedAndLeavesTheTargetUnchanged)
{
    CTestMesh mesh;
    mesh.colours->GetCustomData().SetInt(ZanTag("LAYR"), 3);
    auto bytes = Bytes(mesh.channels);

    CDependentChannels target;
    auto* kept = new CUVWChannel(77);
    target.AddChannel(kept);
    const auto before = Content(target);
    const unsigned live = CChannel::GetLiveCount();
    for (size_t n = 0; n < bytes.size(); ++n)
    {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(n));
        EXPECT_THROW(Load(target, prefix), CXArchiveException) << n;
        ASSERT_EQ(target.GetSize(), 1) << n;
        ASSERT_EQ(target[0], kept) << n;
        ASSERT_EQ(Content(target), before) << n;
        ASSERT_EQ(CChannel::GetLiveCount(), live) << n; // nothing half-read is left behind
    }
    // The same for one channel read on its own.
    auto one = Bytes(*mesh.uvw);
    for (size_t n = 0; n < one.size(); n += 7)
    {
        std::vector<uint8_t> prefix(one.begin(), one.begin() + long(n));
        EXPECT_THROW(Load(*kept, prefix), CXArchiveException) << n;
        ASSERT_EQ(Content(target), before) << n;
    }
    Load(target, bytes);
    EXPECT_EQ(Content(target), bytes);
}

TEST(ChannelArchive, MalformedChannelsAreRefusedAndChangeNothing)
{
    CUVWChannel source(500);
    Fill(*source.GetFaceList(), {{0, 1, 2}});
    for (int i = 0; i < 3; ++i)
        source.GetPointList()->Add();
    auto good = zantest::StoreToBytes(
        [&](CXArchive& ar)
        {
            ar.WriteCount(1);
            ar.WriteClass(source.GetRuntimeClassDescriptor());
            source.Serialize(ar);
        });
    const size_t fields = 4 + 4 + std::strlen("CUVWChannel"); // count and class record
    auto patched = [&](size_t offset, uint32_t value)
    {
        auto bytes = good;
        std::memcpy(bytes.data() + offset, &value, 4);
        return bytes;
    };

    CDependentChannels target;
    target.AddChannel(new CVCChannel(88));
    const auto before = Content(target);
    auto refused = [&](const std::vector<uint8_t>& bytes)
    {
        bool thrown = zantest::ArchiveFails([&] { Load(target, bytes); });
        return thrown && Content(target) == before;
    };
    EXPECT_TRUE(refused(patched(fields, _ChannelVC)));   // type of another class
    EXPECT_TRUE(refused(patched(fields + 8, kZanNone))); // id "none"
    EXPECT_TRUE(refused(patched(fields + 12, 2)));       // face list marker
    EXPECT_TRUE(refused(patched(0, 0x7FFFFFFF)));        // absurd count
    EXPECT_TRUE(refused(zantest::StoreToBytes(           // not a channel class
        [&](CXArchive& ar)
        {
            ar.WriteCount(1);
            ar.WriteClass(ZAN_RUNTIME_CLASS(CUVWPointList));
        })));
    EXPECT_TRUE(refused(zantest::StoreToBytes( // the abstract base
        [&](CXArchive& ar)
        {
            ar.WriteCount(1);
            ar.WriteClass(ZAN_RUNTIME_CLASS(CChannel));
            source.Serialize(ar);
        })));
    // A face that uses a channel point the channel does not have.
    source.GetPointList()->SetSize(2);
    EXPECT_TRUE(refused(zantest::StoreToBytes(
        [&](CXArchive& ar)
        {
            ar.WriteCount(1);
            ar.WriteClass(source.GetRuntimeClassDescriptor());
            source.Serialize(ar);
        })));
    // A point list of another point type.
    CVCChannel colours(501);
    colours.GetPointList()->Add();
    auto wrongPoints = zantest::StoreToBytes(
        [&](CXArchive& ar)
        {
            ar << int(_ChannelUVW) << 0u << 503u << 0 << 1;
            colours.GetPointList()->Serialize(ar);
            CCustomData().Serialize(ar);
        });
    CUVWChannel single(502);
    const auto singleBefore = Bytes(single);
    EXPECT_THROW(Load(single, wrongPoints), CXArchiveException);
    EXPECT_EQ(Bytes(single), singleBefore);
    Load(target, good);
    EXPECT_EQ(target.GetUVWChannelByID(500)->GetPointList()->GetSize(), 3);
}

// ---------------------------------------------------------------- lists of a channel

TEST(Channel, ListsAreReplacedOnlyByListsOfTheChannelsType)
{
    CUVWChannel uvw;
    auto* points = new CUVWPointList;
    auto* wrong = new CVCPointList;
    EXPECT_FALSE(uvw.SetPointList(_ChannelUVW, wrong, true));
    EXPECT_FALSE(uvw.SetPointList(_ChannelVC, points, true));
    EXPECT_TRUE(uvw.SetPointList(_ChannelUVW, points, true));
    EXPECT_EQ(uvw.GetPointList(), points);
    EXPECT_TRUE(uvw.SetPointList(_ChannelUVW, points, true)); // the same list: nothing
    points->AddRef();
    EXPECT_TRUE(uvw.SetPointList(_ChannelUVW, nullptr, true));
    EXPECT_EQ(points->GetInstanceCount(), 1);
    points->Delete();
    wrong->Delete();

    auto* faces = new CUVWFaceList;
    Fill(*faces, {{4, 5, 6}});
    CFaceList* old = uvw.GetFaceList();
    old->AddRef();
    EXPECT_TRUE(uvw.SetFaceList(_ChannelUVW, faces, false));
    EXPECT_EQ(old->GetInstanceCount(), 2); // not released: the caller keeps it
    old->Delete();
    old->Delete();
    EXPECT_EQ(uvw.GetChannelPointIndex(0, 2), 6);
    EXPECT_EQ(uvw.GetChannelPointIndex(0, 3), -1);
    EXPECT_EQ(uvw.GetChannelPointIndex(1, 0), -1);
    EXPECT_EQ(uvw.GetChannelPointIndex(-1, 0), -1);
    CWeightChannel perPoint;
    EXPECT_EQ(perPoint.GetChannelPointIndex(0, 0), -1);
}
