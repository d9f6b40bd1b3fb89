// Triangulation checked by the properties of its output on hard polygons (inside the polygon,
// same orientation, areas adding up, channels following), against a plain transcription of
// the ear clipping rules on random polygons, and the quadrangle path against the per-face one.
#include "processing/polyops_mesh.h"

#include <3dzan/geometry/geominfo.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace polytest;

namespace
{
constexpr double kPi = 3.14159265358979323846;

std::vector<Point3> Lift(const std::vector<P2>& polygon)
{
    std::vector<Point3> points;
    for (const P2& p : polygon)
        points.push_back({float(p.x), float(p.y), 0.0f});
    return points;
}

std::vector<P2> RoundToFloat(const std::vector<P2>& polygon)
{
    std::vector<P2> out;
    for (const P2& p : polygon)
        out.push_back({double(float(p.x)), double(float(p.y))});
    return out;
}

Face Iota(size_t n)
{
    Face face(n);
    for (size_t i = 0; i < n; ++i)
        face[i] = int(i);
    return face;
}

// Rotates every point about an oblique axis through the origin.
void Rotate(std::vector<Point3>& points)
{
    double axis[3] = {1 / std::sqrt(14.0), 2 / std::sqrt(14.0), 3 / std::sqrt(14.0)};
    double c = std::cos(0.7), s = std::sin(0.7);
    for (Point3& p : points)
    {
        double v[3] = {p[0], p[1], p[2]};
        double d = axis[0] * v[0] + axis[1] * v[1] + axis[2] * v[2];
        double k[3] = {axis[1] * v[2] - axis[2] * v[1], axis[2] * v[0] - axis[0] * v[2],
                       axis[0] * v[1] - axis[1] * v[0]};
        for (int a = 0; a < 3; ++a)
            p[a] = float(v[a] * c + k[a] * s + axis[a] * d * (1 - c));
    }
}

struct CCheck
{
    bool m_AllowFlat = false;   // the input has collinear or coincident corners
    bool m_MustComplete = true; // a simple polygon: every corner is clipped
    size_t m_EdgeStride = 1;    // check the edges of every n-th triangle against the polygon
};

// Triangulates the one-face mesh made of \p polygon (optionally rotated in space) and checks
// the triangles against the polygon in its plane.
void CheckTriangulation(const std::vector<P2>& polygonIn, const Face& face, CCheck check,
                        bool rotate)
{
    std::vector<P2> polygon = RoundToFloat(polygonIn);
    std::vector<Point3> points = Lift(polygon);
    if (rotate)
        Rotate(points);
    MeshPtr mesh = MakeMesh(points, {face}, true);
    ASSERT_TRUE(mesh->Triangulate());
    std::vector<Face> triangles = FacesOf(*mesh->GetFaceList());
    ASSERT_FALSE(triangles.empty());

    std::vector<P2> ring;
    for (int i : face)
        ring.push_back(polygon[size_t(i)]);
    const double area = SignedArea(ring);
    const double sign = area > 0 ? 1.0 : -1.0;
    double sum = 0;
    const CFaceList* uv = UVFaces(*mesh);
    ASSERT_NE(uv, nullptr);
    ASSERT_EQ(uv->GetSize(), int(triangles.size()));
    for (size_t t = 0; t < triangles.size(); ++t)
    {
        const Face& tri = triangles[t];
        ASSERT_EQ(tri.size(), 3u);
        EXPECT_TRUE(tri[0] != tri[1] && tri[1] != tri[2] && tri[0] != tri[2]) << "triangle " << t;
        const P2 &a = polygon[size_t(tri[0])], &b = polygon[size_t(tri[1])],
                 &c = polygon[size_t(tri[2])];
        const double triangleArea = 0.5 * Cross(a, b, c);
        sum += triangleArea;
        const double scale = std::fabs(area) * 1e-9;
        if (!check.m_AllowFlat)
            EXPECT_GT(sign * triangleArea, scale) << "triangle " << t << " is flat or reversed";
        else
            EXPECT_GE(sign * triangleArea, -scale) << "triangle " << t << " is reversed";
        if (std::fabs(triangleArea) > scale)
        {
            P2 centroid{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3};
            EXPECT_TRUE(InsidePolygon(ring, centroid)) << "triangle " << t << " lies outside";
        }
        if (t % check.m_EdgeStride == 0)
            for (int e = 0; e < 3; ++e)
            {
                const P2& p = polygon[size_t(tri[size_t(e)])];
                const P2& q = polygon[size_t(tri[size_t((e + 1) % 3)])];
                for (size_t k = 0; k < ring.size(); ++k)
                    ASSERT_FALSE(ProperlyCross(p, q, ring[k], ring[(k + 1) % ring.size()]))
                        << "triangle " << t << " crosses polygon edge " << k;
            }
        // The texture coordinates follow their corners.
        int count = 0;
        const int* corners = uv->GetIndexes(unsigned(t), count);
        ASSERT_EQ(count, 3);
        for (int k = 0; k < 3; ++k)
        {
            CUVWPoint value = UVValue(*mesh, corners[k]);
            EXPECT_EQ(value.m_U, points[size_t(tri[size_t(k)])][0]);
            EXPECT_EQ(value.m_V, points[size_t(tri[size_t(k)])][1]);
        }
    }
    if (check.m_MustComplete)
    {
        EXPECT_EQ(triangles.size(), face.size() - 2);
        EXPECT_NEAR(sum, area, std::fabs(area) * 1e-6);
    }
}

std::vector<P2> Spiral(int steps, double turns)
{
    std::vector<P2> outer, inner;
    for (int i = 0; i <= steps; ++i)
    {
        double t = 2 * kPi * turns * i / steps;
        double r = 1 + 2 * t / (2 * kPi);
        outer.push_back({r * std::cos(t), r * std::sin(t)});
        inner.push_back({(r - 1) * std::cos(t), (r - 1) * std::sin(t)});
    }
    std::reverse(outer.begin(), outer.end());
    outer.insert(outer.end(), inner.begin(), inner.end());
    return outer;
}

std::vector<P2> Comb(int teeth)
{
    std::vector<P2> p{{0, 0}, {2.0 * teeth - 1, 0}};
    for (int i = teeth - 1; i >= 0; --i)
    {
        p.push_back({2.0 * i + 1, 6});
        p.push_back({2.0 * i, 6});
        if (i > 0)
        {
            p.push_back({2.0 * i, 1});
            p.push_back({2.0 * i - 1, 1});
        }
    }
    return p;
}

std::vector<P2> Star(int corners, double inner)
{
    std::vector<P2> p;
    for (int i = 0; i < corners; ++i)
    {
        double t = 2 * kPi * i / corners, r = i % 2 ? inner : 1.0;
        p.push_back({r * std::cos(t), r * std::sin(t)});
    }
    return p;
}

std::vector<P2> NoisyCircle(int corners, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(0.9, 1.1);
    std::vector<P2> p;
    for (int i = 0; i < corners; ++i)
    {
        double t = 2 * kPi * i / corners, r = noise(random);
        p.push_back({r * std::cos(t), r * std::sin(t)});
    }
    return p;
}

// The clipping rules written out plainly: scans instead of a heap, every corner of the ring
// tested for each ear.
std::vector<Face> ReferenceClip(const std::vector<P2>& xy, const Face& indices)
{
    const size_t n = xy.size();
    std::vector<size_t> prev(n), next(n);
    std::vector<double> angle(n);
    std::vector<bool> convex(n), removed(n, false);
    for (size_t k = 0; k < n; ++k)
        prev[k] = (k + n - 1) % n, next[k] = (k + 1) % n;
    auto measure = [&](size_t k)
    {
        const P2 &c = xy[k], &a = xy[next[k]], &b = xy[prev[k]];
        double ax = a.x - c.x, ay = a.y - c.y, bx = b.x - c.x, by = b.y - c.y;
        angle[k] = std::atan2(ax * by - ay * bx, ax * bx + ay * by);
        convex[k] = angle[k] >= 0;
    };
    auto smallest = [&]()
    {
        size_t best = n;
        for (size_t k = 0; k < n; ++k)
            if (!removed[k] && convex[k] && (best == n || angle[k] < angle[best]))
                best = k;
        return best;
    };
    for (size_t k = 0; k < n; ++k)
        measure(k);
    std::vector<Face> out;
    size_t c = smallest(), remaining = n;
    if (c == n)
        return out;
    while (remaining >= 3)
    {
        if (!convex[c] || angle[c] > 1.58)
        {
            c = smallest();
            if (c == n || !(angle[c] > 0))
                break;
        }
        const size_t nx = next[c], pv = prev[c];
        const P2 &a = xy[c], &b = xy[nx], &d = xy[pv];
        bool ear = true;
        for (size_t r = next[nx]; r != pv && ear; r = next[r])
        {
            const P2& q = xy[r];
            if (!(angle[r] < 0) ||
                !(q.x >= std::min({a.x, b.x, d.x}) && q.x <= std::max({a.x, b.x, d.x}) &&
                  q.y >= std::min({a.y, b.y, d.y}) && q.y <= std::max({a.y, b.y, d.y})))
                continue;
            auto same = [&q](const P2& v) { return q.x == v.x && q.y == v.y; };
            if (Cross(a, b, q) >= 0 && Cross(b, d, q) >= 0 && Cross(d, a, q) >= 0 && !same(a) &&
                !same(b) && !same(d))
                ear = false;
        }
        if (!ear)
            convex[c] = false;
        else
        {
            int i0 = indices[c], i1 = indices[nx], i2 = indices[pv];
            if (i0 != i1 && i1 != i2 && i0 != i2)
                out.push_back({i0, i1, i2});
            removed[c] = true;
            next[pv] = nx, prev[nx] = pv;
            measure(pv);
            measure(nx);
            --remaining;
        }
        c = convex[nx] && angle[nx] < angle[pv] ? nx : pv;
    }
    return out;
}
} // namespace

TEST(TriangulateTest, HardConcavePolygonsGiveTrianglesInsideWithTheirOrientation)
{
    struct CCase
    {
        const char* m_Name;
        std::vector<P2> m_Polygon;
        CCheck m_Check;
    };
    std::vector<P2> clockwiseComb = Comb(12);
    std::reverse(clockwiseComb.begin(), clockwiseComb.end());
    std::vector<CCase> cases = {
        {"spiral", Spiral(120, 2.5), {}},
        {"comb", Comb(12), {}},
        {"clockwise comb", clockwiseComb, {}},
        {"star of 5000 corners", Star(5000, 0.5), {false, true, 7}},
        {"noisy circle of 5000 corners", NoisyCircle(5000, 7), {false, true, 7}},
        // Collinear runs along every side: those corners turn by exactly pi.
        {"square with collinear sides",
         {{0, 0},
          {1, 0},
          {2, 0},
          {3, 0},
          {3, 1},
          {3, 2},
          {3, 3},
          {2, 3},
          {1, 3},
          {0, 3},
          {0, 2},
          {0, 1}},
         {true, false, 1}},
    };
    for (const CCase& c : cases)
        for (bool rotate : {false, true})
        {
            SCOPED_TRACE(std::string(c.m_Name) + (rotate ? ", rotated" : ""));
            CheckTriangulation(c.m_Polygon, Iota(c.m_Polygon.size()), c.m_Check, rotate);
        }
}

TEST(TriangulateTest, RepeatedAndCoincidentCornersGiveNoDegenerateTriangle)
{
    // Point 2 is named twice in a row; points 5 and 6 sit at the same place.
    std::vector<P2> points = {{0, 0}, {2, 0}, {3, 1}, {3, 3}, {1, 4}, {0, 2}, {0, 2}};
    CheckTriangulation(points, {0, 1, 2, 2, 3, 4, 5, 6}, {true, false, 1}, false);
    MeshPtr mesh = MakeMesh(Lift(points), {{0, 1, 2, 2, 3, 4, 5}});
    ASSERT_TRUE(mesh->Triangulate());
    for (const Face& tri : FacesOf(*mesh->GetFaceList()))
        EXPECT_TRUE(tri[0] != tri[1] && tri[1] != tri[2] && tri[0] != tri[2]);
}

TEST(TriangulateTest, NonPlanarQuadFollowsItsNewellNormal)
{
    MeshPtr mesh = MakeMesh({{0, 0, 0}, {1, 0, 0.3f}, {1, 1, 0}, {0, 1, 0.3f}}, {{0, 1, 2, 3}});
    ASSERT_TRUE(mesh->Triangulate());
    std::vector<Face> triangles = FacesOf(*mesh->GetFaceList());
    ASSERT_EQ(triangles.size(), 2u);
    const C3DPointList& p = *mesh->GetPointList();
    for (const Face& t : triangles)
    {
        C3DTVector<float> normal = (p[t[1]] - p[t[0]]).Cross(p[t[2]] - p[t[0]]);
        EXPECT_GT(normal.m_Z, 0.0f); // the quad's Newell normal is +z
    }
}

TEST(TriangulateTest, MatchesPlainTranscriptionOfTheRulesOnRandomPolygons)
{
    // Star-shaped random polygons (simple), from 5 to 200 corners, so that both the scan
    // (small rings) and the heap (large rings) pick the corners.
    std::mt19937 random(1234);
    for (int trial = 0; trial < 60; ++trial)
    {
        std::uniform_int_distribution<int> size(5, trial < 30 ? 30 : 200);
        const int n = size(random);
        std::uniform_real_distribution<double> radius(0.2, 1.0);
        std::vector<P2> polygon;
        for (int i = 0; i < n; ++i)
        {
            double t = 2 * kPi * i / n, r = radius(random);
            polygon.push_back({r * std::cos(t), r * std::sin(t)});
        }
        polygon = RoundToFloat(polygon);
        MeshPtr mesh = MakeMesh(Lift(polygon), {Iota(size_t(n))});
        ASSERT_TRUE(mesh->Triangulate());
        // The plane's own coordinates for a polygon in z = 0 facing +z: (y - y0, x0 - x).
        std::vector<P2> xy;
        for (const P2& p : polygon)
            xy.push_back({p.y - polygon[0].y, -(p.x - polygon[0].x)});
        EXPECT_EQ(FacesOf(*mesh->GetFaceList()), ReferenceClip(xy, Iota(size_t(n))))
            << "trial " << trial << ", " << n << " corners";
    }
}

TEST(TriangulateTest, QuadranglePathMatchesThePerFaceSplit)
{
    // Convex, concave, self-crossing, flat and repeated-index quadrangles, slightly bent.
    std::mt19937 random(99);
    std::uniform_real_distribution<float> coordinate(0.0f, 1.0f), bend(-0.05f, 0.05f);
    std::vector<Point3> points;
    std::vector<Face> faces;
    for (int q = 0; q < 3000; ++q)
    {
        int base = int(points.size());
        for (int k = 0; k < 4; ++k)
            points.push_back({coordinate(random), coordinate(random), bend(random)});
        if (q % 50 == 7)
            points[size_t(base + 2)] = points[size_t(base + 1)]; // coincident corners
        Face face{base, base + 1, base + 2, base + 3};
        if (q % 97 == 3)
            face[2] = face[1]; // a repeated index
        faces.push_back(face);
    }
    MeshPtr mesh = MakeMesh(points, faces);
    MeshPtr copy = MakeMesh(points, faces);
    ASSERT_TRUE(mesh->Triangulate());

    std::vector<Face> expected;
    CGeomInfo geom(copy.get());
    C3DFaceList* scratch = C3DFaceList::Create(copy->GetFaceList());
    geom.SetFaceList(copy->GetFaceList(), scratch, 2);
    C3DFace face;
    for (unsigned f = 0; f < faces.size(); ++f)
    {
        ASSERT_TRUE(copy->GetFaceList()->GetFace(f, face));
        int written = face.Triangulate(&geom, 0, -1);
        ASSERT_EQ(scratch->GetSize(), written);
        for (const Face& t : FacesOf(*scratch))
            expected.push_back(t);
    }
    EXPECT_EQ(FacesOf(*mesh->GetFaceList()), expected);
}

TEST(TriangulateTest, ConvexQuadStartsAtItsSharpestCorner)
{
    // Interior angles: corner 2 is the sharpest.
    std::vector<Point3> points = {{0, 0, 0}, {4, 0, 0}, {5, 5, 0}, {0, 2, 0}};
    double best = 10;
    int sharpest = -1;
    for (int k = 0; k < 4; ++k)
    {
        const Point3 &c = points[size_t(k)], &n = points[size_t((k + 1) % 4)],
                     &p = points[size_t((k + 3) % 4)];
        double ax = n[0] - c[0], ay = n[1] - c[1], bx = p[0] - c[0], by = p[1] - c[1];
        double angle = std::acos((ax * bx + ay * by) / std::hypot(ax, ay) / std::hypot(bx, by));
        if (angle < best)
            best = angle, sharpest = k;
    }
    for (int shift = 0; shift < 4; ++shift)
    {
        Face face;
        for (int k = 0; k < 4; ++k)
            face.push_back((k + shift) % 4);
        MeshPtr mesh = MakeMesh(points, {face});
        ASSERT_TRUE(mesh->Triangulate());
        std::vector<Face> triangles = FacesOf(*mesh->GetFaceList());
        ASSERT_EQ(triangles.size(), 2u);
        EXPECT_EQ(triangles[0][0], sharpest) << "shift " << shift;
        EXPECT_EQ(triangles[0][1], (sharpest + 1) % 4);
        EXPECT_EQ(triangles[0][2], (sharpest + 3) % 4);
    }
}

TEST(TriangulateTest, LShapeLeavesTheNotchUncovered)
{
    std::vector<P2> l = {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}};
    MeshPtr mesh = MakeMesh(Lift(l), {Iota(6)});
    ASSERT_TRUE(mesh->Triangulate());
    std::vector<Face> triangles = FacesOf(*mesh->GetFaceList());
    ASSERT_EQ(triangles.size(), 4u);
    const P2 notch{1.5, 1.5};
    for (const Face& t : triangles)
    {
        const P2 &a = l[size_t(t[0])], &b = l[size_t(t[1])], &c = l[size_t(t[2])];
        bool inside = Cross(a, b, notch) > 0 && Cross(b, c, notch) > 0 && Cross(c, a, notch) > 0;
        EXPECT_FALSE(inside);
    }
}

TEST(TriangulateTest, NothingToSplitLeavesTheObjectAsItWas)
{
    MeshPtr mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}},
                            {{0, 1, 2, 3}, {1, 4, 2}}, true);
    const C3DFaceList* before = mesh->GetFaceList();
    const unsigned checksum = mesh->GetChecksum(16);
    EXPECT_FALSE(mesh->Triangulate(_ChannelAll, _FACE_PROPERTIES(0x8000), true));
    EXPECT_EQ(mesh->GetFaceList(), before);
    EXPECT_EQ(mesh->GetChecksum(16), checksum);
    EXPECT_FALSE(mesh->Quadrangulate()); // no face above four corners
    EXPECT_EQ(mesh->GetChecksum(16), checksum);

    // Only the marked face is split; an unmarked one stays, with its channel face.
    mesh->GetFaceList()->SetFaceFlags(1, 0x8000, true);
    MeshPtr hexagon = MakeMesh(Lift({{0, 0}, {2, 0}, {3, 1}, {2, 2}, {0, 2}, {-1, 1}}),
                               {Iota(6), {0, 1, 2, 3}}, true);
    hexagon->GetFaceList()->SetFaceFlags(0, 0x8000, true);
    ASSERT_TRUE(hexagon->Triangulate(_ChannelAll, _FACE_PROPERTIES(0x8000), true));
    std::vector<Face> faces = FacesOf(*hexagon->GetFaceList());
    ASSERT_EQ(faces.size(), 5u);
    EXPECT_EQ(faces[4], (Face{0, 1, 2, 3}));
    EXPECT_EQ(FacesOf(*UVFaces(*hexagon)), faces);
}

TEST(TriangulateTest, QuadrangulateSplitsOnlyFacesAboveFourCorners)
{
    std::vector<P2> ring = {{0, 0}, {2, 0}, {3, 1}, {2, 2}, {0, 2}, {-1, 1}};
    MeshPtr mesh = MakeMesh(Lift(ring), {{0, 1, 2}, {0, 1, 2, 3}, {0, 1, 2, 3, 4}, Iota(6)}, true,
                            {11, 12, 13, 14});
    ASSERT_TRUE(mesh->Quadrangulate());
    std::vector<Face> faces = FacesOf(*mesh->GetFaceList());
    ASSERT_EQ(faces.size(), 2u + 3u + 4u);
    const unsigned materials[] = {11, 12, 13, 13, 13, 14, 14, 14, 14};
    for (unsigned f = 0; f < 9; ++f)
        EXPECT_EQ(mesh->GetFaceList()->GetFaceMaterial(f), materials[f]) << "face " << f;
    EXPECT_EQ(faces[0], (Face{0, 1, 2}));
    EXPECT_EQ(faces[1], (Face{0, 1, 2, 3}));
    for (size_t f = 2; f < faces.size(); ++f)
        EXPECT_EQ(faces[f].size(), 3u);
    EXPECT_EQ(mesh->GetFaceList()->GetNumberOfFaces(0x8000u, true), 0u); // the mark is gone
    EXPECT_EQ(FacesOf(*UVFaces(*mesh)), faces);
}

TEST(TriangulateTest, BadInputIsRefusedOrKept)
{
    MeshPtr empty(new C3DObject);
    EXPECT_FALSE(empty->Triangulate());
    EXPECT_FALSE(empty->Quadrangulate());

    // A face with a NaN corner is kept as it is; the other one is split.
    const float nan = std::nanf("");
    MeshPtr mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {nan, 2, 0}},
                            {{0, 1, 2, 4}, {0, 1, 2, 3}}, true);
    ASSERT_TRUE(mesh->Triangulate());
    std::vector<Face> faces = FacesOf(*mesh->GetFaceList());
    ASSERT_EQ(faces.size(), 3u);
    EXPECT_EQ(faces[0], (Face{0, 1, 2, 4}));
    EXPECT_EQ(FacesOf(*UVFaces(*mesh)), faces);

    // A channel face with another corner count: its triangles are excluded.
    MeshPtr odd = MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}, true);
    const int three[] = {0, 1, 2};
    ASSERT_TRUE(UVFaces(*odd)->SetFaceIndexes(0, three, 3));
    ASSERT_TRUE(odd->Triangulate());
    // Every channel face is excluded, so the empty channel is removed.
    EXPECT_EQ(UVFaces(*odd), nullptr);
    EXPECT_EQ(odd->GetFaceNbr(), 2);
}
