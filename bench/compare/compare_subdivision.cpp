// Subdivision speed against CGAL's Subdivision_method_3, on the same meshes in one run:
// Catmull-Clark on a closed torus of 10 000 quadrangles and Loop on a closed torus of 20 000
// triangles, three levels each. Ours is timed twice: the subdivider alone, and a patch
// building its final object (cutting the control mesh by face size, subdividing, joining the
// parts). Prints the best of several runs and the ratios CGAL / ours.
#include "compare_timing.h"
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/geometry/subdivision.h>
#include <3dzan/scene/patch.h>

#include <CGAL/Simple_cartesian.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/subdivision_method_3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{
using Kernel = CGAL::Simple_cartesian<double>;
using Mesh = CGAL::Surface_mesh<Kernel::Point_3>;

struct Torus
{
    std::vector<float> xyz;
    std::vector<int> indices;
    int corners = 4;
};

Torus MakeTorus(int u, int v, bool triangles)
{
    Torus t;
    t.corners = triangles ? 3 : 4;
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < u; ++i)
        for (int j = 0; j < v; ++j)
        {
            double a = 2 * pi * i / u, b = 2 * pi * j / v;
            double r = 3 + std::cos(b);
            t.xyz.insert(t.xyz.end(), {float(r * std::cos(a)), float(r * std::sin(a)),
                                       float(std::sin(b))});
        }
    for (int i = 0; i < u; ++i)
        for (int j = 0; j < v; ++j)
        {
            int p00 = i * v + j, p10 = ((i + 1) % u) * v + j;
            int p11 = ((i + 1) % u) * v + (j + 1) % v, p01 = i * v + (j + 1) % v;
            if (triangles)
                t.indices.insert(t.indices.end(), {p00, p10, p11, p00, p11, p01});
            else
                t.indices.insert(t.indices.end(), {p00, p10, p11, p01});
        }
    return t;
}

using zancompare::BestOf;

void Compare(const char* name, const Torus& torus, int levels)
{
    const int pointCount = int(torus.xyz.size() / 3);
    const unsigned faceCount = unsigned(torus.indices.size() / size_t(torus.corners));

    C3DPointList points;
    C3DFaceList faces;
    points.SetSize(pointCount);
    for (int i = 0; i < pointCount; ++i)
        points[i].Set(torus.xyz[size_t(i) * 3], torus.xyz[size_t(i) * 3 + 1],
                      torus.xyz[size_t(i) * 3 + 2]);
    faces.AddFaces(torus.indices.data(), faceCount, unsigned(torus.corners), unsigned(pointCount));

    size_t ourFaces = 0;
    double ours = BestOf(
        5, [] {},
        [&]
        {
            CSubdivider subdivider(torus.corners == 3 ? CSubdivider::_Loop
                                                      : CSubdivider::_CatmullClark);
            C3DPointList p[2];
            C3DFaceList f[2];
            const C3DPointList* inP = &points;
            const C3DFaceList* inF = &faces;
            for (int level = 0; level < levels; ++level)
            {
                subdivider.Subdivide(*inP, *inF, p[level % 2], f[level % 2]);
                inP = &p[level % 2];
                inF = &f[level % 2];
            }
            ourFaces = size_t(inF->GetSize());
        });

    size_t patchFaces = 0;
    double patch = BestOf(
        5, [] {},
        [&]
        {
            C3DPatch object;
            object.SetPointList(C3DPointList::Create(), true);
            object.SetFaceList(C3DFaceList::Create(), true);
            *object.GetPointList() = points;
            *object.GetFaceList() = faces;
            object.SetLevel(levels);
            auto* final = static_cast<C3DGeomObject*>(object.GetFinalObject(false));
            patchFaces = final ? size_t(final->GetFaceNbr()) : 0;
        });

    Mesh mesh;
    size_t cgalFaces = 0;
    double cgal = BestOf(
        5,
        [&]
        {
            mesh.clear();
            std::vector<Mesh::Vertex_index> vertices;
            for (int i = 0; i < pointCount; ++i)
                vertices.push_back(mesh.add_vertex(Kernel::Point_3(
                    torus.xyz[size_t(i) * 3], torus.xyz[size_t(i) * 3 + 1],
                    torus.xyz[size_t(i) * 3 + 2])));
            for (unsigned f = 0; f < faceCount; ++f)
            {
                std::vector<Mesh::Vertex_index> face;
                for (int k = 0; k < torus.corners; ++k)
                    face.push_back(vertices[size_t(
                        torus.indices[size_t(f) * size_t(torus.corners) + size_t(k)])]);
                mesh.add_face(face);
            }
        },
        [&]
        {
            if (torus.corners == 3)
                CGAL::Subdivision_method_3::Loop_subdivision(
                    mesh, CGAL::parameters::number_of_iterations(levels));
            else
                CGAL::Subdivision_method_3::CatmullClark_subdivision(
                    mesh, CGAL::parameters::number_of_iterations(levels));
            cgalFaces = mesh.number_of_faces();
        });

    std::printf("%s: faces %zu, patch %zu, CGAL %zu\n", name, ourFaces, patchFaces, cgalFaces);
    std::printf("  subdivider %8.2f ms  patch %8.2f ms  CGAL %8.2f ms  CGAL/subdivider %.2f  "
                "CGAL/patch %.2f\n",
                ours * 1e3, patch * 1e3, cgal * 1e3, cgal / ours, cgal / patch);
}
} // namespace

int main()
{
    Compare("Catmull-Clark, 10k quads, 3 levels", MakeTorus(100, 100, false), 3);
    Compare("Loop, 20k triangles, 3 levels", MakeTorus(100, 100, true), 3);
    return 0;
}
