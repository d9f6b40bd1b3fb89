// A small mesh with every kind of channel for the geometric object tests, and readers of its
// channel values.
#pragma once

#include "scene/object_checks.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

namespace scenetest
{
using MeshPtr = TypedPtr<C3DObject>;

constexpr unsigned kUVID = 30001, kVCID = 30002, kWeightID = 30003, kExtraVCID = 30004;

/// Seven points (point 6, at z = 5, used by no face) and three faces: a quad (0, 1, 4, 3) of
/// material 7, a triangle (1, 2, 5) of material 8 and a pentagon (1, 5, 4, 3, 0) of material
/// 9. Channels: texture coordinates per corner (indices as the geometry's, but the triangle's
/// second corner has a value of its own), vertex colours per corner and weights per point.
MeshPtr MakeTestMesh();
/// A vertex-colour channel with one value per point of \p mesh and faces like its faces.
CChannel* MakeVCChannel(const C3DGeomObject& mesh, unsigned id);
/// The texture coordinate of corner \p corner of face \p face.
CUVWPoint UVAt(const C3DGeomObject& mesh, unsigned face, size_t corner);
/// The weight of point \p point.
float WeightAt(const C3DGeomObject& mesh, int point);
/// The object as a mesh, released when it is none.
MeshPtr AsMesh(C3DBaseObject* object);
} // namespace scenetest
