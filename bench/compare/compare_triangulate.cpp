// Triangulation speed against CGAL's Polygon_mesh_processing::triangulate_faces, on the same
// grid of 1 000 000 convex quadrangles (a gently waved 1000 x 1000 grid) in one run. Ours is
// timed twice: the whole object operation (new face list and channel set swapped in, log
// line) and the face-list operation alone into a topology context. CGAL's mesh is rebuilt
// before each of its runs, outside the timing. Prints the best of several runs and the
// ratios CGAL / ours. The three are timed in turns over seven rounds.
#include "compare_timing.h"
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include <CGAL/Polygon_mesh_processing/triangulate_faces.h>
#include <CGAL/Simple_cartesian.h>
#include <CGAL/Surface_mesh.h>

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

struct Grid
{
    std::vector<float> xyz;
    std::vector<int> indices;
};

Grid MakeGrid(int n)
{
    Grid g;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
            g.xyz.insert(g.xyz.end(), {float(i), float(j),
                                       float(0.2 * std::sin(0.05 * i) * std::cos(0.07 * j))});
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
        {
            int p00 = i * (n + 1) + j, p10 = (i + 1) * (n + 1) + j;
            g.indices.insert(g.indices.end(), {p00, p10, p10 + 1, p00 + 1});
        }
    return g;
}

using zancompare::BestOf;
} // namespace

int main()
{
    const Grid grid = MakeGrid(1000);
    const int pointCount = int(grid.xyz.size() / 3);
    const unsigned faceCount = unsigned(grid.indices.size() / 4);

    C3DPointList points;
    C3DFaceList faces;
    points.SetSize(pointCount);
    for (int i = 0; i < pointCount; ++i)
        points[i].Set(grid.xyz[size_t(i) * 3], grid.xyz[size_t(i) * 3 + 1],
                      grid.xyz[size_t(i) * 3 + 2]);
    faces.AddFaces(grid.indices.data(), faceCount, 4, unsigned(pointCount));

    // The three are timed in turns, round after round, so that a busy machine slows them
    // alike; each keeps its best round.
    C3DObject* object = nullptr;
    Mesh mesh;
    size_t objectFaces = 0, listFaces = 0, cgalFaces = 0;
    double objectTime = 1e30, listTime = 1e30, cgal = 1e30;
    for (int round = 0; round < 7; ++round)
    {
        objectTime =
            std::min(objectTime, BestOf(
                                     1,
                                     [&]
                                     {
                                         if (object)
                                             object->Delete();
                                         object = new C3DObject;
                                         object->SetPointList(C3DPointList::Create(), true);
                                         object->SetFaceList(C3DFaceList::Create(), true);
                                         *object->GetPointList() = points;
                                         *object->GetFaceList() = faces;
                                     },
                                     [&]
                                     {
                                         object->Triangulate();
                                         objectFaces = size_t(object->GetFaceNbr());
                                     }));

        listTime = std::min(listTime, BestOf(
                                          1, [] {},
                                          [&]
                                          {
                                              CGeomInfo geom;
                                              geom.SetPointList(&points, nullptr, 0);
                                              geom.SetFaceList(&faces, nullptr, 0);
                                              listFaces = size_t(faces.Triangulate(
                                                  &geom, _ChannelAll, _FACE_PROPERTIES(0), true));
                                          }));

        cgal = std::min(cgal,
                        BestOf(
                            1,
                            [&]
                            {
                                mesh.clear();
                                std::vector<Mesh::Vertex_index> vertices;
                                vertices.reserve(size_t(pointCount));
                                for (int i = 0; i < pointCount; ++i)
                                    vertices.push_back(mesh.add_vertex(Kernel::Point_3(
                                        grid.xyz[size_t(i) * 3], grid.xyz[size_t(i) * 3 + 1],
                                        grid.xyz[size_t(i) * 3 + 2])));
                                for (unsigned f = 0; f < faceCount; ++f)
                                {
                                    const int* q = &grid.indices[size_t(f) * 4];
                                    mesh.add_face(vertices[size_t(q[0])], vertices[size_t(q[1])],
                                                  vertices[size_t(q[2])], vertices[size_t(q[3])]);
                                }
                            },
                            [&]
                            {
                                CGAL::Polygon_mesh_processing::triangulate_faces(mesh);
                                cgalFaces = mesh.number_of_faces();
                            }));
    }
    if (object)
        object->Delete();

    std::printf("1M convex quadrangles: faces object %zu, face list %zu, CGAL %zu\n", objectFaces,
                listFaces, cgalFaces);
    std::printf("  object %8.2f ms  face list %8.2f ms  CGAL %8.2f ms  CGAL/object %.2f  "
                "CGAL/face list %.2f\n",
                objectTime * 1e3, listTime * 1e3, cgal * 1e3, cgal / objectTime, cgal / listTime);
    return 0;
}
