// Topology graphs of face lists: sharing by use count and dropping on change, the edge map
// against a model under random edits, every neighbourhood query against a brute-force
// reading of the faces on random meshes (repeated corners, invalid and excluded faces,
// non-manifold edges, large faces), graph maintenance against fresh builds, border status
// on an open grid and a closed cube, and refused input.
#include "common/zan_test_helpers.h"

#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/geometry/topology.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

namespace
{
using IntSet = std::set<int>;

class COwnedFaceList : public C3DFaceList
{
public:
    using C3DFaceList::operator=;
    using C3DFaceList::UpdateList;
};

void AddFaces(CFaceList& list, const std::vector<std::vector<int>>& faces)
{
    for (const auto& f : faces)
        ASSERT_NE(list.AddFace(f.data(), unsigned(f.size())), kZanNone);
}

// An open grid of n x n quads over (n + 1)^2 points.
void MakeGrid(CFaceList& list, int n)
{
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
        {
            int a = y * (n + 1) + x;
            int quad[4] = {a, a + 1, a + n + 2, a + n + 1};
            list.AddFace(quad, 4);
        }
}

IntSet Combine(const IntSet& a, const IntSet& b, int type)
{
    IntSet r;
    auto in = [](const IntSet& s, int x) { return s.count(x) != 0; };
    for (int x : a)
        if ((type == 1) || (type == 2 && in(b, x)) || ((type == 3 || type == 5) && !in(b, x)))
            r.insert(x);
    for (int x : b)
        if (type == 1 || ((type == 4 || type == 5) && !in(a, x)))
            r.insert(x);
    return r;
}

IntSet ToSet(const CHashTable<int>& table)
{
    IntSet s;
    for (unsigned pos = table.GetFirst(); pos != kZanNone;)
        s.insert(table.GetNext(pos));
    return s;
}

IntSet ToSet(const int* array, int count)
{
    return array ? IntSet(array, array + count) : IntSet();
}

// The faces read plainly: what every graph and query is checked against.
struct CReference
{
    std::vector<std::vector<int>> faces;
    std::vector<bool> valid;
    std::vector<IntSet> record;

    CReference(const CFaceList& list, int points) : record(size_t(points))
    {
        for (unsigned f = 0; f < unsigned(list.GetSize()); ++f)
        {
            int n;
            const int* p = list.GetIndexes(f, n);
            faces.emplace_back(p, p + n);
            valid.push_back(!list.IsFaceOneFlagSet(f, _FaceInvalid | _FaceExcluded));
            for (int k = 0; k < n && valid.back(); ++k)
                record[size_t(p[k])].insert(int(f));
        }
    }
    template <class F> void Sides(int f, F&& fn) const
    {
        const auto& c = faces[size_t(f)];
        for (size_t k = 0; k < c.size(); ++k)
            if (c[k] != c[(k + 1) % c.size()])
                fn(c[k], c[(k + 1) % c.size()], int(k));
    }
    std::map<std::pair<int, int>, IntSet> Edges() const
    {
        std::map<std::pair<int, int>, IntSet> edges;
        for (int f = 0; f < int(faces.size()); ++f)
            if (valid[size_t(f)])
                Sides(f,
                      [&](int a, int b, int) {
                          edges[{std::min(a, b), std::max(a, b)}].insert(f);
                      });
        return edges;
    }
    IntSet Rec(int p) const
    {
        return p >= 0 && p < int(record.size()) ? record[size_t(p)] : IntSet();
    }
    IntSet Across(int a, int b, int skip) const
    {
        IntSet r = Combine(Rec(a), Rec(b), 2);
        r.erase(skip);
        return r;
    }
    IntSet EdgeNeighbours(int p) const
    {
        IntSet r;
        for (int f : Rec(p))
            Sides(f,
                  [&](int a, int b, int)
                  {
                      if (a == p)
                          r.insert(b);
                      if (b == p)
                          r.insert(a);
                  });
        return r;
    }
    IntSet Corners(int p) const
    {
        IntSet r;
        for (int f : Rec(p))
            r.insert(faces[size_t(f)].begin(), faces[size_t(f)].end());
        r.erase(p);
        return r;
    }
};

// A random mesh over few points, so that edges have many faces: faces of 1 to 12 corners,
// some with repeated corners, some invalid or excluded.
void MakeRandomMesh(CFaceList& list, std::mt19937& rng, int points, int faceCount)
{
    std::uniform_int_distribution<int> point(0, points - 1), pct(0, 99);
    for (int f = 0; f < faceCount; ++f)
    {
        int n =
            pct(rng) < 5 ? 1 + pct(rng) % 2 : (pct(rng) < 10 ? 9 + pct(rng) % 4 : 3 + pct(rng) % 4);
        std::vector<int> c;
        for (int k = 0; k < n; ++k)
            c.push_back(pct(rng) < 10 && k ? c[size_t(k - 1)] : point(rng));
        list.AddFace(c.data(), unsigned(n));
        int roll = pct(rng);
        if (roll < 8)
            list.SetFaceFlag(unsigned(f), roll < 3 ? _FaceInvalid : _FaceExcluded, true);
    }
}

::testing::AssertionResult SameGraphs(const CFaceList& a, const CFaceList& b)
{
    const CFaceStorage* ga = a.GetPointToFaceGraph();
    const CFaceStorage* gb = b.GetPointToFaceGraph();
    if (!ga || !gb || ga->GetCount() != gb->GetCount())
        return ::testing::AssertionFailure() << "point-to-face graphs missing or of other sizes";
    for (unsigned p = 0; p < ga->GetCount(); ++p)
    {
        unsigned na, nb;
        const int* ra = ga->GetItems(p, na);
        const int* rb = gb->GetItems(p, nb);
        if (std::vector<int>(ra, ra + na) != std::vector<int>(rb, rb + nb))
            return ::testing::AssertionFailure() << "record of point " << p << " differs";
    }
    const CAssociationMap* ea = a.GetEdgeGraph();
    const CAssociationMap* eb = b.GetEdgeGraph();
    if (!ea || !eb || ea->GetCount() != eb->GetCount() ||
        ea->GetAssociationNbr() != eb->GetAssociationNbr())
        return ::testing::AssertionFailure() << "edge graphs missing or of other sizes";
    bool same = true;
    ea->ForEach(
        [&](const C3DEdge& e, const int* faces, unsigned count)
        {
            unsigned n;
            const int* other = eb->Lookup(e, n);
            same = same && other &&
                   std::vector<int>(faces, faces + count) == std::vector<int>(other, other + n);
        });
    return same ? ::testing::AssertionSuccess()
                : ::testing::AssertionFailure() << "an edge lists other faces";
}

// A fresh copy of \p list with both graphs built.
std::unique_ptr<COwnedFaceList> Rebuilt(const COwnedFaceList& list, const CGeomInfo& geom)
{
    auto copy = std::make_unique<COwnedFaceList>(list);
    EXPECT_FALSE(copy->HasPointToFaceGraph());
    EXPECT_TRUE(copy->InitPointToFaceGraph(&geom) && copy->InitEdgeToFaceGraph(&geom));
    return copy;
}

struct CMeshFixture
{
    C3DPointList points;
    CGeomInfo geom;
    COwnedFaceList list;
    explicit CMeshFixture(int pointCount)
    {
        points.SetSize(pointCount);
        geom.SetPointList(&points, nullptr, 0);
    }
};
} // namespace

TEST(TopologyGraphs, SharedByUseCountAndDroppedOnChange)
{
    COwnedFaceList list;
    AddFaces(list, {{0, 1, 2}, {2, 1, 3}});
    int count;
    EXPECT_EQ(list.GetFacesConnectedToPoint(1, count), nullptr);
    ASSERT_TRUE(list.InitPointToFaceGraph() && list.InitPointToFaceGraph());
    ASSERT_TRUE(list.InitEdgeToFaceGraph() && list.InitEdgeToFaceGraph());
    const CFaceStorage* graph = list.GetPointToFaceGraph();
    list.DeletePointToFaceGraph();
    list.DeleteEdgeToFaceGraph();
    EXPECT_EQ(list.GetPointToFaceGraph(), graph); // the other user keeps it
    EXPECT_NE(list.GetEdgeGraph(), nullptr);
    list.DeletePointToFaceGraph();
    list.DeleteEdgeToFaceGraph();
    EXPECT_FALSE(list.HasPointToFaceGraph());
    EXPECT_EQ(list.GetEdgeGraph(), nullptr);
    list.DeletePointToFaceGraph(); // one delete too many does nothing

    // A resize marks the faces changed: UpdateList drops both graphs, Init rebuilds them.
    ASSERT_TRUE(list.InitPointToFaceGraph() && list.InitEdgeToFaceGraph());
    ASSERT_TRUE(list.SetSize(3, 3)); // the new face is (0, 0, 0)
    EXPECT_TRUE(list.UpdateList(nullptr));
    EXPECT_FALSE(list.HasPointToFaceGraph());
    EXPECT_EQ(list.GetEdgeGraph(), nullptr);
    ASSERT_TRUE(list.InitPointToFaceGraph());
    const int* faces = list.GetFacesConnectedToPoint(0, count);
    EXPECT_EQ(std::vector<int>(faces, faces + count), (std::vector<int>{0, 2}));

    // Init itself runs UpdateList: a stale graph is never handed out.
    ASSERT_TRUE(list.SetSize(2, 3));
    ASSERT_TRUE(list.InitPointToFaceGraph());
    faces = list.GetFacesConnectedToPoint(0, count);
    EXPECT_EQ(std::vector<int>(faces, faces + count), (std::vector<int>{0}));

    // Copies build their own; assignment, RemoveAll and loading drop them.
    ASSERT_TRUE(list.InitEdgeToFaceGraph());
    COwnedFaceList copy(list);
    EXPECT_FALSE(copy.HasPointToFaceGraph());
    EXPECT_EQ(copy.GetEdgeGraph(), nullptr);
    list = copy;
    EXPECT_FALSE(list.HasPointToFaceGraph());
    EXPECT_EQ(list.GetEdgeGraph(), nullptr);
    ASSERT_TRUE(list.InitPointToFaceGraph() && list.InitEdgeToFaceGraph());
    list.RemoveAll();
    EXPECT_FALSE(list.HasPointToFaceGraph());
    EXPECT_EQ(list.GetEdgeGraph(), nullptr);
}

TEST(TopologyGraphs, RepeatedCornersAndRecordSizes)
{
    C3DPointList points;
    points.SetSize(8);
    CGeomInfo geom;
    geom.SetPointList(&points, nullptr, 0);
    COwnedFaceList list;
    AddFaces(list, {{3, 3, 5}, {5, 3, 6}});
    ASSERT_TRUE(list.InitPointToFaceGraph(&geom) && list.InitEdgeToFaceGraph(&geom));
    int count;
    const int* faces = list.GetFacesConnectedToPoint(3, count);
    EXPECT_EQ(std::vector<int>(faces, faces + count), (std::vector<int>{0, 1}));
    EXPECT_EQ(list.GetPointToFaceGraph()->GetCount(), 8u); // the point list's size
    EXPECT_EQ(list.GetFacesConnectedToEdge(C3DEdge(3, 3), count), nullptr);
    faces = list.GetFacesConnectedToEdge(C3DEdge::Oriented(5, 3), count);
    EXPECT_EQ(std::vector<int>(faces, faces + count), (std::vector<int>{0, 1}));

    // Without a point list: the point bound when it is near the indices used, else the
    // highest index plus one.
    COwnedFaceList bound, far;
    ASSERT_TRUE(bound.SetPointBound(10) && far.SetPointBound(1000000));
    AddFaces(bound, {{3, 3, 5}});
    AddFaces(far, {{3, 3, 5}});
    ASSERT_TRUE(bound.InitPointToFaceGraph() && far.InitPointToFaceGraph());
    EXPECT_EQ(bound.GetPointToFaceGraph()->GetCount(), 10u);
    EXPECT_EQ(far.GetPointToFaceGraph()->GetCount(), 6u);

    // A point list shorter than the indices: corners without a record are left out.
    points.SetSize(4);
    COwnedFaceList shortList;
    AddFaces(shortList, {{1, 2, 7}});
    ASSERT_TRUE(shortList.InitPointToFaceGraph(&geom));
    EXPECT_EQ(shortList.GetFacesConnectedToPoint(7, count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(TopologyGraphs, IsolatedFaces)
{
    COwnedFaceList joined, apart;
    AddFaces(joined, {{0, 1, 2}, {2, 1, 3}});
    AddFaces(apart, {{0, 1, 2}, {3, 4, 5}, {6, 6, 6}});
    EXPECT_FALSE(apart.IsIsolatedFace(0)); // no graph yet
    ASSERT_TRUE(joined.InitPointToFaceGraph() && apart.InitPointToFaceGraph());
    EXPECT_FALSE(joined.IsIsolatedFace(0));
    EXPECT_FALSE(joined.IsIsolatedFace(1));
    EXPECT_TRUE(apart.IsIsolatedFace(0));
    EXPECT_TRUE(apart.IsIsolatedFace(1));
    EXPECT_TRUE(apart.IsIsolatedFace(2));
    EXPECT_FALSE(apart.IsIsolatedFace(3));
    ASSERT_TRUE(apart.SetFaceIndexes(1, nullptr, 0));
    EXPECT_TRUE(apart.IsIsolatedFace(1)); // an empty face
}

TEST(TopologyGraphs, BorderOfOpenGridAndClosedCube)
{
    C3DPointList gridPoints;
    gridPoints.SetSize(25);
    COwnedFaceList grid;
    MakeGrid(grid, 4);
    EXPECT_EQ(grid.SetBorderFacesStatus(), 0u); // no edge graph
    EXPECT_FALSE(gridPoints.SetBorderPointsStatus(grid, true));
    grid.SetFaceFlag(5, _FaceBorder, true); // an inner face, wrongly marked
    ASSERT_TRUE(grid.InitEdgeToFaceGraph());
    EXPECT_EQ(grid.SetBorderFacesStatus(), 12u);
    for (unsigned f = 0; f < 16; ++f)
    {
        bool inner = f / 4 % 3 != 0 && f % 4 % 3 != 0;
        EXPECT_EQ(grid.IsFaceFlagSet(f, _FaceBorder), !inner) << f;
    }
    gridPoints[12].SetFlag(_PointBorder, true); // the centre: cleared first
    ASSERT_TRUE(gridPoints.SetBorderPointsStatus(grid, true));
    for (int p = 0; p < 25; ++p)
    {
        int x = p % 5, y = p / 5;
        bool border = x == 0 || y == 0 || x == 4 || y == 4;
        bool corner = (x == 0 || x == 4) && (y == 0 || y == 4);
        EXPECT_EQ(gridPoints[p].IsFlagSet(_PointBorder), border) << p;
        EXPECT_EQ(gridPoints[p].IsFlagSet(_PointInner), !corner) << p; // corners have no inner edge
        EXPECT_EQ(gridPoints[p].IsFlagSet(_PointNearBorder), !border && p != 12) << p;
    }

    C3DPointList cubePoints;
    cubePoints.SetSize(8);
    COwnedFaceList cube;
    AddFaces(cube,
             {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}});
    ASSERT_TRUE(cube.InitEdgeToFaceGraph());
    EXPECT_EQ(cube.GetEdgeGraph()->GetCount(), 12u);
    EXPECT_EQ(cube.SetBorderFacesStatus(), 0u);
    cubePoints.SetBorderPointsStatus(*cube.GetEdgeGraph(), true);
    EXPECT_EQ(cubePoints.GetNumberOfPoints(_PointInner, true), 8);
    EXPECT_EQ(cubePoints.GetNumberOfPoints(_PointBorder | _PointNearBorder, true), 0);
}

TEST(AssociationMap, MatchesModelThroughGrowthPoolsAndRemovals)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> point(0, 40), face(0, 30), op(0, 9);
    CAssociationMap map(0);
    std::map<C3DEdge, IntSet> model;
    for (int step = 0; step < 20000; ++step)
    {
        C3DEdge e(point(rng), point(rng));
        int f = face(rng);
        int o = op(rng);
        if (o < 6)
            EXPECT_EQ(map.Associate(e, f), model[e].insert(f).second);
        else if (o < 9)
        {
            bool had = model.count(e) && model[e].erase(f);
            EXPECT_EQ(map.Dissociate(e, f), had);
        }
        else
            EXPECT_EQ(map.RemoveKey(e),
                      model.count(e) && !model[e].empty() && (model[e].clear(), true));
        if (model.count(e) && model[e].empty())
            model.erase(e);
    }
    EXPECT_FALSE(map.Associate(C3DEdge(1, 2), -1));
    CAssociationMap copy(map);
    for (const CAssociationMap* m : {&map, &copy})
    {
        EXPECT_EQ(m->GetCount(), model.size());
        uint64_t total = 0;
        for (const auto& [e, faces] : model)
        {
            unsigned n;
            const int* got = m->Lookup(e, n);
            EXPECT_EQ(std::vector<int>(got, got + n), std::vector<int>(faces.begin(), faces.end()));
            total += faces.size();
        }
        EXPECT_EQ(m->GetAssociationNbr(), total);
        unsigned visited = 0;
        for (unsigned pos = m->GetFirst(); pos != kZanNone; ++visited)
        {
            const int* faces;
            unsigned n;
            m->GetNext(pos, faces, n);
        }
        EXPECT_EQ(visited, model.size());
    }
    map.RemoveAll();
    EXPECT_EQ(map.GetFaceCount(model.begin()->first), 0u);
    EXPECT_FALSE(map.InitHashTable(0xFFFFFFFFu));
}

// Every query on random meshes against the brute-force reading of the faces.
TEST(TopologyQueries, MatchBruteForceOnRandomMeshes)
{
    for (unsigned seed = 1; seed <= 6; ++seed)
    {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        const int pointCount = seed % 2 ? 12 : 40;
        CMeshFixture m(pointCount);
        MakeRandomMesh(m.list, rng, pointCount, 80);
        ASSERT_TRUE(m.list.InitPointToFaceGraph(&m.geom) && m.list.InitEdgeToFaceGraph(&m.geom));
        CReference ref(m.list, pointCount);

        for (int p = 0; p < pointCount; ++p)
        {
            int n;
            const int* faces = m.list.GetFacesConnectedToPoint(p, n);
            IntSet expected = ref.Rec(p);
            EXPECT_EQ(std::vector<int>(faces, faces + n),
                      std::vector<int>(expected.begin(), expected.end()));
        }
        auto edges = ref.Edges();
        EXPECT_EQ(m.list.GetEdgeGraph()->GetCount(), edges.size());
        for (const auto& [e, faces] : edges)
        {
            int n;
            const int* got =
                m.list.GetFacesConnectedToEdge(C3DEdge::Oriented(e.second, e.first), n);
            EXPECT_EQ(std::vector<int>(got, got + n), std::vector<int>(faces.begin(), faces.end()));
        }

        CHashTable<int> set;
        CFaceGraphHelper helper;
        std::uniform_int_distribution<int> point(0, pointCount - 1), face(0, 79);
        // The set form has filled `set`; \p helperForm runs the helper form.
        auto check = [&](const IntSet& expected, int added, auto&& helperForm)
        {
            EXPECT_EQ(ToSet(set), expected);
            EXPECT_EQ(added, int(expected.size()));
            int count = -1;
            const int* array = helperForm(count);
            EXPECT_EQ(ToSet(array, count), expected);
            EXPECT_EQ(count, int(expected.size()));
        };
        for (int round = 0; round < 60; ++round)
        {
            int p1 = point(rng), p2 = point(rng), f = face(rng), type = 1 + round % 5;
            auto t = _ConnectionInfoType(type);
            SCOPED_TRACE(testing::Message()
                         << "p1 " << p1 << " p2 " << p2 << " face " << f << " type " << type);

            int added = m.list.GetFacesConnectedToPoints(p1, p2, t, set);
            check(Combine(ref.Rec(p1), ref.Rec(p2), type), added,
                  [&](int& c) { return m.list.GetFacesConnectedToPoints(p1, p2, t, helper, c); });

            IntSet around;
            ref.Sides(f,
                      [&](int a, int b, int)
                      {
                          for (int x : Combine(ref.Rec(a), ref.Rec(b), type))
                              around.insert(x);
                      });
            around.erase(f);
            added = m.list.GetFacesNeighbourg(f, t, set);
            check(around, added,
                  [&](int& c) { return m.list.GetFacesNeighbourg(f, t, helper, c); });

            added = m.list.GetPointsNeighbourg(p1, t, set);
            check(Combine(ref.EdgeNeighbours(p1), ref.Corners(p1), type), added,
                  [&](int& c) { return m.list.GetPointsNeighbourg(p1, t, helper, c); });

            added = m.list.GetPointsConnectedToPoints(p1, p2, t, set);
            check(Combine(ref.EdgeNeighbours(p1), ref.EdgeNeighbours(p2), type), added,
                  [&](int& c) { return m.list.GetPointsConnectedToPoints(p1, p2, t, helper, c); });

            bool withEnds = round % 2;
            IntSet opposite;
            for (int g : Combine(ref.Rec(p1), ref.Rec(p2), 2))
                for (int c : ref.faces[size_t(g)])
                    if (withEnds || (c != p1 && c != p2))
                        opposite.insert(c);
            if (p1 == p2)
                opposite.clear();
            added = m.list.GetPointsConnectedToEdge(p1, p2, withEnds, set);
            check(opposite, added,
                  [&](int& c)
                  { return m.list.GetPointsConnectedToEdge(p1, p2, withEnds, helper, c); });

            EXPECT_EQ(m.list.IsPointNeighbourg(helper, p1, p2),
                      ref.EdgeNeighbours(p1).count(p2) == 1);

            bool exists = false, existsInF = false;
            for (int g : ref.Rec(p1))
                ref.Sides(g,
                          [&](int a, int b, int)
                          {
                              bool hit = C3DEdge(a, b) == C3DEdge(p1, p2);
                              exists |= hit;
                              existsInF |= hit && g == f;
                          });
            EXPECT_EQ(m.list.DoesEdgeExists(C3DEdge::Oriented(p1, p2)), exists);
            EXPECT_EQ(m.list.DoesEdgeExists(C3DEdge::Oriented(p1, p2), unsigned(f)), existsInF);

            // Across a side of f and its opposite side(s).
            const auto& corners = ref.faces[size_t(f)];
            int n = int(corners.size());
            int i = n ? round % n : 0;
            C3DEdge entry =
                n ? C3DEdge(corners[size_t(i)], corners[size_t((i + 1) % n)]) : C3DEdge(0, 0);
            int first = -1;
            for (int k = 0; k < n && first < 0; ++k)
                if (C3DEdge(corners[size_t(k)], corners[size_t((k + 1) % n)]) == entry)
                    first = k;
            IntSet expected;
            std::vector<C3DEdge> expectedSides;
            if (first >= 0 && !entry.IsDegenerate())
            {
                std::set<int> positions =
                    n % 2 ? std::set<int>{(first + (n - 1) / 2) % n, (first + (n + 1) / 2) % n}
                          : std::set<int>{(first + n / 2) % n};
                IntSet far;
                for (int q : positions)
                {
                    int a = corners[size_t(q)], b = corners[size_t((q + 1) % n)];
                    expectedSides.push_back(C3DEdge::Oriented(a, b));
                    if (a != b)
                        for (int x : ref.Across(a, b, f))
                            far.insert(x);
                }
                expected = Combine(ref.Across(entry.m_Start, entry.m_End, f), far, type);
            }
            CXArray<C3DEdge> sides;
            added = m.list.GetFacesByOppositeEdges(f, entry, t, &sides, set);
            check(expected, added,
                  [&](int& c)
                  { return m.list.GetFacesByOppositeEdges(f, entry, t, nullptr, helper, c); });
            if (!expectedSides.empty())
            {
                std::vector<C3DEdge> got(sides.begin(), sides.end());
                std::sort(got.begin(), got.end());
                std::sort(expectedSides.begin(), expectedSides.end());
                EXPECT_EQ(got, expectedSides);
            }
        }

        // Face sets: connectivity through shared sides and the outline.
        for (int round = 0; round < 30; ++round)
        {
            IntSet chosen;
            for (int k = 0, n = 1 + round % 6; k < n; ++k)
                chosen.insert(face(rng));
            CHashTable<int> faces;
            for (int g : chosen)
                faces.Insert(g);
            std::map<std::pair<int, int>, int> uses;
            for (int g : chosen)
                ref.Sides(g, [&](int a, int b, int) { ++uses[{std::min(a, b), std::max(a, b)}]; });
            std::vector<C3DEdge> outline;
            for (int g : chosen)
                ref.Sides(g,
                          [&](int a, int b, int)
                          {
                              if (uses[{std::min(a, b), std::max(a, b)}] == 1)
                                  outline.push_back(C3DEdge::Oriented(a, b));
                          });
            CXArray<C3DEdge> got;
            EXPECT_EQ(m.list.GetEdgesOnBorder(got, faces), int(outline.size()));
            EXPECT_EQ(std::vector<C3DEdge>(got.begin(), got.end()), outline);
            int count;
            const int* pairs = m.list.GetEdgesOnBorder(helper, faces, count);
            ASSERT_EQ(count, int(outline.size()));
            for (int k = 0; k < count; ++k)
                EXPECT_EQ(C3DEdge::Oriented(pairs[2 * k], pairs[2 * k + 1]), outline[size_t(k)]);

            // One piece: grow from the first face through shared sides.
            IntSet reached{*chosen.begin()};
            for (bool grew = true; grew;)
            {
                grew = false;
                for (int g : chosen)
                    for (int h : reached)
                    {
                        bool shared = false;
                        ref.Sides(g,
                                  [&](int a, int b, int) {
                                      ref.Sides(h, [&](int c, int d, int)
                                                { shared |= C3DEdge(a, b) == C3DEdge(c, d); });
                                  });
                        if (shared && !reached.count(g))
                        {
                            reached.insert(g);
                            grew = true;
                            break;
                        }
                    }
            }
            EXPECT_EQ(m.list.AreFacesConnected(&m.geom, faces), reached.size() == chosen.size());
        }

        // Isolated faces.
        for (int f = 0; f < 80; ++f)
        {
            bool alone = true;
            for (int c : ref.faces[size_t(f)])
                for (int g : ref.Rec(c))
                    alone &= g == f;
            EXPECT_EQ(m.list.IsIsolatedFace(unsigned(f)), alone) << f;
        }
    }
}

// Maintenance calls leave both graphs as a fresh build of the edited faces.
TEST(TopologyMaintenance, EditsMatchFreshBuilds)
{
    for (unsigned seed = 1; seed <= 8; ++seed)
    {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        const int pointCount = seed % 2 ? 10 : 30;
        CMeshFixture m(pointCount);
        MakeRandomMesh(m.list, rng, pointCount, 60);
        ASSERT_TRUE(m.list.InitPointToFaceGraph(&m.geom) && m.list.InitEdgeToFaceGraph(&m.geom));
        std::uniform_int_distribution<int> point(0, pointCount - 1), face(0, 59);

        // Disconnect then connect again: back to the same records.
        for (int k = 0; k < 20; ++k)
        {
            int f = face(rng), corners;
            int p = m.list.GetIndexes(unsigned(f), corners)[0];
            bool listed = CReference(m.list, pointCount).Rec(p).count(f) == 1;
            EXPECT_EQ(m.list.GraphDisconnectFace(p, f), listed);
            EXPECT_FALSE(m.list.GraphDisconnectFace(p, f));
            EXPECT_TRUE(m.list.GraphConnectFace(p, f));
            EXPECT_FALSE(m.list.GraphConnectFace(p, f));
            if (!listed)
                m.list.GraphDisconnectFace(p, f);
        }
        EXPECT_TRUE(SameGraphs(m.list, *Rebuilt(m.list, m.geom)));

        // Remove faces: the face is then excluded, and points left without a face marked.
        for (int k = 0; k < 10; ++k)
        {
            int f = face(rng);
            bool valid = !m.list.IsFaceOneFlagSet(unsigned(f), _FaceInvalid | _FaceExcluded);
            EXPECT_EQ(m.list.GraphRemoveFaceReference(&m.geom, f, true), valid);
            m.list.SetFaceFlag(unsigned(f), _FaceExcluded, true);
        }
        auto fresh = Rebuilt(m.list, m.geom);
        EXPECT_TRUE(SameGraphs(m.list, *fresh));
        CReference ref(m.list, pointCount);
        for (int p = 0; p < pointCount; ++p)
        {
            if (m.points[p].IsFlagSet(_PointInvalid))
            {
                EXPECT_TRUE(ref.Rec(p).empty()) << p;
            }
        }

        // Merge points, then rename the corners.
        for (int k = 0; k < 6; ++k)
        {
            int keep = point(rng), drop = point(rng);
            ASSERT_TRUE(m.list.GraphMergePointConnectivity(keep, drop));
            for (unsigned f = 0; f < unsigned(m.list.GetSize()); ++f)
            {
                CFace handle;
                m.list.GetFace(f, handle);
                handle.ReplaceIndex(drop, keep);
            }
            EXPECT_TRUE(SameGraphs(m.list, *Rebuilt(m.list, m.geom))) << keep << " <- " << drop;
        }
    }
}

TEST(TopologyQueries, RefuseBadInput)
{
    COwnedFaceList list;
    AddFaces(list, {{0, 1, 2}, {2, 1, 3}});
    CHashTable<int> set;
    CFaceGraphHelper helper;
    int count = 7;
    // No graph: nothing, and nothing built.
    EXPECT_EQ(list.GetFacesNeighbourg(0, _ConnectionUnion, set), 0);
    EXPECT_EQ(list.GetPointsNeighbourg(1, _ConnectionUnion, helper, count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(list.GraphConnectFace(0, 1));
    EXPECT_FALSE(list.GraphMergePointConnectivity(0, 1));
    EXPECT_FALSE(list.DoesEdgeExists(C3DEdge(1, 2)));
    EXPECT_FALSE(list.HasPointToFaceGraph());
    EXPECT_FALSE(list.UpdatePointToFaceGraph());

    ASSERT_TRUE(list.InitPointToFaceGraph() && list.InitEdgeToFaceGraph());
    const int a[] = {1, 2};
    EXPECT_TRUE(zantest::AllRefused({
        list.GetFacesConnectedToPoint(-1, count) != nullptr,
        list.GetFacesConnectedToPoint(4, count) != nullptr,
        list.GetFacesNeighbourg(2, _ConnectionUnion, set) != 0,
        list.GetFacesNeighbourg(-5, _ConnectionUnion, set) != 0,
        list.GetFacesConnectedToPoints(1, 2, _ConnectionInfoType(9), set) != 0,
        list.GetConnectionSet(nullptr, 2, a, 2, _ConnectionUnion, set) != 0,
        list.GetConnectionSet(a, -1, a, 2, _ConnectionUnion, set) != 0,
        list.GetFacesByOppositeEdges(0, C3DEdge(0, 3), _ConnectionUnion, nullptr, set) != 0,
        list.GraphConnectFace(1, 2),
        list.GraphConnectFace(9, 0),
        list.GraphConnectFace(0, -1),
        list.GraphDisconnectFace(3, 0),
        list.GraphRemoveFaceReference(nullptr, 5, false),
        list.GraphMergePointConnectivity(0, 99),
        list.IsIsolatedFace(2),
        list.IsPointNeighbourg(helper, 0, 3),
    }));
    CHashTable<int> bad;
    bad.Insert(0);
    bad.Insert(7);
    CXArray<C3DEdge> edges;
    EXPECT_FALSE(list.AreFacesConnected(nullptr, bad));
    EXPECT_FALSE(list.AreFacesConnected(nullptr, CHashTable<int>()));
    EXPECT_EQ(list.GetEdgesOnBorder(edges, bad), 0);
    EXPECT_EQ(edges.GetSize(), 0);
    EXPECT_TRUE(SameGraphs(list, *Rebuilt(list, CGeomInfo())));

    // A point used by more faces than a record holds: no graph rather than a wrong one.
    COwnedFaceList fan;
    for (int f = 0; f < 70000; ++f)
    {
        int tri[3] = {0, f + 1, f + 2};
        fan.AddFace(tri, 3);
    }
    EXPECT_FALSE(fan.InitPointToFaceGraph());
    EXPECT_FALSE(fan.HasPointToFaceGraph());
    EXPECT_TRUE(fan.InitEdgeToFaceGraph());
}

TEST(TopologyContext, DetachedListIsHandedOverOnce)
{
    C3DPointList* points = C3DPointList::Create();
    {
        CGeomInfo geom;
        geom.SetPointList(points, nullptr, 1);
        EXPECT_EQ(geom.GetSrcPointList(true), points);
        EXPECT_EQ(geom.GetSrcPointList(true), nullptr);
    } // no longer owned: still alive
    EXPECT_EQ(points->GetSize(), 0);
    points->Delete();
}

// Large enough for the bulk loader to split the table into many bands.
TEST(TopologyGraphs, LargeGridBuildMatchesEdgeByEdgeInsertion)
{
    COwnedFaceList grid;
    MakeGrid(grid, 300);
    ASSERT_TRUE(grid.InitEdgeToFaceGraph());
    CAssociationMap expected;
    grid.ForEachFace(
        [&](unsigned f, const int* c, unsigned n)
        {
            for (unsigned k = 0; k < n; ++k)
                expected.Associate(C3DEdge(c[k], c[(k + 1) % n]), int(f));
        });
    const CAssociationMap& built = *grid.GetEdgeGraph();
    ASSERT_EQ(built.GetCount(), 2u * 300 * 301);
    ASSERT_EQ(built.GetAssociationNbr(), expected.GetAssociationNbr());
    expected.ForEach(
        [&](const C3DEdge& e, const int* faces, unsigned count)
        {
            unsigned n;
            const int* got = built.Lookup(e, n);
            ASSERT_EQ(std::vector<int>(got, got + n), std::vector<int>(faces, faces + count));
        });
}

TEST(TopologyGraphs, ThreadsBuildThePointGraphOfOneThread)
{
    struct CThreadReset
    {
        ~CThreadReset() { OMPSetMaxThreadCount(0); }
    } reset;
    // Enough faces for several parts, over few points so that records are long and many
    // faces repeat corners or are left out.
    std::mt19937 rng(5);
    COwnedFaceList alone;
    MakeRandomMesh(alone, rng, 20000, 300000);
    C3DPointList points;
    points.SetSize(20000);
    CGeomInfo geom;
    geom.SetPointList(&points, nullptr, 0);
    auto records = [](const CFaceList& list)
    {
        std::vector<std::vector<int>> result;
        const CFaceStorage& graph = *list.GetPointToFaceGraph();
        for (unsigned p = 0; p < graph.GetCount(); ++p)
        {
            unsigned n;
            const int* faces = graph.GetItems(p, n);
            result.emplace_back(faces, faces + n);
        }
        return result;
    };
    OMPSetMaxThreadCount(1);
    ASSERT_TRUE(alone.InitPointToFaceGraph(&geom));
    const std::vector<std::vector<int>> expected = records(alone);
    for (int threads : {2, 3, 8})
    {
        COwnedFaceList together(alone);
        OMPSetMaxThreadCount(threads);
        ASSERT_TRUE(together.InitPointToFaceGraph(&geom));
        EXPECT_TRUE(records(together) == expected) << threads << " threads";
    }
    // Every record lists its faces once, in increasing order, and only faces that are
    // neither invalid nor excluded and that have the point.
    size_t listed = 0;
    for (size_t p = 0; p < expected.size(); ++p)
        for (size_t i = 0; i < expected[p].size(); ++i)
        {
            const int f = expected[p][i];
            ASSERT_TRUE(i == 0 || expected[p][i - 1] < f) << "point " << p;
            ASSERT_FALSE(alone.IsFaceOneFlagSet(unsigned(f), _FaceInvalid | _FaceExcluded));
            int count;
            const int* items = alone.GetIndexes(unsigned(f), count);
            ASSERT_NE(std::find(items, items + count, int(p)), items + count);
            ++listed;
        }
    size_t corners = 0;
    for (unsigned f = 0; f < unsigned(alone.GetSize()); ++f)
        if (!alone.IsFaceOneFlagSet(f, _FaceInvalid | _FaceExcluded))
        {
            int count;
            const int* items = alone.GetIndexes(f, count);
            corners += std::set<int>(items, items + count).size();
        }
    EXPECT_EQ(listed, corners);
}
