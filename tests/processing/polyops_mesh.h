// Small meshes for the polygon operation tests: an object from point coordinates and face
// corner lists, with optional texture coordinates that copy each point's x and y (so a
// corner's texture coordinate tells which point it belongs to), and 2D helpers to check
// triangulations against their polygon.
#pragma once

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

namespace polytest
{
struct CDrop
{
    void operator()(C3DBaseObject* object) const
    {
        if (object)
            object->Delete();
    }
};
using MeshPtr = std::unique_ptr<C3DObject, CDrop>;

using Point3 = std::array<float, 3>;
using Face = std::vector<int>;

constexpr unsigned kUVID = 41001;

/// A mesh of \p points and \p faces (face f gets material \p materials[f] when given). With
/// \p uv, a texture-coordinate channel whose corner indices are the geometry's and whose
/// value i is (x_i, y_i, 0).
inline MeshPtr MakeMesh(const std::vector<Point3>& points, const std::vector<Face>& faces,
                        bool uv = false, const std::vector<unsigned>& materials = {})
{
    MeshPtr mesh(new C3DObject);
    auto* list = C3DPointList::Create();
    list->SetSize(int(points.size()));
    for (size_t i = 0; i < points.size(); ++i)
        (*list)[int(i)].Set(points[i][0], points[i][1], points[i][2]);
    auto* faceList = C3DFaceList::Create();
    for (size_t f = 0; f < faces.size(); ++f)
    {
        EXPECT_NE(faceList->AddFace(faces[f].data(), unsigned(faces[f].size())), kZanNone);
        if (f < materials.size())
            faceList->SetFaceMaterial(unsigned(f), materials[f]);
    }
    mesh->SetPointList(list, true);
    mesh->SetFaceList(faceList, true);
    if (uv)
    {
        auto* channel = static_cast<CUVWChannel*>(CChannel::Create(_ChannelUVW, kUVID));
        channel->GetUVWPointList()->SetSize(int(points.size()));
        for (size_t i = 0; i < points.size(); ++i)
            (*channel->GetUVWPointList())[int(i)] = CUVWPoint(points[i][0], points[i][1], 0);
        EXPECT_TRUE(channel->GetFaceList()->SetSize(*faceList));
        mesh->AddChannel(channel);
    }
    return mesh;
}

inline std::vector<Face> FacesOf(const CFaceList& list)
{
    std::vector<Face> faces;
    list.ForEachFace([&](unsigned, const int* items, unsigned n)
                     { faces.emplace_back(items, items + n); });
    return faces;
}

inline CFaceList* UVFaces(const C3DGeomObject& mesh)
{
    CChannel* channel = mesh.GetChannelByID(kUVID, _ChannelUVW);
    return channel ? channel->GetFaceList() : nullptr;
}

inline CUVWPoint UVValue(const C3DGeomObject& mesh, int index)
{
    auto* channel = static_cast<CUVWChannel*>(mesh.GetChannelByID(kUVID, _ChannelUVW));
    return (*channel->GetUVWPointList())[index];
}

// ------------------------------------------------------------------------------ 2D checks
struct P2
{
    double x, y;
};

inline double Cross(const P2& o, const P2& a, const P2& b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

inline double SignedArea(const std::vector<P2>& polygon)
{
    double sum = 0;
    for (size_t i = 0, n = polygon.size(); i < n; ++i)
    {
        const P2& a = polygon[i];
        const P2& b = polygon[(i + 1) % n];
        sum += a.x * b.y - a.y * b.x;
    }
    return 0.5 * sum;
}

/// Even-odd test; points on an edge count as outside.
inline bool InsidePolygon(const std::vector<P2>& polygon, const P2& p)
{
    bool inside = false;
    for (size_t i = 0, n = polygon.size(), j = n - 1; i < n; j = i++)
    {
        const P2& a = polygon[i];
        const P2& b = polygon[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
            inside = !inside;
    }
    return inside;
}

/// Whether segments ab and cd cross at a point inside both (touching does not count).
inline bool ProperlyCross(const P2& a, const P2& b, const P2& c, const P2& d)
{
    double d1 = Cross(a, b, c), d2 = Cross(a, b, d), d3 = Cross(c, d, a), d4 = Cross(c, d, b);
    return ((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0));
}
} // namespace polytest
