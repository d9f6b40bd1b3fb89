// Small mesh builders of the welding, grid and comparison tests.
#pragma once

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

namespace spatialtest
{
struct CDrop
{
    void operator()(C3DGeomObject* object) const
    {
        if (object)
            object->Delete();
    }
};
using ObjectPtr = std::unique_ptr<C3DObject, CDrop>;
using Point = std::array<float, 3>;

inline C3DPointList* MakePoints(const std::vector<Point>& coords)
{
    auto* points = C3DPointList::Create();
    points->SetSize(int(coords.size()));
    for (size_t i = 0; i < coords.size(); ++i)
        (*points)[int(i)].Set(coords[i][0], coords[i][1], coords[i][2]);
    return points;
}

/// A mesh of the given points and triangles (three indices each); no faces when empty.
inline ObjectPtr MakeMesh(const std::vector<Point>& coords, const std::vector<int>& triangles)
{
    ObjectPtr mesh(new C3DObject);
    mesh->SetPointList(MakePoints(coords), true);
    if (!triangles.empty())
    {
        auto* faces = C3DFaceList::Create();
        EXPECT_TRUE(faces->AddFaces(triangles.data(), unsigned(triangles.size() / 3), 3));
        mesh->SetFaceList(faces, true);
    }
    return mesh;
}

/// The unit cube [0, 1]^3 as 12 outward triangles, corner i at ((i & 1), (i >> 1 & 1),
/// (i >> 2 & 1)); \p moved is added to corner 7 (1, 1, 1).
inline ObjectPtr MakeCube(const Point& moved = {0, 0, 0})
{
    std::vector<Point> corners;
    for (int i = 0; i < 8; ++i)
        corners.push_back({float(i & 1), float(i >> 1 & 1), float(i >> 2 & 1)});
    for (int k = 0; k < 3; ++k)
        corners[7][k] += moved[k];
    const std::vector<int> triangles = {0, 2, 3, 0, 3, 1, 4, 5, 7, 4, 7, 6, 0, 1, 5, 0, 5, 4,
                                        2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2, 1, 3, 7, 1, 7, 5};
    return MakeMesh(corners, triangles);
}
} // namespace spatialtest
