/// \file scene.h
/// \brief The scene family: scenes and scene nodes, base objects, geometric objects (meshes,
///        curves, patches), groups and dummies, cameras, lights, their display meshes, the
///        object creators and the library defaults the objects fall back on.
#pragma once

#include <3dzan/scene/baseobject.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/displaymesh.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/objectcreator.h>
#include <3dzan/scene/patch.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenedefaults.h>
#include <3dzan/scene/scenenode.h>
