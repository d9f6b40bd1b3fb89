// Face storage and face lists: record growth and compaction, face edits and their flags, the
// point bound, sizing, flags, reorders, cleans and copies with their chunks, materials,
// checksums, archives (round trips, the golden file, truncations, malformed storage) and a
// random edit sequence checked against a plain reference model.
//
// The golden file tests/data/geometry/facelists.bin is written by the disabled test
// FaceListArchive.DISABLED_WriteGoldenFile:
//   build/tests/geometry_tests --gtest_also_run_disabled_tests
//       --gtest_filter=FaceListArchive.DISABLED_WriteGoldenFile
// Rewrite it only when the archive layout is meant to change.
#include "common/geometry_checks.h"
#include "common/zan_test_helpers.h"

#include <3dzan/geometry/elementmethods.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

namespace
{
using Corners = std::vector<int>;
using FaceSet = std::vector<Corners>;

Corners CornersOf(const CFaceList& list, unsigned i)
{
    int count;
    const int* p = list.GetIndexes(i, count);
    return p ? Corners(p, p + count) : Corners();
}

FaceSet AllCorners(const CFaceList& list)
{
    FaceSet faces;
    for (unsigned i = 0; i < unsigned(list.GetSize()); ++i)
        faces.push_back(CornersOf(list, i));
    return faces;
}

void Fill(CFaceList& list, const FaceSet& faces)
{
    for (const Corners& f : faces)
        ASSERT_NE(list.AddFace(f.data(), unsigned(f.size())), kZanNone);
}

std::vector<uint8_t> Bytes(CFaceList& list)
{
    return zantest::StoreToBytes([&](CXArchive& ar) { list.Serialize(ar); });
}

void Load(CFaceList& list, const std::vector<uint8_t>& bytes)
{
    zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { list.Serialize(ar); });
}

// Exposes the owner's refresh call.
class COwnedFaceList : public C3DFaceList
{
public:
    using C3DFaceList::operator=;
    using C3DFaceList::UpdateList;
};

// The checksum written out from its definition, independently of the library's mixes.
uint32_t RefMix32(uint32_t k)
{
    k += ~(k << 15);
    k ^= k >> 10;
    k += k << 3;
    k ^= k >> 6;
    k += ~(k << 11);
    k ^= k >> 16;
    return k;
}

uint32_t RefMix64Low(uint64_t k)
{
    k = (k << 18) + ~k;
    k ^= k >> 31;
    k *= 21;
    k ^= k >> 11;
    k *= 65;
    k ^= k >> 22;
    return uint32_t(k);
}

uint32_t ReferenceChecksum(const CFaceList& list, unsigned mask)
{
    uint32_t h = 0;
    if (mask & 4)
        for (unsigned i = 0; i < unsigned(list.GetSize()); ++i)
            if (!(list.GetFaceFlags(i) & 3))
                for (int v : CornersOf(list, i))
                    h = RefMix32(uint32_t(v) + h);
    if (mask & 8)
    {
        const CDataChunk& chunks = list.GetDataChunks();
        for (unsigned pos = chunks.GetFirstChunk(); pos != kZanNone;)
        {
            unsigned id;
            chunks.GetNextChunk(pos, id);
            h += RefMix64Low((uint64_t(id) << 32) | chunks.GetData(id)->GetChecksum());
        }
    }
    return h;
}
} // namespace

// ---------------------------------------------------------------- storage

TEST(FaceStorage, RecordsGrowByAppendingACopyAndDeadBytesAreReclaimed)
{
    CFaceStorage s;
    EXPECT_EQ(s.GetDefaultItems(), 3u);
    const int a[] = {1, 2, 3}, b[] = {4, 5, 6};
    ASSERT_EQ(s.AddRecord(a, 3), 0u);
    ASSERT_EQ(s.AddRecord(b, 3), 1u);
    EXPECT_EQ(s.GetUsedBytes(), 32u);
    EXPECT_EQ(s.GetDeadBytes(), 0u);

    // Beyond the capacity: a new copy at the end, the old bytes dead, values kept.
    ASSERT_NE(s.SetItemCount(0, 5), nullptr);
    EXPECT_EQ(s.GetOffsets()[0], 32u);
    EXPECT_EQ(s.GetCapacity(0), 5u);
    EXPECT_EQ(s.GetDeadBytes(), 16u);
    EXPECT_EQ(s.GetUsedBytes(), 56u);
    unsigned n;
    const int* items = s.GetItems(0, n);
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(std::vector<int>(items, items + 5), (std::vector<int>{1, 2, 3, 0, 0}));
    // Within the capacity only the count moves, and corners that come back are zero, not
    // the values they held before.
    s.ItemsAt(0)[3] = 77;
    s.SetItemCount(0, 2);
    EXPECT_EQ(s.GetCapacity(0), 5u);
    EXPECT_EQ(s.GetOffsets()[0], 32u);
    s.SetItemCount(0, 4);
    items = s.GetItems(0, n);
    EXPECT_EQ(std::vector<int>(items, items + n), (std::vector<int>{1, 2, 0, 0}));

    ASSERT_TRUE(s.Compact(true));
    EXPECT_EQ(s.GetDeadBytes(), 0u);
    EXPECT_EQ(s.GetUsedBytes(), 24u + 16u);
    EXPECT_EQ(s.GetBufferSize(), s.GetUsedBytes());
    EXPECT_EQ(s.GetOffsets()[0], 0u);
    EXPECT_EQ(s.GetOffsets()[1], 24u);
    items = s.GetItems(1, n);
    EXPECT_EQ(std::vector<int>(items, items + n), (std::vector<int>{4, 5, 6}));

    // Limits: nothing changes.
    EXPECT_EQ(s.SetItemCount(0, 65536), nullptr);
    EXPECT_EQ(s.SetItemCount(2, 1), nullptr);
    EXPECT_EQ(s.AddRecord(nullptr, 65536), kZanNone);
    EXPECT_EQ(s.GetItemCount(0), 4u);
    EXPECT_EQ(s.GetCount(), 2u);
    EXPECT_EQ(s.GetItems(2, n), nullptr);
    EXPECT_EQ(n, 0u);
}

TEST(FaceStorage, GrowingOneRecordManyTimesKeepsTheBufferBounded)
{
    CFaceStorage s;
    ASSERT_EQ(s.AddRecord(nullptr, 0), 0u);
    for (unsigned n = 1; n <= 2000; ++n)
    {
        int* items = s.SetItemCount(0, n);
        ASSERT_NE(items, nullptr);
        items[n - 1] = int(n);
    }
    unsigned n;
    const int* items = s.GetItems(0, n);
    ASSERT_EQ(n, 2000u);
    for (unsigned i = 0; i < n; ++i)
        ASSERT_EQ(items[i], int(i + 1));
    // Without reclaiming dead copies the buffer would hold about 8 MB of them.
    uint64_t live = CFaceStorage::RecordBytes(2000);
    EXPECT_LE(s.GetUsedBytes(), 4 * live);
    EXPECT_LE(s.GetBufferSize(), 8 * live);
}

// ---------------------------------------------------------------- single faces

TEST(Face, ResizingKeepsLeadingCornersAndTracksTheInvalidFlag)
{
    C3DFaceList list;
    Fill(list, {{1, 2, 3}, {4, 5, 6}});
    CFace face, other;
    ASSERT_TRUE(list.GetFace(0, face));
    ASSERT_TRUE(list.GetFace(1, other));
    EXPECT_FALSE(list.GetFace(2, face));
    EXPECT_EQ(face.GetFaceIndex(), 0u);

    int* grown = face.SetSize(5); // beyond the capacity of 3: the face moves
    ASSERT_NE(grown, nullptr);
    grown[3] = 7;
    grown[4] = 8;
    EXPECT_EQ(CornersOf(list, 0), (Corners{1, 2, 3, 7, 8}));
    EXPECT_EQ(CornersOf(list, 1), (Corners{4, 5, 6}));
    EXPECT_EQ(other.GetIndex(2), 6); // the other handle still reads its face
    EXPECT_FALSE(face.IsFlagSet(_FaceInvalid));
    face.SetSize(2);
    EXPECT_TRUE(face.IsFlagSet(_FaceInvalid));
    EXPECT_EQ(face.SetSize(0), nullptr);
    EXPECT_EQ(list.GetFaceSize(0), 0);
    int count = -1;
    EXPECT_EQ(list.GetIndexes(0, count), nullptr);
    EXPECT_EQ(count, 0);
    face.SetSize(3);
    EXPECT_FALSE(face.IsFlagSet(_FaceInvalid));
    EXPECT_EQ(face.SetSize(-1), nullptr);
    EXPECT_EQ(face.SetSize(65536), nullptr);
    EXPECT_EQ(face.GetSize(), 3);
    EXPECT_NE(face.SetSize(65535), nullptr);
    EXPECT_EQ(face.GetSize(), 65535);

    // Triangles and quadrangles clear the flag; one added corner clears it from 2 corners.
    face.SetFlag(_FaceInvalid, true);
    ASSERT_TRUE(face.SetQuadrangle(9, 8, 7, 6));
    EXPECT_EQ(CornersOf(list, 0), (Corners{9, 8, 7, 6}));
    EXPECT_FALSE(face.IsFlagSet(_FaceInvalid));
    face.SetSize(0);
    EXPECT_EQ(face.AddIndex(4), 1);
    EXPECT_TRUE(face.IsFlagSet(_FaceInvalid));
    EXPECT_EQ(face.AddIndex(5), 2);
    EXPECT_FALSE(face.IsFlagSet(_FaceInvalid));
    ASSERT_TRUE(face.SetTriangle(1, 2, 1));
    EXPECT_EQ(face.AddIndex(3), 4);
    EXPECT_EQ(CornersOf(list, 0), (Corners{1, 2, 1, 3}));

    // The last occurrence goes; fewer than 3 corners left makes the face invalid.
    EXPECT_TRUE(face.RemoveIndex(1));
    EXPECT_EQ(CornersOf(list, 0), (Corners{1, 2, 3}));
    EXPECT_FALSE(face.RemoveIndex(9));
    EXPECT_FALSE(face.IsFlagSet(_FaceInvalid));
    EXPECT_TRUE(face.RemoveIndex(2));
    EXPECT_TRUE(face.IsFlagSet(_FaceInvalid));
    EXPECT_EQ(CornersOf(list, 1), (Corners{4, 5, 6}));
}

TEST(Face, QueriesOnCornersEdgesAndCycles)
{
    C3DFaceList list;
    Fill(list, {{7, 2, 7}, {1, 2, 3}, {3, 1, 2}, {3, 2, 1}, {1, 2, 3, 4}});
    CFace f0, f1, f2, f3, f4;
    list.GetFace(0, f0);
    list.GetFace(1, f1);
    list.GetFace(2, f2);
    list.GetFace(3, f3);
    list.GetFace(4, f4);

    EXPECT_EQ(f0.ReplaceIndex(7, 9), 5);
    EXPECT_EQ(CornersOf(list, 0), (Corners{9, 2, 9}));
    EXPECT_EQ(f0.ReplaceIndex(2, 4), 1);
    EXPECT_EQ(f0.ReplaceIndex(5, 6), 0);
    EXPECT_EQ(f0.ReplaceIndex(9, 9), 0);

    EXPECT_EQ(f4.IsFacePoint(3), 2);
    EXPECT_EQ(f4.IsFacePoint(8), -1);
    EXPECT_EQ(f4.GetNextIndex(3), 1);
    EXPECT_EQ(f4.GetPrevIndex(0), 4);
    EXPECT_EQ(f4.GetNextIndex(4), -1);
    EXPECT_EQ(f4.GetPrevIndex(-1), -1);
    EXPECT_EQ(f4.IsFaceEdge(2, 3, true), 1);
    EXPECT_EQ(f4.IsFaceEdge(3, 2, true), -1);
    EXPECT_EQ(f4.IsFaceEdge(3, 2, false), 1);
    EXPECT_EQ(f4.IsFaceEdge(4, 1, true), 3); // the closing edge
    EXPECT_EQ(f4.IsFaceEdge(1, 3, false), -1);

    EXPECT_FALSE(f1.CompareIndexes(f2, false));
    EXPECT_TRUE(f1.CompareIndexes(f2, true));
    EXPECT_TRUE(f2.CompareIndexes(f1, true));
    EXPECT_FALSE(f1.CompareIndexes(f3, false));
    EXPECT_FALSE(f1.CompareIndexes(f3, true));
    EXPECT_FALSE(f1.CompareIndexes(f4, true));
    EXPECT_TRUE(f1.CompareIndexes(f1, false));

    f3.Flip();
    EXPECT_TRUE(f1.CompareIndexes(f3, false));
    f4.Flip();
    EXPECT_EQ(CornersOf(list, 4), (Corners{4, 3, 2, 1}));

    // A handle that names no face does nothing.
    CFace loose;
    EXPECT_FALSE(loose.IsValid());
    EXPECT_EQ(loose.GetSize(), 0);
    EXPECT_EQ(loose.SetSize(3), nullptr);
    EXPECT_FALSE(loose.SetTriangle(1, 2, 3));
    EXPECT_EQ(loose.AddIndex(1), -1);
    EXPECT_EQ(loose.GetFlags(), 0u);
    EXPECT_TRUE(loose.CompareIndexes(CFace(), true));
    list.SetSize(2);
    EXPECT_FALSE(f4.IsValid());
    EXPECT_EQ(f4.GetIndexes(), nullptr);
    EXPECT_EQ(f4.AddIndex(1), -1);
}

TEST(Face, PointsAreReadAndFlaggedThroughTheListTheIndicesAddress)
{
    C3DPointList points;
    for (int i = 0; i < 5; ++i)
    {
        C3DTPoint<float> p(float(3 * i), float(6 * i), 1.0f);
        points.Add(&p);
    }
    C3DFaceList faces;
    ASSERT_TRUE(faces.SetPointBound(points));
    EXPECT_EQ(faces.GetPointBound(), 5u);
    const int outside[] = {0, 1, 5}, inside[] = {0, 1, 4};
    EXPECT_EQ(faces.AddFace(outside, 3, points), kZanNone);
    C3DFaceList unbounded;
    EXPECT_EQ(unbounded.AddFace(outside, 3, points), kZanNone);
    ASSERT_EQ(faces.AddFace(inside, 3, points), 0u);
    faces.SetSize(2, 3);
    faces.SetFaceIndexes(1, nullptr, 0);

    CFace face, empty;
    faces.GetFace(0, face);
    faces.GetFace(1, empty);
    C4DPoint center;
    ASSERT_TRUE(face.GetCenter(points, center));
    EXPECT_EQ(center.GetDimension(), 3);
    EXPECT_DOUBLE_EQ(center[0], 5.0);
    EXPECT_DOUBLE_EQ(center[1], 10.0);
    EXPECT_DOUBLE_EQ(center[2], 1.0);
    EXPECT_FALSE(empty.GetCenter(points, center));

    ASSERT_TRUE(face.SetPointFlag(points, 0x10, true));
    EXPECT_EQ(points.GetNumberOfPoints(0x10u, true), 3);
    EXPECT_EQ(points[4].GetFlags(), 0x10u);
    EXPECT_EQ(face.IsPointFlagSet(points, 0x10), _FlagAll);
    points[1].SetFlags(0x10, false);
    EXPECT_EQ(face.IsPointFlagSet(points, 0x10), _FlagSome);
    EXPECT_TRUE(face.IsOnePointFlagSet(points, 0x30));
    EXPECT_EQ(face.IsPointFlagSet(points, 0x20), _FlagNone);
    EXPECT_FALSE(face.IsOnePointFlagSet(points, 0x20));
    EXPECT_EQ(empty.IsPointFlagSet(points, 0), _FlagNone);

    // A point list that shrank behind the bound is refused, not overrun.
    points.SetSize(3);
    EXPECT_FALSE(face.GetCenter(points, center));
    EXPECT_DOUBLE_EQ(center[0], 5.0);
    EXPECT_FALSE(face.SetPointFlag(points, 0x40, true));
    EXPECT_EQ(points.GetNumberOfPoints(0x40u, true), 0);
    EXPECT_FALSE(face.IsOnePointFlagSet(points, 0x10));
    EXPECT_EQ(face.IsPointFlagSet(points, 0x10), _FlagNone);
    EXPECT_FALSE(faces.SetPointBound(points));
    EXPECT_EQ(faces.GetPointBound(), 5u);
}

// ---------------------------------------------------------------- point bound

TEST(FaceList, IndicesOutsideThePointBoundAreRefusedWhereverTheyEnter)
{
    C3DFaceList list;
    ASSERT_TRUE(list.SetPointBound(10));
    Fill(list, {{0, 1, 2}, {2, 3, 9, 4}});
    list.SetFaceMaterial(0, 5);
    const auto before = Bytes(list);
    const unsigned stamp = list.GetChangedStamp();
    auto unchanged = [&](const char* what)
    {
        EXPECT_EQ(Bytes(list), before) << what;
        EXPECT_EQ(list.GetChangedStamp(), stamp) << what;
    };

    const int high[] = {1, 2, 10}, negative[] = {1, -1, 2}, ok[] = {5, 6, 7};
    EXPECT_EQ(list.AddFace(high, 3), kZanNone);
    EXPECT_EQ(list.AddFace(negative, 3), kZanNone);
    EXPECT_EQ(list.AddFace(ok, 0), kZanNone);
    EXPECT_EQ(list.AddFace(nullptr, 3), kZanNone);
    EXPECT_EQ(list.AddFace(ok, 3, 7), kZanNone); // a tighter bound for this call
    std::vector<int> huge(65536, 1);
    EXPECT_EQ(list.AddFace(huge.data(), 65536), kZanNone);
    const int batch[] = {0, 1, 2, 3, 4, 5, 6, 7, 10};
    EXPECT_FALSE(list.AddFaces(batch, 3, 3));
    const unsigned counts[] = {4, 5};
    EXPECT_FALSE(list.AddFaces(batch, counts, 2));
    const unsigned zeroCount[] = {0, 3};
    EXPECT_FALSE(list.AddFaces(batch, zeroCount, 2));
    unchanged("adding");

    CFace face;
    list.GetFace(1, face);
    EXPECT_FALSE(face.SetTriangle(0, 1, 11));
    EXPECT_FALSE(face.SetQuadrangle(0, 1, 2, -3));
    EXPECT_EQ(face.AddIndex(10), -1);
    EXPECT_EQ(face.ReplaceIndex(9, 10), 0);
    EXPECT_EQ(face.ReplaceIndex(9, -2), 0);
    EXPECT_FALSE(list.SetFaceIndexes(0, high, 3));
    unsigned remap[] = {0, 12, 2};
    EXPECT_FALSE(list.UpdateIndex(remap, 3, false));
    unsigned toNegative[] = {0, 0x80000000u};
    EXPECT_FALSE(list.UpdateIndex(toNegative, 2, false));
    unchanged("editing");

    // Faces from a list without a bound.
    CUVWFaceList wide;
    Fill(wide, {{3, 4, 50}, {1, 2, 3}});
    EXPECT_FALSE(list.ExpandSize(wide));
    EXPECT_FALSE(list.SetSize(wide));
    EXPECT_FALSE(list.SetSizeAndFlags(wide, 0));
    EXPECT_FALSE(list.CopyFace(0, 0, wide));
    CSingleFace held;
    ASSERT_TRUE(wide.CopyTo(0, held));
    EXPECT_FALSE(list.CopyFrom(1, held));
    unchanged("copying");
    EXPECT_TRUE(list.CopyFace(0, 1, wide));
    EXPECT_EQ(CornersOf(list, 0), (Corners{1, 2, 3}));

    // The bound cannot be lowered below what the faces use; 65 535 corners are fine.
    EXPECT_FALSE(list.SetPointBound(9));
    EXPECT_EQ(list.GetPointBound(), 10u);
    EXPECT_EQ(list.FindIndexOutside(9), 1u);
    EXPECT_EQ(list.FindIndexOutside(10), kZanNone);
    std::vector<int> many(65535, 9);
    EXPECT_NE(list.AddFace(many.data(), 65535), kZanNone);

    // A bound of 0: no face may have corners.
    C3DFaceList empty;
    ASSERT_TRUE(empty.SetPointBound(0));
    EXPECT_FALSE(empty.SetSize(4));
    EXPECT_FALSE(empty.SetSize(4, static_cast<const unsigned*>(nullptr)));
    const unsigned none[] = {0, 0};
    EXPECT_TRUE(empty.SetSize(2, none));
    CFace e;
    empty.GetFace(0, e);
    EXPECT_EQ(e.SetSize(1), nullptr);
    EXPECT_EQ(empty.GetFaceSize(0), 0);
    zantest::ExpectFaceChunksParallel(empty);
    zantest::ExpectFaceChunksParallel(list);
}

// ---------------------------------------------------------------- sizing

TEST(FaceList, SizingKeepsChunksParallelAndMovesTheStampOnlyWhenTheCountChanges)
{
    C3DFaceList list;
    ASSERT_TRUE(list.SetSize(10, 3));
    zantest::ExpectFaceChunksParallel(list);
    EXPECT_TRUE(list.IsFlagSet(_FaceListChanged));
    EXPECT_EQ(list.GetFaceSize(9), 3);
    EXPECT_EQ(CornersOf(list, 9), (Corners{0, 0, 0}));
    list.SaveFacesIndex();
    list.SetBackFaceMaterial(4, 44);
    for (unsigned i = 0; i < 10; ++i)
        list.SetFaceMaterial(i, 100 + i);

    unsigned stamp = list.GetChangedStamp();
    ASSERT_TRUE(list.SetSize(10, 5));
    EXPECT_EQ(list.GetChangedStamp(), stamp);
    EXPECT_EQ(list.GetFaceSize(9), 3); // existing faces keep their corners
    ASSERT_TRUE(list.SetSize(5));
    EXPECT_EQ(list.GetChangedStamp(), stamp + 1);
    zantest::ExpectFaceChunksParallel(list);
    EXPECT_EQ(list.GetOriginalIndex(4), 4u);
    EXPECT_EQ(list.GetBackFaceMaterial(4), 44u);
    EXPECT_EQ(list.GetFaceMaterial(4), 104u);
    EXPECT_EQ(list.GetOriginalIndex(5), kZanNone);

    // New faces get constructed chunk values; fewer than 3 corners make them invalid.
    ASSERT_TRUE(list.SetSize(8, 2, _SizeExact));
    zantest::ExpectFaceChunksParallel(list);
    EXPECT_EQ(list.GetStorage().GetDeadBytes(), 0u);
    EXPECT_EQ(list.GetStorage().GetBufferSize(), list.GetStorage().GetUsedBytes());
    EXPECT_EQ(list.GetOriginalIndex(6), kZanNone);
    EXPECT_EQ(list.GetBackFaceMaterial(6), kZanNone);
    EXPECT_TRUE(list.IsFaceFlagSet(6, _FaceInvalid));
    EXPECT_FALSE(list.IsFaceFlagSet(4, _FaceInvalid));
    EXPECT_FALSE(list.SetSize(-1));
    EXPECT_FALSE(list.SetSize(3, 65536));
    EXPECT_EQ(list.GetSize(), 8);

    // Given corner counts, after emptying the list.
    const unsigned counts[] = {3, 1, 4, 0};
    ASSERT_TRUE(list.SetSize(4, counts));
    zantest::ExpectFaceChunksParallel(list);
    for (unsigned i = 0; i < 4; ++i)
    {
        EXPECT_EQ(unsigned(list.GetFaceSize(i)), counts[i]);
        EXPECT_EQ(list.IsFaceFlagSet(i, _FaceInvalid), counts[i] < 3) << i;
        EXPECT_EQ(list.GetOriginalIndex(i), kZanNone);
    }

    // Every face to one corner count.
    Fill(list, {{1, 2, 3, 4, 5}});
    ASSERT_TRUE(list.SetFacesSize(2));
    EXPECT_EQ(list.GetNumberOfFaces(_FaceInvalid, true), 5u);
    EXPECT_EQ(CornersOf(list, 4), (Corners{1, 2}));
    ASSERT_TRUE(list.SetFacesSize(3));
    EXPECT_EQ(list.GetNumberOfFaces(_FaceInvalid, true), 0u);
    EXPECT_EQ(CornersOf(list, 4), (Corners{1, 2, 0}));
    zantest::ExpectFaceChunksParallel(list);

    // Flags into the added faces only.
    list.SetFaceFlags(0, 0x100, true);
    ASSERT_TRUE(list.SetSizeAndFlags(7, 0x200));
    EXPECT_EQ(list.GetFaceSize(6), 4);
    EXPECT_EQ(list.GetFaceFlags(0), 0x100u);
    EXPECT_EQ(list.GetFaceFlags(5), 0x200u);
    EXPECT_EQ(list.GetNumberOfFaces(0x200u, true), 2u);

    // Appending another list's faces, and this list's own.
    CUVWFaceList other;
    Fill(other, {{7, 8, 9}, {1, 2}});
    ASSERT_TRUE(list.ExpandSizeAndFlags(other, 0x400));
    EXPECT_EQ(list.GetSize(), 9);
    EXPECT_EQ(CornersOf(list, 8), (Corners{1, 2}));
    EXPECT_EQ(list.GetFaceFlags(8), 0x400u | _FaceInvalid);
    EXPECT_EQ(list.GetFaceFlags(7), 0x400u);
    FaceSet before = AllCorners(list);
    ASSERT_TRUE(list.ExpandSize(list));
    EXPECT_EQ(list.GetSize(), 18);
    FaceSet doubled = before;
    doubled.insert(doubled.end(), before.begin(), before.end());
    EXPECT_EQ(AllCorners(list), doubled);
    zantest::ExpectFaceChunksParallel(list);

    // A model's faces, indices only.
    ASSERT_TRUE(list.SetSizeAndFlags(other, 0x800));
    EXPECT_EQ(AllCorners(list), AllCorners(other));
    EXPECT_EQ(list.GetFaceFlags(0), 0x800u);
    EXPECT_EQ(list.GetFaceFlags(1), 0x800u | _FaceInvalid);
    EXPECT_EQ(list.GetFaceMaterial(0), 0u);

    // Emptying keeps the chunks; pre-allocation then bulk building.
    list.SetFlag(_FaceListPersistent, true);
    stamp = list.GetChangedStamp();
    list.RemoveAll();
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(list.GetFlags(), unsigned(_FaceListChanged));
    EXPECT_EQ(list.GetChangedStamp(), stamp + 1);
    EXPECT_TRUE(list.HasBackFaceMaterials());
    ASSERT_TRUE(list.PreAllocate(100, 3, true));
    std::vector<int> tris(300);
    std::iota(tris.begin(), tris.end(), 0);
    ASSERT_TRUE(list.AddFaces(tris.data(), 100, 3));
    zantest::ExpectFaceChunksParallel(list);
    EXPECT_EQ(CornersOf(list, 99), (Corners{297, 298, 299}));
    list.FreeExtra();
    EXPECT_EQ(list.GetStorage().GetBufferSize(), list.GetStorage().GetUsedBytes());
    EXPECT_EQ(CornersOf(list, 50), (Corners{150, 151, 152}));
}

// ---------------------------------------------------------------- flags

TEST(FaceList, FlagRangesCountsInheritanceAndTriangularity)
{
    C3DFaceList list;
    Fill(list, {{0, 1, 2}, {0, 1, 2, 3}, {4, 5, 6}, {4, 5, 6, 7}, {1, 2}});
    EXPECT_EQ(list.GetFaceFlags(4), unsigned(_FaceInvalid));
    list.SetFacesFlags(1, 3, 0x100, true);
    list.SetFacesFlags(3, 100, 0x200, true);
    list.SetFacesFlags(3, 3, 0x400, true);
    list.SetFacesFlags(7, 9, 0x400, true);
    EXPECT_EQ(list.GetFaceFlags(0), 0u);
    EXPECT_EQ(list.GetFaceFlags(1), 0x100u);
    EXPECT_EQ(list.GetFaceFlags(2), 0x100u);
    EXPECT_EQ(list.GetFaceFlags(3), 0x200u);
    EXPECT_EQ(list.GetFaceFlags(4), 0x201u);
    EXPECT_EQ(list.GetFaceFlags(5), 0u);

    // Any bit against every bit.
    EXPECT_EQ(list.GetNumberOfFaces(0x201u, true), 2u);
    EXPECT_EQ(list.GetNumberOfFaces(0x201u, false), 3u);
    EXPECT_EQ(list.GetNumberOfFaces(_FACE_PROPERTIES(0x201), true), 1u);
    EXPECT_EQ(list.GetNumberOfFaces(_FACE_PROPERTIES(0x201), false), 4u);
    EXPECT_TRUE(list.IsFaceOneFlagSet(4, 0x1001));
    EXPECT_FALSE(list.IsFaceFlagsSet(4, 0x1001));
    EXPECT_FALSE(list.IsFaceOneFlagSet(9, 0xFFFFFFFF));

    // Triangular among the faces that pass the test; invalid faces never count.
    EXPECT_FALSE(list.IsTriangular(_FACE_PROPERTIES(0), true));
    EXPECT_FALSE(list.IsTriangular(_FACE_PROPERTIES(0x100), true)); // face 1
    EXPECT_FALSE(list.IsTriangular(_FACE_PROPERTIES(0x200), true)); // face 3
    list.SetFaceFlags(3, _FaceInvalid, true);
    EXPECT_TRUE(list.IsTriangular(_FACE_PROPERTIES(0x200), true));
    EXPECT_TRUE(list.IsTriangular(_FACE_PROPERTIES(0x100), false)); // faces 0, 3 (invalid), 4
    list.SetFaceFlags(1, 0x100, false);                             // face 1 now counts
    EXPECT_FALSE(list.IsTriangular(_FACE_PROPERTIES(0x100), false));
    list.SetFaceFlags(1, _FaceExcluded, true);
    EXPECT_FALSE(list.IsTriangular(_FACE_PROPERTIES(0x100), false)); // excluded still counts
    EXPECT_TRUE(C3DFaceList().IsTriangular(_FACE_PROPERTIES(0), true));

    // Inheritance from a parallel list.
    CUVWFaceList source;
    Fill(source, {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}});
    source.SetFaceFlags(0, 0x8000, true);
    source.SetFaceFlags(2, 0x8000, true);
    list.SetFacesFlags(0x40, true);
    C3DFaceList kept(list), cleared(list);
    ASSERT_TRUE(kept.InheritFlags(source, _FACE_PROPERTIES(0x8000), _FACE_PROPERTIES(0x20), true));
    ASSERT_TRUE(
        cleared.InheritFlags(source, _FACE_PROPERTIES(0x8000), _FACE_PROPERTIES(0x40), false));
    EXPECT_EQ(kept.GetNumberOfFaces(0x20u, true), 2u);
    EXPECT_EQ(kept.GetNumberOfFaces(0x40u, true), 5u);
    EXPECT_EQ(cleared.GetNumberOfFaces(0x40u, true), 2u);
    EXPECT_TRUE(cleared.IsFaceFlagSet(2, _FACE_PROPERTIES(0x40)));
    source.SetSize(4);
    EXPECT_FALSE(kept.InheritFlags(source, _FACE_PROPERTIES(1), _FACE_PROPERTIES(1), true));

    // Flipping leaves invalid and excluded faces alone.
    list.FlipNormals();
    EXPECT_EQ(CornersOf(list, 0), (Corners{2, 1, 0}));
    EXPECT_EQ(CornersOf(list, 1), (Corners{0, 1, 2, 3}));
    EXPECT_EQ(CornersOf(list, 2), (Corners{6, 5, 4}));
    EXPECT_EQ(CornersOf(list, 3), (Corners{4, 5, 6, 7}));
    EXPECT_EQ(CornersOf(list, 4), (Corners{1, 2}));

    // List flags: setting the changed flag moves the stamp; UpdateList clears it once.
    COwnedFaceList owned;
    unsigned stamp = owned.GetChangedStamp();
    owned.SetFlag(_FaceListChanged, true);
    EXPECT_EQ(owned.GetChangedStamp(), stamp + 1);
    EXPECT_TRUE(owned.UpdateList(nullptr));
    EXPECT_FALSE(owned.UpdateList(nullptr));
    owned.SetFlag(_FaceListPersistent, true);
    EXPECT_EQ(owned.GetChangedStamp(), stamp + 1);
    EXPECT_TRUE(owned.IsFlagSet(_FaceListPersistent));
}

// ---------------------------------------------------------------- reorder and clean

TEST(FaceList, ReorderMovesEachFaceWithItsChunkValues)
{
    auto make = [](C3DFaceList& list)
    {
        Fill(list, {{0, 1, 2}, {3, 4, 5, 6}, {7, 8}});
        list.SaveFacesIndex();
        for (unsigned i = 0; i < 3; ++i)
        {
            list.SetFaceMaterial(i, 10 + i);
            list.SetBackFaceMaterial(i, 20 + i);
        }
    };
    C3DFaceList list;
    make(list);
    const unsigned order[] = {2, 0, 1};
    unsigned stamp = list.GetChangedStamp();
    ASSERT_TRUE(list.ReorderFaces(order, 3, false));
    EXPECT_EQ(list.GetChangedStamp(), stamp + 1);
    EXPECT_EQ(AllCorners(list), (FaceSet{{7, 8}, {0, 1, 2}, {3, 4, 5, 6}}));
    EXPECT_EQ(list.GetOriginalIndex(0), 2u);
    EXPECT_TRUE(list.IsFaceFlagSet(0, _FaceInvalid));
    EXPECT_EQ(list.GetBackFaceMaterial(0), 22u);
    EXPECT_EQ(list.GetFaceMaterial(1), 10u);
    zantest::ExpectFaceChunksParallel(list);

    C3DFaceList inverse;
    make(inverse);
    ASSERT_TRUE(inverse.ReorderFaces(order, 3, true));
    EXPECT_EQ(AllCorners(inverse), (FaceSet{{3, 4, 5, 6}, {7, 8}, {0, 1, 2}}));
    EXPECT_EQ(inverse.GetOriginalIndex(2), 0u);
    EXPECT_EQ(inverse.GetBackFaceMaterial(1), 22u);

    const auto before = Bytes(list);
    const unsigned repeat[] = {0, 0, 1}, outside[] = {0, 1, 3};
    EXPECT_FALSE(list.ReorderFaces(order, 2, false));
    EXPECT_FALSE(list.ReorderFaces(order, 0, false));
    EXPECT_FALSE(list.ReorderFaces(repeat, 3, false));
    EXPECT_FALSE(list.ReorderFaces(repeat, 3, true));
    EXPECT_FALSE(list.ReorderFaces(outside, 3, true));
    EXPECT_FALSE(list.ReorderFaces(nullptr, 3, true));
    EXPECT_EQ(Bytes(list), before);

    // A larger permutation against the same permutation applied to plain vectors.
    C3DFaceList big;
    FaceSet faces;
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i)
        faces.push_back(Corners(3 + random() % 5, i));
    Fill(big, faces);
    big.SaveFacesIndex();
    std::vector<unsigned> perm(200);
    std::iota(perm.begin(), perm.end(), 0u);
    std::shuffle(perm.begin(), perm.end(), random);
    ASSERT_TRUE(big.ReorderFaces(perm.data(), 200, true));
    for (unsigned i = 0; i < 200; ++i)
    {
        EXPECT_EQ(CornersOf(big, perm[i]), faces[i]);
        EXPECT_EQ(big.GetOriginalIndex(perm[i]), i);
    }
}

TEST(FaceList, CleanPacksValidFacesInOrderAndReportsTheRemap)
{
    C3DFaceList list;
    Fill(list, {{0, 1, 2}, {1, 2, 3}, {2, 3, 4}, {3, 4, 5}, {4, 5, 6}});
    list.SaveFacesIndex();
    for (unsigned i = 0; i < 5; ++i)
        list.SetFaceMaterial(i, 50 + i);

    CXArray<unsigned int, unsigned int> remap;
    remap.Add(99);
    unsigned stamp = list.GetChangedStamp();
    EXPECT_FALSE(list.Clean(true, &remap));
    EXPECT_EQ(list.GetChangedStamp(), stamp);
    EXPECT_EQ(remap.GetSize(), 0);

    list.SetFaceFlags(1, _FaceInvalid, true);
    list.SetFaceFlags(3, _FaceInvalid | _FaceExcluded, true);
    list.SetFaceFlags(2, _FaceExcluded, true); // excluded alone stays
    ASSERT_TRUE(list.Clean(false, &remap));
    EXPECT_EQ(list.GetChangedStamp(), stamp + 1);
    EXPECT_EQ(remap.GetVector(), (std::vector<unsigned>{0, kZanNone, 1, kZanNone, 2}));
    EXPECT_EQ(AllCorners(list), (FaceSet{{0, 1, 2}, {2, 3, 4}, {4, 5, 6}}));
    EXPECT_EQ(list.GetOriginalIndex(1), 2u);
    EXPECT_EQ(list.GetOriginalIndex(2), 4u);
    EXPECT_EQ(list.GetFaceMaterial(2), 54u);
    EXPECT_TRUE(list.IsFaceFlagSet(1, _FaceExcluded));
    zantest::ExpectFaceChunksParallel(list);

    // Every face invalid: the list empties.
    list.SetFacesFlags(_FaceInvalid, true);
    ASSERT_TRUE(list.Clean(false, &remap));
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(remap.GetVector(), (std::vector<unsigned>(3, kZanNone)));
    zantest::ExpectFaceChunksParallel(list);
}

TEST(FaceList, RepeatedCornersAreRemovedFromTheFacesAndTheirChannelFaces)
{
    C3DFaceList geometry;
    Fill(geometry, {{1, 1, 2}, {1, 2, 2, 3}, {5, 6, 5, 6}, {7, 8, 9}, {4, 4, 5}});
    geometry.SetFaceFlags(4, _FaceExcluded, true);
    CUVWFaceList uvw;
    Fill(uvw, {{10, 11, 12}, {20, 21, 22, 23}, {30, 31, 32, 33}, {40, 41, 42}, {50, 51, 52}});
    CVCFaceList colours; // shorter than the geometry: faces it lacks are left alone
    Fill(colours, {{0, 1, 2}, {0, 1, 2, 3}});
    CFaceList* channels[] = {&uvw, nullptr, &colours};

    ASSERT_TRUE(geometry.CleanPointsIndex(channels, 3));
    EXPECT_TRUE(geometry.IsFaceFlagSet(0, _FaceInvalid));
    EXPECT_EQ(uvw.GetFaceFlags(0), unsigned(_FaceInvalid | _FaceExcluded));
    EXPECT_EQ(CornersOf(geometry, 1), (Corners{1, 2, 3}));
    EXPECT_EQ(CornersOf(uvw, 1), (Corners{20, 22, 23}));
    EXPECT_EQ(CornersOf(colours, 1), (Corners{0, 2, 3}));
    EXPECT_FALSE(geometry.IsFaceFlagSet(1, _FaceInvalid));
    // (5, 6, 5, 6) loses position 0 twice and ends with 2 corners.
    EXPECT_EQ(CornersOf(geometry, 2), (Corners{5, 6}));
    EXPECT_EQ(CornersOf(uvw, 2), (Corners{32, 33}));
    EXPECT_TRUE(geometry.IsFaceFlagSet(2, _FaceInvalid));
    EXPECT_EQ(uvw.GetFaceFlags(2), unsigned(_FaceInvalid | _FaceExcluded));
    EXPECT_EQ(geometry.GetFaceFlags(3), 0u);
    EXPECT_EQ(CornersOf(geometry, 4), (Corners{4, 4, 5})); // excluded: untouched
    EXPECT_EQ(uvw.GetFaceFlags(4), 0u);
    zantest::ExpectFaceListsParallel(geometry, uvw);
    EXPECT_FALSE(geometry.CleanPointsIndex(channels, 3));

    // Cleaning with the corner pass first removes what it made invalid.
    C3DFaceList again;
    Fill(again, {{1, 2, 2, 1}, {3, 4, 5}});
    CXArray<unsigned int, unsigned int> remap;
    ASSERT_TRUE(again.Clean(true, &remap));
    EXPECT_EQ(AllCorners(again), (FaceSet{{3, 4, 5}}));
    EXPECT_EQ(remap.GetVector(), (std::vector<unsigned>{kZanNone, 0}));

    // The parallel check notices lists that drift apart.
    CUVWFaceList drifted;
    Fill(drifted, {{1, 2, 3}, {1, 2, 3, 4}});
    EXPECT_FALSE(zantest::FaceListsParallel(colours, drifted));
    colours.SetSize(3);
    EXPECT_FALSE(zantest::FaceListsParallel(colours, drifted));
}

// ---------------------------------------------------------------- copies

TEST(FaceList, CopiesTakeFacesChunksFlagsAndTheBound)
{
    C3DFaceList source;
    source.SetPointBound(20);
    Fill(source, {{0, 1, 2}, {3, 4, 5, 6}, {7, 8}});
    source.SetFaceMaterial(1, 9);
    source.SetBackFaceMaterial(2, 12);
    source.SetFaceFlags(0, 0x100, true);
    source.SetFlag(_FaceListPersistent, true);
    CFace grow;
    source.GetFace(0, grow);
    grow.AddIndex(15); // dead bytes in the source

    C3DFaceList copy(source);
    EXPECT_EQ(Bytes(copy), Bytes(source));
    EXPECT_EQ(copy.GetChangedStamp(), source.GetChangedStamp());
    EXPECT_EQ(copy.GetPointBound(), 20u);
    copy.SetFaceMaterial(1, 10);
    EXPECT_EQ(source.GetFaceMaterial(1), 9u); // chunks are not shared

    C3DFaceList assigned;
    Fill(assigned, {{1, 2, 3}});
    unsigned stamp = assigned.GetChangedStamp();
    assigned = source;
    EXPECT_EQ(assigned.GetChangedStamp(), stamp + 1);
    EXPECT_EQ(AllCorners(assigned), AllCorners(source));
    EXPECT_EQ(assigned.GetBackFaceMaterial(2), 12u);
    EXPECT_EQ(assigned.GetFlags(), unsigned(_FaceListPersistent | _FaceListChanged));
    zantest::ExpectFaceChunksParallel(assigned);

    // Between list types: a channel list takes the wider property of a mesh list with its
    // values; a mesh list widens a channel list's property and keeps the flags word.
    CUVWFaceList uvw;
    uvw = source;
    EXPECT_EQ(uvw.GetSizeOfData(CFaceList::kPropertyChunk), 8u);
    EXPECT_EQ(uvw.GetFaceFlags(0), 0x100u);
    EXPECT_EQ(uvw.GetFaceFlags(2), unsigned(_FaceInvalid));
    CUVWFaceList narrow;
    Fill(narrow, {{0, 1, 2}, {3, 4}});
    narrow.SetFaceFlags(0, 0x100, true);
    C3DFaceList back;
    back = narrow;
    EXPECT_EQ(back.GetSizeOfData(CFaceList::kPropertyChunk), 8u);
    EXPECT_EQ(back.GetFaceFlags(0), 0x100u);
    EXPECT_EQ(back.GetFaceFlags(1), unsigned(_FaceInvalid));
    EXPECT_EQ(back.GetFaceMaterial(0), 0u);
    zantest::ExpectFaceChunksParallel(back);

    // Inherit: the structure of the source, this list's faces and flags.
    C3DFaceList structure;
    Fill(structure, {{1, 2, 3}, {4, 5}});
    structure.SetFaceMaterial(0, 3);
    structure.Inherit(source);
    EXPECT_TRUE(structure.HasBackFaceMaterials());
    EXPECT_EQ(structure.GetBackFaceMaterial(1), kZanNone);
    EXPECT_TRUE(structure.IsFaceFlagSet(1, _FaceInvalid));
    EXPECT_EQ(structure.GetFaceMaterial(0), 3u);
    zantest::ExpectFaceChunksParallel(structure);

    // A new list from a model: structure, no faces.
    std::unique_ptr<C3DFaceList, void (*)(C3DFaceList*)> modelled(
        C3DFaceList::Create(&source), [](C3DFaceList* l) { l->Delete(); });
    EXPECT_EQ(modelled->GetSize(), 0);
    EXPECT_TRUE(modelled->HasBackFaceMaterials());
    CWeightFaceList fromGeometry(&source);
    EXPECT_EQ(fromGeometry.GetSize(), 0);
    EXPECT_EQ(fromGeometry.GetDataChunks().GetMainChunkID(), CFaceList::kPropertyChunk);
    EXPECT_TRUE(fromGeometry.GetDataChunks().HasDataChunk(CFaceList::kBackFaceChunk));
}

TEST(FaceList, SingleFacesAndFaceCopiesMoveCornersAndChunkValues)
{
    C3DFaceList list;
    Fill(list, {{0, 1, 2}, {3, 4, 5, 6, 7}, {8, 9, 10}});
    list.SaveFacesIndex();
    list.SetFaceMaterial(1, 11);
    list.SetBackFaceMaterial(1, 21);
    list.SetFaceFlags(1, 0x100, true);

    // Swap faces 0 and 1 through a held face.
    CSingleFace held(list);
    ASSERT_TRUE(list.CopyTo(0, held));
    EXPECT_EQ(held.GetSize(), 3);
    ASSERT_TRUE(list.CopyFace(0, 1));
    ASSERT_TRUE(list.CopyFrom(1, held));
    EXPECT_EQ(AllCorners(list), (FaceSet{{3, 4, 5, 6, 7}, {0, 1, 2}, {8, 9, 10}}));
    EXPECT_EQ(list.GetOriginalIndex(0), 1u);
    EXPECT_EQ(list.GetOriginalIndex(1), 0u);
    EXPECT_EQ(list.GetFaceMaterial(0), 11u);
    EXPECT_EQ(list.GetBackFaceMaterial(0), 21u);
    EXPECT_EQ(list.GetFaceFlags(0), 0x100u);
    EXPECT_EQ(list.GetFaceFlags(1), 0u);
    EXPECT_FALSE(list.CopyTo(3, held));
    EXPECT_FALSE(list.CopyFrom(-1, held));

    // Data only, from a handle, from another list, and refusals.
    ASSERT_TRUE(list.CopyFace(2, 0, true));
    EXPECT_EQ(CornersOf(list, 2), (Corners{8, 9, 10}));
    EXPECT_EQ(list.GetFaceMaterial(2), 11u);
    CUVWFaceList other;
    Fill(other, {{30, 31}});
    CFace handle;
    other.GetFace(0, handle);
    ASSERT_TRUE(list.CopyFace(2, handle));
    EXPECT_EQ(CornersOf(list, 2), (Corners{30, 31}));
    EXPECT_TRUE(list.IsFaceFlagSet(2, _FaceInvalid));
    other.SetFaceIndexes(0, nullptr, 0);
    EXPECT_FALSE(list.CopyFace(2, 0, other));
    EXPECT_FALSE(list.CopyFace(3, 0));
    EXPECT_FALSE(list.CopyFace(0, 3));
    CFace viaHandle;
    list.GetFace(1, viaHandle);
    ASSERT_TRUE(viaHandle.Copy(0u));
    EXPECT_EQ(CornersOf(list, 1), (Corners{3, 4, 5, 6, 7}));
    other.SetFaceIndexes(0, Corners{1, 2, 3}.data(), 3);
    other.SetFaceFlags(0, 0x4000, true);
    ASSERT_TRUE(viaHandle.Inherit(handle));
    EXPECT_EQ(CornersOf(list, 1), (Corners{3, 4, 5, 6, 7}));
    EXPECT_EQ(list.GetFaceFlags(1), 0x4000u);
    zantest::ExpectFaceChunksParallel(list);

    // Chunks appended from another list: missing ones only, padded to this list.
    CUVWFaceList target;
    Fill(target, {{1, 2, 3}});
    target.AppendDataChunks(&list, false);
    EXPECT_EQ(target.GetOriginalIndex(0), 1u);
    EXPECT_EQ(target.GetSizeOfData(CFaceList::kPropertyChunk), 4u);
    target.AppendDataChunks(nullptr, true);
    zantest::ExpectFaceChunksParallel(target);
}

// ---------------------------------------------------------------- materials and chunks

TEST(C3DFaceList, FrontAndBackMaterials)
{
    C3DFaceList list;
    Fill(list, {{0, 1, 2}, {1, 2, 3}, {2, 3, 4}, {1, 2}});
    for (unsigned i = 0; i < 4; ++i)
        EXPECT_TRUE(list.SetFaceMaterial(i, 5));
    EXPECT_FALSE(list.SetFaceMaterial(4, 5));
    list.SetFaceFlags(1, _FaceExcluded, true);
    EXPECT_EQ(list.GetFaceMaterial(0), 5u);
    EXPECT_EQ(list.GetFaceMaterial(1), kZanNone);
    EXPECT_EQ(list.GetFaceMaterial(3), kZanNone); // invalid: two corners
    EXPECT_EQ(list.GetFaceMaterial(4), kZanNone);
    C3DFace face;
    list.GetFace(1, face);
    EXPECT_EQ(face.GetMaterialID(), 5u); // the handle reads the stored value
    EXPECT_TRUE(face.SetMaterialID(6));

    EXPECT_FALSE(list.HasBackFaceMaterials());
    EXPECT_EQ(list.GetBackFaceMaterial(0), kZanNone);
    EXPECT_TRUE(list.SetBackFaceMaterial(2, 5));
    EXPECT_FALSE(list.SetBackFaceMaterial(4, 5));
    EXPECT_TRUE(list.HasBackFaceMaterials());
    EXPECT_EQ(list.GetBackFaceMaterial(0), kZanNone);
    EXPECT_EQ(list.GetDataChunks().GetChunkFlags(CFaceList::kBackFaceChunk), 0x01u);
    EXPECT_EQ(list.ReplaceMaterial(5, 8), 4u); // faces 0, 2, 3 and the back of face 2
    EXPECT_EQ(list.GetFaceMaterial(2), 8u);
    EXPECT_EQ(list.GetBackFaceMaterial(2), 8u);
    EXPECT_EQ(face.GetMaterialID(), 6u);
    list.RemoveBackFaceMaterials();
    EXPECT_EQ(list.GetBackFaceMaterial(2), kZanNone);

    // The property chunk stays, with room for the material.
    EXPECT_FALSE(list.RemoveDataChunk(CFaceList::kPropertyChunk));
    EXPECT_EQ(list.AddDataChunk(CFaceList::kPropertyChunk, new CFacePropertyMethods), 0u);
    EXPECT_EQ(list.GetFaceMaterial(0), 8u);
    EXPECT_EQ(list.AddDataChunk(CFaceList::kPropertyChunk, new CBackFaceMaterialMethods), 0u);
    list.SetFaceFlags(0, 0x100, true);
    EXPECT_NE(list.AddDataChunk(CFaceList::kPropertyChunk, new C3DFacePropertyMethods), 0u);
    EXPECT_EQ(list.GetFaceFlags(0), 0x100u);
    EXPECT_EQ(list.GetFaceMaterial(0), 0u);
    EXPECT_EQ(list.GetDataChunks().GetChunkFlags(CFaceList::kPropertyChunk), 0x03u);
    EXPECT_EQ(list.AddDataChunk(ZanTag("MXDT"), nullptr), 0u);
    EXPECT_EQ(list.AddDataChunk(ZanTag("MXDT"), new CMaxFaceMethods), 2u);
    zantest::ExpectFaceChunksParallel(list);

    // A channel list takes the wider property too, and keeps its flags.
    CNormalFaceList normals;
    Fill(normals, {{0, 1}});
    EXPECT_NE(normals.AddDataChunk(CFaceList::kPropertyChunk, new C3DFacePropertyMethods), 0u);
    EXPECT_EQ(normals.GetFaceFlags(0), unsigned(_FaceInvalid));
}

TEST(FaceList, ChecksumFollowsItsDefinitionAndIgnoresSkippedFaces)
{
    C3DFaceList list;
    Fill(list, {{0, 1, 2}, {3, 4, 5, 6}, {7, 8, 9}});
    list.SaveFacesIndex();
    list.SetFaceMaterial(1, 4);
    for (unsigned mask : {0x04u, 0x08u, 0x0Cu, 0xFFu})
        EXPECT_EQ(list.GetChecksum(mask), ReferenceChecksum(list, mask)) << mask;
    EXPECT_EQ(list.GetChecksum(0x03), 0u);
    EXPECT_EQ(list.GetChecksum(0x0C), list.GetChecksum(0x04) + list.GetChecksum(0x08));

    uint32_t indices = list.GetChecksum(0x04);
    list.SetFaceFlags(2, _FaceExcluded, true);
    uint32_t skipped = list.GetChecksum(0x04);
    EXPECT_NE(skipped, indices);
    CFace face;
    list.GetFace(2, face);
    face.SetTriangle(9, 9, 9);
    EXPECT_EQ(list.GetChecksum(0x04), skipped);
    list.GetFace(0, face);
    face.Flip();
    EXPECT_NE(list.GetChecksum(0x04), skipped);

    uint32_t chunks = list.GetChecksum(0x08);
    list.SetFaceMaterial(0, 1);
    EXPECT_NE(list.GetChecksum(0x08), chunks);
    EXPECT_EQ(list.GetChecksum(0x0C), ReferenceChecksum(list, 0x0C));
}

// ---------------------------------------------------------------- runtime classes

TEST(FaceListRuntime, TypedListsAreCreatedByNameWithTheirFaceClasses)
{
    struct Expected
    {
        const char* name;
        unsigned propertySize;
        bool (*isFaceClass)(const CFace*);
    };
    const Expected table[] = {
        {"C3DFaceList", 8,
         [](const CFace* f) { return dynamic_cast<const C3DFace*>(f) != nullptr; }},
        {"CUVWFaceList", 4,
         [](const CFace* f) { return dynamic_cast<const CUVWFace*>(f) != nullptr; }},
        {"CVCFaceList", 4,
         [](const CFace* f) { return dynamic_cast<const CVCFace*>(f) != nullptr; }},
        {"CWeightFaceList", 4,
         [](const CFace* f) { return dynamic_cast<const CWeightFace*>(f) != nullptr; }},
        {"CNormalFaceList", 4,
         [](const CFace* f) { return dynamic_cast<const CNormalFace*>(f) != nullptr; }},
    };
    for (const Expected& e : table)
    {
        const CXRuntimeClass* cls = CXRuntimeClass::FromName(e.name);
        ASSERT_NE(cls, nullptr) << e.name;
        EXPECT_TRUE(cls->IsDerivedFrom(ZAN_RUNTIME_CLASS(CFaceList)));
        auto* list = dynamic_cast<CFaceList*>(cls->CreateObject());
        ASSERT_NE(list, nullptr) << e.name;
        EXPECT_STREQ(list->GetRuntimeClassDescriptor()->m_ClassName, e.name);
        EXPECT_EQ(list->GetSizeOfData(CFaceList::kPropertyChunk), e.propertySize) << e.name;
        EXPECT_EQ(list->GetDataChunks().GetChunkFlags(CFaceList::kPropertyChunk), 0x03u);
        EXPECT_EQ(list->GetDataChunks().GetMainChunkID(), CFaceList::kPropertyChunk);
        const int tri[] = {0, 1, 2};
        list->AddFace(tri, 3);
        CFace* face = list->CreateFace();
        EXPECT_TRUE(e.isFaceClass(face)) << e.name;
        ASSERT_TRUE(list->GetFace(0, *face));
        EXPECT_EQ(face->GetIndex(2), 2);
        list->ReleaseFace(face);

        // Stored with its class record and read back by name.
        auto bytes = zantest::StoreToBytes([&](CXArchive& ar) { ar.WriteObject(list); });
        CXObject* read = nullptr;
        zantest::LoadFromBytes(bytes, [&](CXArchive& ar)
                               { read = ar.ReadObject(ZAN_RUNTIME_CLASS(CFaceList)); });
        auto* loaded = dynamic_cast<CFaceList*>(read);
        ASSERT_NE(loaded, nullptr);
        EXPECT_STREQ(loaded->GetRuntimeClassDescriptor()->m_ClassName, e.name);
        EXPECT_EQ(AllCorners(*loaded), AllCorners(*list));
        loaded->Delete();
        EXPECT_TRUE(list->Delete());
    }
    EXPECT_EQ(CXRuntimeClass::FromName("CFaceList")->CreateObject(), nullptr); // abstract
}

// ---------------------------------------------------------------- fast path

TEST(FaceListFastPath, BulkBuildingAndRawIterationAgreeWithTheFaceByFaceApi)
{
    std::mt19937 random(11);
    std::vector<int> tris(3 * 1000);
    for (int& v : tris)
        v = int(random() % 500);
    C3DFaceList bulk, oneByOne;
    bulk.SetPointBound(500);
    oneByOne.SetPointBound(500);
    ASSERT_TRUE(bulk.Reserve(1000, 3000));
    ASSERT_TRUE(bulk.AddFaces(tris.data(), 1000, 3));
    for (unsigned f = 0; f < 1000; ++f)
        ASSERT_EQ(oneByOne.AddFace(&tris[3 * f], 3), f);
    EXPECT_EQ(Bytes(bulk), Bytes(oneByOne));

    // Mixed corner counts in one call.
    std::vector<unsigned> counts = {3, 4, 5, 1, 3};
    std::vector<int> mixed(16);
    std::iota(mixed.begin(), mixed.end(), 0);
    ASSERT_TRUE(bulk.AddFaces(mixed.data(), counts.data(), 5));
    EXPECT_EQ(CornersOf(bulk, 1002), (Corners{7, 8, 9, 10, 11}));
    EXPECT_TRUE(bulk.IsFaceFlagSet(1003, _FaceInvalid));
    zantest::ExpectFaceChunksParallel(bulk);

    // Raw iteration sees what the handles see.
    FaceSet raw, handles;
    bulk.ForEachFace(
        [&](unsigned i, const int* indices, unsigned count)
        {
            EXPECT_EQ(i, raw.size());
            raw.emplace_back(indices, indices + count);
        });
    CFace* face = bulk.CreateFace();
    for (unsigned i = 0; bulk.GetFace(i, *face); ++i)
        handles.emplace_back(face->GetIndexes(), face->GetIndexes() + face->GetSize());
    bulk.ReleaseFace(face);
    EXPECT_EQ(raw, handles);
    EXPECT_EQ(raw.size(), 1005u);
}

// ---------------------------------------------------------------- archives

namespace
{
// The lists of the golden archive, built the same way every time.
void StoreGoldenLists(CXArchive& ar)
{
    C3DFaceList mesh;
    Fill(mesh, {{0, 1, 2}, {2, 1, 3, 4}, {4, 5}, {5, 6, 7, 8, 9}});
    const unsigned materials[] = {7, 7, 0, 9};
    for (unsigned i = 0; i < 4; ++i)
        mesh.SetFaceMaterial(i, materials[i]);
    mesh.SetBackFaceMaterial(1, 3);
    mesh.SaveFacesIndex();
    CFace face;
    mesh.GetFace(0, face);
    face.AddIndex(9); // moves face 0: dead bytes
    mesh.SetFaceFlags(3, _FaceBorder, true);
    mesh.SetFaceFlags(2, _FaceExcluded, true);
    mesh.SetFlag(_FaceListPersistent, true);
    ar.WriteObject(&mesh);

    CUVWFaceList uvw;
    Fill(uvw, {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9}, {10, 11, 12, 13, 14}});
    ar.WriteObject(&uvw);
    CVCFaceList colours;
    ar.WriteObject(&colours);
    CWeightFaceList weights;
    Fill(weights, {{3, 2, 1}, {1, 2, 3}});
    ar.WriteObject(&weights);
    CNormalFaceList normals;
    Fill(normals, {{0, 1, 2, 3, 4, 5, 6}});
    CFace shrunk;
    normals.GetFace(0, shrunk);
    shrunk.SetSize(4); // slack capacity is kept
    ar.WriteObject(&normals);
    C3DFaceList bare;
    bare.SetBackFaceMaterial(0, 1); // refused: no face
    bare.AddDataChunk(CFaceList::kBackFaceChunk, new CBackFaceMaterialMethods);
    ar.WriteObject(&bare);
}

std::string GoldenPath()
{
    return std::string(ZAN3D_TEST_DATA_DIR) + "/geometry/facelists.bin";
}

template <class T> std::unique_ptr<T, void (*)(T*)> Owned(CXObject* object)
{
    return {dynamic_cast<T*>(object), [](T* p)
            {
                if (p)
                    p->Delete();
            }};
}
} // namespace

TEST(FaceListArchive, RoundTripsByteForByteAfterEditsThatLeftDeadBytes)
{
    C3DFaceList list;
    list.SetPointBound(100);
    Fill(list, {{0, 1, 2}, {3, 4, 5}, {6, 7, 8, 9}, {10, 11}});
    list.SaveFacesIndex();
    list.SetBackFaceMaterial(2, 6);
    list.SetFaceMaterial(1, 3);
    CFace face;
    list.GetFace(1, face);
    for (int v = 20; v < 30; ++v)
        face.AddIndex(v);
    list.GetFace(2, face);
    face.SetSize(3);
    list.SetFlag(_FaceListPersistent, true);
    ASSERT_GT(list.GetStorage().GetDeadBytes(), 0u);

    C3DFaceList loaded;
    loaded.SetPointBound(100);
    Fill(loaded, {{1, 2, 3}});
    unsigned stamp = loaded.GetChangedStamp();
    auto bytes = zantest::RoundTrip(list, loaded);
    EXPECT_EQ(AllCorners(loaded), AllCorners(list));
    for (unsigned i = 0; i < 4; ++i)
    {
        EXPECT_EQ(loaded.GetFaceFlags(i), list.GetFaceFlags(i));
        EXPECT_EQ(loaded.GetFaceMaterial(i), list.GetFaceMaterial(i));
        EXPECT_EQ(loaded.GetBackFaceMaterial(i), list.GetBackFaceMaterial(i));
        EXPECT_EQ(loaded.GetOriginalIndex(i), i);
        EXPECT_EQ(loaded.GetStorage().GetCapacity(i), list.GetStorage().GetCapacity(i));
    }
    EXPECT_EQ(loaded.GetFlags(), unsigned(_FaceListPersistent)); // the changed flag is not kept
    EXPECT_EQ(loaded.GetChangedStamp(), stamp + 1);
    EXPECT_EQ(loaded.GetPointBound(), 100u);
    EXPECT_EQ(loaded.GetStorage().GetDeadBytes(), 0u);
    EXPECT_EQ(loaded.GetChecksum(0x0C), list.GetChecksum(0x0C));
    zantest::ExpectFaceChunksParallel(loaded);
    EXPECT_EQ(Bytes(loaded), bytes);
    // What was stored is the compacted buffer: compacting first changes nothing.
    list.FreeExtra();
    EXPECT_EQ(list.GetStorage().GetDeadBytes(), 0u);
    EXPECT_EQ(Bytes(list), bytes);

    // An empty list, and lists of each channel type.
    CVCFaceList empty, emptyLoaded;
    auto emptyBytes = zantest::RoundTrip(empty, emptyLoaded);
    EXPECT_EQ(emptyLoaded.GetSize(), 0);
    EXPECT_EQ(Bytes(emptyLoaded), emptyBytes);
    // A C3DFaceList property cannot come from a channel list's narrower one.
    CUVWFaceList uvw;
    Fill(uvw, {{0, 1, 2}});
    C3DFaceList wider;
    EXPECT_THROW(Load(wider, Bytes(uvw)), CXArchiveException);
}

TEST(FaceListArchive, LoadReportsTheHighestIndexThatOwnersCheckTheirPointsAgainst)
{
    C3DFaceList list;
    Fill(list, {{0, 1, 2}, {2, 7, 3}, {4, 5, 6}});
    auto bytes = Bytes(list);

    C3DFaceList loaded;
    CXMemFile file(bytes.data(), bytes.size());
    CXArchive ar(&file, CXArchive::load);
    unsigned highest = 0;
    loaded.Load(ar, highest);
    EXPECT_EQ(highest, 7u);
    // With the hint below the point count nothing is read; without it the faces are walked.
    EXPECT_EQ(loaded.FindFaceOutside(8, highest), kZanNone);
    EXPECT_EQ(loaded.FindFaceOutside(8), kZanNone);
    EXPECT_EQ(loaded.FindFaceOutside(7, highest), 1u);
    // A face left out of use may keep an index no point answers any more.
    loaded.SetFaceFlags(1, _FaceExcluded, true);
    EXPECT_EQ(loaded.FindFaceOutside(7, highest), kZanNone);
    EXPECT_EQ(loaded.FindFaceOutside(5, highest), 2u);
}

TEST(FaceListArchive, GoldenFilePinsTheLayout)
{
    auto golden = zantest::ReadFileBytes(GoldenPath());
    ASSERT_FALSE(golden.empty()) << "missing " << GoldenPath();
    EXPECT_EQ(zantest::StoreToBytes(StoreGoldenLists), golden)
        << "the face list archive layout changed";

    std::vector<CXObject*> read;
    zantest::LoadFromBytes(golden,
                           [&](CXArchive& ar)
                           {
                               for (int i = 0; i < 6; ++i)
                                   read.push_back(ar.ReadObject(ZAN_RUNTIME_CLASS(CFaceList)));
                               EXPECT_EQ(ar.GetRemaining(), 0u);
                           });
    ASSERT_EQ(read.size(), 6u);
    auto mesh = Owned<C3DFaceList>(read[0]);
    auto uvw = Owned<CUVWFaceList>(read[1]);
    auto colours = Owned<CVCFaceList>(read[2]);
    auto weights = Owned<CWeightFaceList>(read[3]);
    auto normals = Owned<CNormalFaceList>(read[4]);
    auto bare = Owned<C3DFaceList>(read[5]);
    ASSERT_TRUE(mesh && uvw && colours && weights && normals && bare);
    EXPECT_EQ(AllCorners(*mesh), (FaceSet{{0, 1, 2, 9}, {2, 1, 3, 4}, {4, 5}, {5, 6, 7, 8, 9}}));
    EXPECT_EQ(mesh->GetFaceFlags(2), unsigned(_FaceInvalid | _FaceExcluded));
    EXPECT_EQ(mesh->GetFaceFlags(3), unsigned(_FaceBorder));
    EXPECT_EQ(mesh->GetFaceMaterial(3), 9u);
    EXPECT_EQ(mesh->GetBackFaceMaterial(1), 3u);
    EXPECT_EQ(mesh->GetOriginalIndex(3), 3u);
    EXPECT_EQ(mesh->GetFlags(), unsigned(_FaceListPersistent));
    zantest::ExpectFaceListsParallel(*mesh, *uvw);
    EXPECT_EQ(colours->GetSize(), 0);
    EXPECT_EQ(CornersOf(*weights, 0), (Corners{3, 2, 1}));
    EXPECT_EQ(CornersOf(*normals, 0), (Corners{0, 1, 2, 3}));
    EXPECT_EQ(normals->GetStorage().GetCapacity(0), 7u);
    EXPECT_TRUE(bare->HasBackFaceMaterials());

    auto again = zantest::StoreToBytes(
        [&](CXArchive& ar)
        {
            for (CXObject* object : read)
                ar.WriteObject(object);
        });
    EXPECT_EQ(again, golden);
}

TEST(FaceListArchive, DISABLED_WriteGoldenFile)
{
    ASSERT_TRUE(zantest::WriteFileBytes(GoldenPath(), zantest::StoreToBytes(StoreGoldenLists)));
}

TEST(FaceListArchive, EveryTruncationIsRefusedAndLeavesTheTargetUnchanged)
{
    C3DFaceList list;
    Fill(list, {{0, 1, 2}, {2, 3, 4, 5}, {6, 7}});
    list.SetBackFaceMaterial(0, 1);
    CFace face;
    list.GetFace(0, face);
    face.AddIndex(8);
    auto bytes = Bytes(list);

    C3DFaceList target;
    Fill(target, {{9, 8, 7}});
    target.SetFaceMaterial(0, 4);
    const auto before = Bytes(target);
    const unsigned stamp = target.GetChangedStamp();
    for (size_t n = 0; n < bytes.size(); ++n)
    {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(n));
        EXPECT_THROW(Load(target, prefix), CXArchiveException) << n;
        ASSERT_EQ(Bytes(target), before) << n;
        ASSERT_EQ(target.GetChangedStamp(), stamp) << n;
    }
    Load(target, bytes);
    EXPECT_EQ(AllCorners(target), AllCorners(list));
}

TEST(FaceListArchive, MalformedStorageIsRefusedBeforeAnythingIsAllocated)
{
    // Writes a list archive by hand: counts, a storage of \p used bytes from \p buffer with
    // \p offsets, and a valid chunk set of \p chunkCount elements.
    auto craft = [](int faces, unsigned records, uint64_t used, uint64_t size,
                    const std::vector<uint32_t>& buffer, const std::vector<uint64_t>& offsets,
                    unsigned chunkCount, bool wideProperty = true)
    {
        return zantest::StoreToBytes(
            [&](CXArchive& ar)
            {
                ar << faces << 0u << records;
                if (records)
                {
                    ar << used << size;
                    ar.WriteArray(buffer.data(), buffer.size());
                    ar.WriteCount(offsets.size());
                    ar.WriteArray(offsets.data(), offsets.size());
                }
                CDataChunk chunks;
                chunks.SetDataSize(chunkCount, false, kZanNone);
                if (wideProperty)
                    chunks.AddDataChunk(CFaceList::kPropertyChunk, new C3DFacePropertyMethods,
                                        0x103);
                else
                    chunks.AddDataChunk(CFaceList::kPropertyChunk, new CFacePropertyMethods, 0x103);
                chunks.Serialize(ar);
            });
    };
    // Records are (count | capacity << 16, indices...).
    const uint32_t tri = 3 | 3u << 16;
    const std::vector<uint32_t> two = {tri, 0, 1, 2, tri, 2, 3, 4};

    struct Case
    {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"valid", craft(2, 2, 32, 32, two, {0, 16}, 2)},
        {"negative face count", craft(-2, 2, 32, 32, two, {0, 16}, 2)},
        {"face count against record count", craft(3, 2, 32, 32, two, {0, 16}, 2)},
        {"offset outside the buffer", craft(2, 2, 32, 32, two, {0, 32}, 2)},
        {"misaligned offset", craft(2, 2, 32, 32, two, {0, 14}, 2)},
        {"record at the end with a bad header", craft(2, 2, 32, 32, two, {0, 28}, 2)},
        {"count above capacity",
         craft(2, 2, 32, 32, {tri, 0, 1, 2, 5 | 3u << 16, 2, 3, 4}, {0, 16}, 2)},
        {"record past the used bytes",
         craft(2, 2, 32, 32, {tri, 0, 1, 2, 3 | 9u << 16, 2, 3, 4}, {0, 16}, 2)},
        {"records sharing bytes", craft(2, 2, 32, 32, two, {0, 0}, 2)},
        {"records overlapping out of order",
         craft(2, 2, 32, 32, {3 | 4u << 16, 0, 1, 2, 3u << 16, 0, 0, 0}, {16, 0}, 2)},
        {"buffer size below the used bytes", craft(2, 2, 32, 16, two, {0, 16}, 2)},
        {"used bytes beyond the input",
         craft(2, 2, uint64_t(1) << 40, uint64_t(1) << 41, two, {0, 16}, 2)},
        {"absurd used bytes", craft(2, 2, ~uint64_t(0) - 7, ~uint64_t(0), two, {0, 16}, 2)},
        {"record count beyond the input", craft(0x7FFFFFFF, 0x7FFFFFFF, 32, 32, two, {0, 16}, 2)},
        {"fewer offsets than records", craft(2, 2, 32, 32, two, {0}, 2)},
        {"negative index",
         craft(2, 2, 32, 32, {tri, 0, 1, 2, tri, 2, uint32_t(-3), 4}, {0, 16}, 2)},
        {"index outside the bound", craft(2, 2, 32, 32, {tri, 0, 1, 2, tri, 2, 3, 10}, {0, 16}, 2)},
        {"chunks of another length", craft(2, 2, 32, 32, two, {0, 16}, 3)},
        {"narrow property in a mesh list", craft(2, 2, 32, 32, two, {0, 16}, 2, false)},
    };
    for (const Case& c : cases)
    {
        C3DFaceList target;
        target.SetPointBound(10);
        Fill(target, {{5, 6, 7}});
        const auto before = Bytes(target);
        if (std::string(c.what) == "valid")
        {
            Load(target, c.bytes);
            EXPECT_EQ(AllCorners(target), (FaceSet{{0, 1, 2}, {2, 3, 4}}));
            continue;
        }
        EXPECT_THROW(Load(target, c.bytes), CXArchiveException) << c.what;
        EXPECT_EQ(Bytes(target), before) << c.what;
    }

    // Records out of order that do not overlap are fine; the gap between them is dead.
    const std::vector<uint32_t> apart = {tri, 0, 1, 2, 99, tri, 2, 3, 4};
    C3DFaceList target;
    Load(target, craft(2, 2, 36, 36, apart, {20, 0}, 2));
    EXPECT_EQ(AllCorners(target), (FaceSet{{2, 3, 4}, {0, 1, 2}}));
    EXPECT_EQ(target.GetStorage().GetDeadBytes(), 4u);
    auto stored = Bytes(target);
    C3DFaceList reloaded;
    Load(reloaded, stored);
    EXPECT_EQ(reloaded.GetStorage().GetOffsets()[1], 16u);
    EXPECT_EQ(Bytes(reloaded), stored);
}

// ---------------------------------------------------------------- random edits

TEST(FaceList, RandomEditsMatchAPlainReferenceModel)
{
    struct Model
    {
        FaceSet faces;
        std::vector<unsigned> flags, materials;
    };
    constexpr unsigned kPoints = 40;
    C3DFaceList list;
    CUVWFaceList channel; // kept parallel by applying the same sizing edits
    ASSERT_TRUE(list.SetPointBound(kPoints));
    Model m;
    std::mt19937 random(1234);
    auto pick = [&](unsigned n) { return unsigned(random() % n); };
    auto randomFace = [&](unsigned n)
    {
        Corners c(n);
        for (int& v : c)
            v = int(pick(kPoints));
        return c;
    };
    auto invalidBit = [](size_t n) { return n < 3 ? unsigned(_FaceInvalid) : 0u; };

    auto mirror = [&](unsigned i)
    { ASSERT_TRUE(channel.SetFaceIndexes(i, m.faces[i].data(), unsigned(m.faces[i].size()))); };

    for (int step = 0; step < 3000; ++step)
    {
        unsigned n = unsigned(m.faces.size());
        int op = int(pick(11));
        if (n == 0)
            op = 0;
        switch (op)
        {
        case 0:
        { // add a face
            Corners c = randomFace(1 + pick(7));
            ASSERT_NE(list.AddFace(c.data(), unsigned(c.size())), kZanNone);
            ASSERT_NE(channel.AddFace(c.data(), unsigned(c.size())), kZanNone);
            m.faces.push_back(c);
            m.flags.push_back(invalidBit(c.size()));
            m.materials.push_back(0);
            break;
        }
        case 1:
        { // resize a face through a handle
            unsigned i = pick(n), size = pick(12);
            CFace face;
            list.GetFace(i, face);
            int* items = face.SetSize(int(size));
            Corners& c = m.faces[i];
            for (unsigned k = unsigned(c.size()); k < size; ++k)
                items[k] = int(k % kPoints);
            size_t old = c.size();
            c.resize(size);
            for (size_t k = old; k < size; ++k)
                c[k] = int(k % kPoints);
            m.flags[i] = (m.flags[i] & ~1u) | invalidBit(size);
            mirror(i);
            break;
        }
        case 2:
        { // add or remove a corner
            unsigned i = pick(n);
            CFace face;
            list.GetFace(i, face);
            if (pick(2) && m.faces[i].size() < 20)
            {
                int v = int(pick(kPoints));
                ASSERT_EQ(face.AddIndex(v), int(m.faces[i].size() + 1));
                m.faces[i].push_back(v);
                m.flags[i] = (m.flags[i] & ~1u) | (m.faces[i].size() < 2 ? 1u : 0u);
            }
            else if (!m.faces[i].empty())
            {
                int v = m.faces[i][pick(unsigned(m.faces[i].size()))];
                ASSERT_TRUE(face.RemoveIndex(v));
                auto last = std::find(m.faces[i].rbegin(), m.faces[i].rend(), v);
                m.faces[i].erase(std::next(last).base());
                if (m.faces[i].size() < 3)
                    m.flags[i] |= 1;
            }
            mirror(i);
            break;
        }
        case 3:
        { // material and a free flag
            unsigned i = pick(n);
            list.SetFaceMaterial(i, unsigned(step));
            m.materials[i] = unsigned(step);
            list.SetFaceFlags(i, 0x100, true);
            m.flags[i] |= 0x100;
            break;
        }
        case 4:
        { // reorder both lists alike
            std::vector<unsigned> order(n);
            std::iota(order.begin(), order.end(), 0u);
            std::shuffle(order.begin(), order.end(), random);
            bool inverse = pick(2);
            ASSERT_TRUE(list.ReorderFaces(order.data(), n, inverse));
            ASSERT_TRUE(channel.ReorderFaces(order.data(), n, inverse));
            Model next = m;
            for (unsigned i = 0; i < n; ++i)
            {
                unsigned to = inverse ? order[i] : i, from = inverse ? i : order[i];
                next.faces[to] = m.faces[from];
                next.flags[to] = m.flags[from];
                next.materials[to] = m.materials[from];
            }
            m = next;
            break;
        }
        case 5:
        { // mark some faces and clean; the channel follows through the remap
            for (unsigned i = 0; i < n; ++i)
                if (pick(8) == 0)
                {
                    list.SetFaceFlags(i, _FaceInvalid, true);
                    m.flags[i] |= 1;
                }
            CXArray<unsigned int, unsigned int> remap;
            bool removed = list.Clean(false, &remap);
            Model next;
            for (unsigned i = 0; i < n; ++i)
                if (!(m.flags[i] & 1))
                {
                    next.faces.push_back(m.faces[i]);
                    next.flags.push_back(m.flags[i]);
                    next.materials.push_back(m.materials[i]);
                }
            ASSERT_EQ(removed, next.faces.size() != n);
            if (removed)
            {
                ASSERT_EQ(remap.GetSize(), int(n));
                for (unsigned i = 0; i < n; ++i)
                    channel.SetFaceFlags(i, _FaceInvalid, remap[int(i)] == kZanNone);
                ASSERT_TRUE(channel.Clean(false, nullptr));
            }
            m = next;
            break;
        }
        case 6:
        { // copy a face within the list
            unsigned dst = pick(n), src = pick(n);
            bool ok = list.CopyFace(dst, src);
            ASSERT_EQ(ok, !m.faces[src].empty());
            if (ok)
            {
                m.faces[dst] = m.faces[src];
                m.flags[dst] = m.flags[src];
                m.materials[dst] = m.materials[src];
                mirror(dst);
            }
            break;
        }
        case 7:
        { // flip one face
            unsigned i = pick(n);
            CFace face;
            list.GetFace(i, face);
            face.Flip();
            std::reverse(m.faces[i].begin(), m.faces[i].end());
            mirror(i);
            break;
        }
        case 8:
        { // shrink or grow the list
            unsigned count = pick(n + 5);
            ASSERT_TRUE(list.SetSize(int(count), 3));
            ASSERT_TRUE(channel.SetSize(int(count), 3));
            m.faces.resize(count, Corners(3, 0));
            m.flags.resize(count, 0);
            m.materials.resize(count, 0);
            break;
        }
        case 9:
        { // replace a face's corners
            unsigned i = pick(n);
            Corners c = randomFace(m.faces[i].size() ? unsigned(m.faces[i].size()) : 3);
            ASSERT_TRUE(list.SetFaceIndexes(i, c.data(), unsigned(c.size())));
            m.faces[i] = c;
            m.flags[i] = (m.flags[i] & ~1u) | invalidBit(c.size());
            mirror(i);
            break;
        }
        default:
        { // an index outside the bound changes nothing
            unsigned i = pick(n);
            CFace face;
            list.GetFace(i, face);
            EXPECT_EQ(face.AddIndex(int(kPoints)), -1);
            break;
        }
        }

        ASSERT_EQ(AllCorners(list), m.faces) << "step " << step << " op " << op;
        for (unsigned i = 0; i < m.faces.size(); ++i)
        {
            ASSERT_EQ(list.GetFaceFlags(i), m.flags[i]) << "step " << step << " face " << i;
            ASSERT_EQ(*(static_cast<const unsigned*>(list.GetMainData(i)) + 1), m.materials[i]);
        }
        ASSERT_TRUE(zantest::FaceChunksParallel(list)) << "step " << step;
        ASSERT_TRUE(zantest::FaceListsParallel(list, channel)) << "step " << step;
        if (step % 100 == 0)
        {
            auto bytes = Bytes(list);
            C3DFaceList loaded;
            Load(loaded, bytes);
            ASSERT_EQ(AllCorners(loaded), m.faces);
            ASSERT_EQ(Bytes(loaded), bytes);
        }
    }
}
