// Working state of a scene archive kept in the archive context's scratch bag: the set of
// shared objects already written (storing) and the objects read so far (loading), so that a
// shared object is written once and every later node refers to it by object ID.
#pragma once

#include <3dzan/scene/scene.h>

/// The set of shared object IDs written so far, created on first use.
C3DInstanceID* SceneArchiveWrittenSet(C3DSceneArchiveContext& context);
/// Drops the set of written IDs (after the last node of a store).
void SceneArchiveReleaseWrittenSet(C3DSceneArchiveContext& context);
/// The class an object is archived as: anything derived from C3DObject is written as C3DObject.
const CXRuntimeClass* SceneArchiveClassOf(const C3DBaseObject& object);
/// Records an object read in full (not held: the node that read it holds it).
void SceneArchiveAddObject(C3DSceneArchiveContext& context, C3DBaseObject* object);
/// The object of that ID read earlier in this archive, else the context scene's; null if none.
C3DBaseObject* SceneArchiveFindObject(C3DSceneArchiveContext& context, unsigned id);
