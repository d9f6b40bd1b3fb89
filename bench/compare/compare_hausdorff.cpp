// Mesh comparison speed and accuracy against CGAL's Polygon Mesh Processing, in one run, on
// two UV spheres of 358 800 triangles (600 slices, 300 stacks, radius 1); the second has every
// vertex moved radially by up to 0.5 % (uniform, fixed seed).
//
// 1. The distance engine on 100 000 samples per side: the same points (taken on the faces of
//    each sphere by a fixed-seed uniform draw) measured against the other sphere by our face
//    grid (C3DFaceGridMap, build included) and by CGAL::Polygon_mesh_processing::
//    max_distance_to_triangle_mesh (AABB tree, build included). Goals: ours faster, the
//    maxima equal (both exact).
// 2. The whole comparison: GeomCompare with face samples at its smallest density (4 per face
//    of the larger mesh, so 1 435 200 per side; its density rule has no 100 000 setting)
//    against approximate_symmetric_Hausdorff_distance with the same number of face samples
//    per side. GeomCompare divides by the box diagonal, so the un-normalised maximum of its
//    two sides is compared. Goals: ours faster, distance within 5 % of CGAL's.
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/processing/compare.h>
#include <3dzan/processing/spatialmaps.h>
#include <3dzan/scene/geomobject.h>

#include <CGAL/Polygon_mesh_processing/distance.h>
#include <CGAL/Simple_cartesian.h>
#include <CGAL/Surface_mesh.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace
{
using Kernel = CGAL::Simple_cartesian<double>;
using Point3 = Kernel::Point_3;
using Mesh = CGAL::Surface_mesh<Point3>;
namespace PMP = CGAL::Polygon_mesh_processing;

struct Sphere
{
    std::vector<float> xyz;
    std::vector<int> tris;
};

Sphere MakeSphere(int slices, int stacks, double noise, unsigned seed)
{
    const double pi = 3.14159265358979323846;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-noise, noise);
    Sphere s;
    auto add = [&](double theta, double phi) {
        double r = 1.0 + jitter(rng);
        s.xyz.insert(s.xyz.end(), {float(r * std::sin(theta) * std::cos(phi)),
                                   float(r * std::sin(theta) * std::sin(phi)),
                                   float(r * std::cos(theta))});
    };
    add(0, 0); // north pole: point 0
    for (int i = 1; i < stacks; ++i)
        for (int j = 0; j < slices; ++j)
            add(pi * i / stacks, 2 * pi * j / slices);
    add(pi, 0); // south pole: last point
    const int south = int(s.xyz.size() / 3) - 1;
    auto ring = [&](int i, int j) { return 1 + (i - 1) * slices + (j % slices); };
    for (int j = 0; j < slices; ++j)
        s.tris.insert(s.tris.end(), {0, ring(1, j), ring(1, j + 1)});
    for (int i = 1; i < stacks - 1; ++i)
        for (int j = 0; j < slices; ++j)
            s.tris.insert(s.tris.end(), {ring(i, j), ring(i + 1, j), ring(i + 1, j + 1), ring(i, j),
                                         ring(i + 1, j + 1), ring(i, j + 1)});
    for (int j = 0; j < slices; ++j)
        s.tris.insert(s.tris.end(), {south, ring(stacks - 1, j + 1), ring(stacks - 1, j)});
    return s;
}

C3DObject* ToObject(const Sphere& s)
{
    auto* points = C3DPointList::Create();
    points->SetSize(int(s.xyz.size() / 3));
    for (size_t i = 0; i < s.xyz.size() / 3; ++i)
        (*points)[int(i)].Set(s.xyz[i * 3], s.xyz[i * 3 + 1], s.xyz[i * 3 + 2]);
    auto* faces = C3DFaceList::Create();
    faces->AddFaces(s.tris.data(), unsigned(s.tris.size() / 3), 3);
    auto* object = new C3DObject;
    object->SetPointList(points, true);
    object->SetFaceList(faces, true);
    return object;
}

Mesh ToMesh(const Sphere& s)
{
    Mesh mesh;
    std::vector<Mesh::Vertex_index> v;
    for (size_t i = 0; i < s.xyz.size() / 3; ++i)
        v.push_back(mesh.add_vertex(Point3(s.xyz[i * 3], s.xyz[i * 3 + 1], s.xyz[i * 3 + 2])));
    for (size_t t = 0; t < s.tris.size() / 3; ++t)
        mesh.add_face(v[size_t(s.tris[t * 3])], v[size_t(s.tris[t * 3 + 1])], v[size_t(s.tris[t * 3 + 2])]);
    return mesh;
}

/// \p count points drawn uniformly on the faces of \p s (area-weighted face, uniform inside).
std::vector<Point3> SampleFaces(const Sphere& s, size_t count, unsigned seed)
{
    std::vector<double> cumulative;
    double total = 0;
    auto corner = [&](size_t t, int k, int a) { return double(s.xyz[size_t(s.tris[t * 3 + size_t(k)]) * 3 + size_t(a)]); };
    for (size_t t = 0; t < s.tris.size() / 3; ++t)
    {
        double u[3], w[3];
        for (int a = 0; a < 3; ++a)
            u[a] = corner(t, 1, a) - corner(t, 0, a), w[a] = corner(t, 2, a) - corner(t, 0, a);
        double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
        total += 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        cumulative.push_back(total);
    }
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Point3> points;
    for (size_t i = 0; i < count; ++i)
    {
        size_t t = size_t(std::lower_bound(cumulative.begin(), cumulative.end(), unit(rng) * total) -
                          cumulative.begin());
        t = std::min(t, cumulative.size() - 1);
        double r1 = std::sqrt(unit(rng)), r2 = unit(rng);
        double wa = 1 - r1, wb = r1 * (1 - r2), wc = r1 * r2;
        points.emplace_back(wa * corner(t, 0, 0) + wb * corner(t, 1, 0) + wc * corner(t, 2, 0),
                            wa * corner(t, 0, 1) + wb * corner(t, 1, 1) + wc * corner(t, 2, 1),
                            wa * corner(t, 0, 2) + wb * corner(t, 1, 2) + wc * corner(t, 2, 2));
    }
    return points;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

double OursMax(const C3DGeomObject& target, const std::vector<Point3>& samples)
{
    auto grid = C3DFaceGridMap::Create(*target.GetFaceList(), *target.GetPointList());
    double worst = 0;
    for (const Point3& p : samples)
    {
        const double q[3] = {p.x(), p.y(), p.z()};
        double d;
        if (grid->GetClosestFace(q, d, INFINITY) >= 0)
            worst = std::max(worst, d);
    }
    return worst;
}
} // namespace

int main()
{
    SetLogEnabled(false);
    const Sphere a = MakeSphere(600, 300, 0.0, 1), b = MakeSphere(600, 300, 0.005, 2);
    std::printf("spheres: %zu and %zu triangles\n", a.tris.size() / 3, b.tris.size() / 3);
    C3DObject* objectA = ToObject(a);
    C3DObject* objectB = ToObject(b);
    const Mesh meshA = ToMesh(a), meshB = ToMesh(b);

    // 1. Engine on the same 100 000 samples per side.
    const std::vector<Point3> onA = SampleFaces(a, 100000, 7), onB = SampleFaces(b, 100000, 8);
    auto t0 = std::chrono::steady_clock::now();
    double oursEngine = std::max(OursMax(*objectB, onA), OursMax(*objectA, onB));
    auto t1 = std::chrono::steady_clock::now();
    double cgalEngine = std::max(PMP::max_distance_to_triangle_mesh<CGAL::Sequential_tag>(onA, meshB),
                                 PMP::max_distance_to_triangle_mesh<CGAL::Sequential_tag>(onB, meshA));
    auto t2 = std::chrono::steady_clock::now();
    std::printf("same 100000 samples per side: ours %.3f s (max %.6f), CGAL %.3f s (max %.6f): "
                "CGAL / ours time = %.2f (goal > 1), distance ratio %.4f\n",
                Seconds(t0, t1), oursEngine, Seconds(t1, t2), cgalEngine,
                Seconds(t1, t2) / Seconds(t0, t1), oursEngine / cgalEngine);

    // 2. Whole comparisons with the same number of face samples per side.
    CMeshCompareSide sides[2];
    t0 = std::chrono::steady_clock::now();
    GeomCompare(objectA, objectB, _MeshCompareHausdorff, INFINITY,
                _CompareSampleFaces | _CompareDensity4, sides);
    t1 = std::chrono::steady_clock::now();
    const double ours = std::max(sides[0].m_Max, sides[1].m_Max);
    const std::size_t perSide = sides[0].m_SampleNbr;
    double cgal = PMP::approximate_symmetric_Hausdorff_distance<CGAL::Sequential_tag>(
        meshA, meshB,
        PMP::parameters::number_of_points_on_faces(perSide).do_sample_vertices(false).do_sample_edges(false),
        PMP::parameters::number_of_points_on_faces(perSide).do_sample_vertices(false).do_sample_edges(false));
    t2 = std::chrono::steady_clock::now();
    const double cgalWhole = Seconds(t1, t2);
    std::printf("whole comparison, %zu face samples per side (threads: ours %d, CGAL sequential): "
                "ours %.3f s (max %.6f), CGAL %.3f s (max %.6f): CGAL / ours time = %.2f (goal > 1), "
                "distance ours / CGAL = %.4f (goal within 5%%)\n",
                perSide, std::min(2, OMPGetMaxThreadCount()), Seconds(t0, t1), ours, Seconds(t1, t2),
                cgal, Seconds(t1, t2) / Seconds(t0, t1), ours / cgal);
    OMPSetMaxThreadCount(1);
    t0 = std::chrono::steady_clock::now();
    GeomCompare(objectA, objectB, _MeshCompareHausdorff, INFINITY,
                _CompareSampleFaces | _CompareDensity4, sides);
    t1 = std::chrono::steady_clock::now();
    std::printf("ours on one thread: %.3f s: CGAL / ours time = %.2f\n", Seconds(t0, t1),
                cgalWhole / Seconds(t0, t1));
    objectA->Delete();
    objectB->Delete();
    return 0;
}
