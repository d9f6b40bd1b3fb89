// Small helpers the scene test files share: owning a scene and adding named nodes.
#pragma once

#include <3dzan/scene/scene.h>

#include <gtest/gtest.h>

#include <memory>

namespace zantest
{
struct CSceneHolder
{
    void operator()(C3DScene* scene) const { scene->Delete(); }
};
/// A scene held by the test (released with Delete).
using ScenePtr = std::unique_ptr<C3DScene, CSceneHolder>;

/// A new node named \p name carrying \p object, added under \p parent (null: the root).
inline C3DSceneNode* AddNode(C3DScene& scene, C3DSceneNode* parent, const char* name,
                             C3DBaseObject* object)
{
    auto* node = new C3DSceneNode;
    node->SetName(name);
    node->SetObject(object);
    EXPECT_TRUE(scene.AddNode(parent, node));
    return node;
}
} // namespace zantest
