#include "scene/object_checks.h"

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>

#include <map>
#include <set>
#include <utility>

namespace scenetest
{
void SetObjectID(C3DBaseObject& object, unsigned id)
{
    auto bytes = zantest::StoreToBytes(
        [&](CXArchive& ar)
        {
            ar << object.GetFlags() << id;
            CCustomData data(object.GetCustomData());
            data.Serialize(ar);
        });
    Load(object, bytes);
}

::testing::AssertionResult IsClosedOutwardMesh(const C3DDisplayMesh& mesh)
{
    const C3DPointList& points = mesh.GetPointList();
    const C3DFaceList& faces = mesh.GetFaceList();
    const int pointNbr = points.GetSize();
    std::map<std::pair<int, int>, int> directed;
    // Pieces: points joined by faces (union-find), each with its own enclosed volume.
    std::vector<int> parent(static_cast<size_t>(pointNbr));
    for (int i = 0; i < pointNbr; ++i)
        parent[size_t(i)] = i;
    auto root = [&](int i)
    {
        while (parent[size_t(i)] != i)
            i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        return i;
    };
    std::vector<std::pair<int, double>> faceVolumes;
    for (int f = 0; f < faces.GetSize(); ++f)
    {
        int count = 0;
        const int* indices = faces.GetIndexes(unsigned(f), count);
        if (count < 3)
            return ::testing::AssertionFailure() << "face " << f << " has " << count << " corners";
        std::set<int> distinct(indices, indices + count);
        if (int(distinct.size()) != count)
            return ::testing::AssertionFailure() << "face " << f << " repeats a point";
        for (int i = 0; i < count; ++i)
        {
            int a = indices[i], b = indices[(i + 1) % count];
            if (a < 0 || a >= pointNbr)
                return ::testing::AssertionFailure() << "face " << f << " index " << a;
            parent[size_t(root(a))] = root(indices[0]);
            if (++directed[{a, b}] > 1)
                return ::testing::AssertionFailure()
                       << "edge " << a << "-" << b << " runs the same way twice (face " << f << ")";
        }
        // Signed volume of the fan from the first corner, against the origin.
        double volume = 0;
        const auto& p0 = points[indices[0]];
        for (int i = 1; i + 1 < count; ++i)
        {
            const auto& p1 = points[indices[i]];
            const auto& p2 = points[indices[i + 1]];
            volume += (double(p0.m_X) * (double(p1.m_Y) * p2.m_Z - double(p1.m_Z) * p2.m_Y) -
                       double(p0.m_Y) * (double(p1.m_X) * p2.m_Z - double(p1.m_Z) * p2.m_X) +
                       double(p0.m_Z) * (double(p1.m_X) * p2.m_Y - double(p1.m_Y) * p2.m_X)) /
                      6.0;
        }
        faceVolumes.push_back({indices[0], volume});
    }
    for (const auto& [edge, uses] : directed)
        if (!directed.count({edge.second, edge.first}))
            return ::testing::AssertionFailure()
                   << "edge " << edge.first << "-" << edge.second << " has no opposite";
    std::map<int, double> pieceVolumes;
    for (const auto& [point, volume] : faceVolumes)
        pieceVolumes[root(point)] += volume;
    double total = 0;
    for (const auto& [piece, volume] : pieceVolumes)
    {
        if (volume < -1e-9)
            return ::testing::AssertionFailure()
                   << "the piece of point " << piece << " is turned inwards (" << volume << ")";
        total += volume;
    }
    if (!(total > 0))
        return ::testing::AssertionFailure() << "enclosed volume " << total;
    return ::testing::AssertionSuccess();
}
} // namespace scenetest
