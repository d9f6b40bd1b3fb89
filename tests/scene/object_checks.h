// Helpers of the scene tests: objects held by a smart pointer that drops the holder, fixed
// object IDs, and checks of display meshes.
#pragma once

#include "common/zan_test_helpers.h"

#include <3dzan/foundation/xarchive.h>
#include <3dzan/scene/baseobject.h>
#include <3dzan/scene/displaymesh.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace scenetest
{
struct CDropHolder
{
    void operator()(C3DBaseObject* object) const
    {
        if (object)
            object->Delete();
    }
};
/// An object released with Delete when the pointer goes.
using ObjectPtr = std::unique_ptr<C3DBaseObject, CDropHolder>;
template <class T> using TypedPtr = std::unique_ptr<T, CDropHolder>;

/// The bytes of \p object's own Serialize.
inline std::vector<uint8_t> Store(C3DBaseObject& object)
{
    return zantest::StoreToBytes([&](CXArchive& ar) { object.Serialize(ar); });
}
inline void Load(C3DBaseObject& object, const std::vector<uint8_t>& bytes, size_t length = SIZE_MAX)
{
    zantest::LoadFromBytes(
        bytes, [&](CXArchive& ar) { object.Serialize(ar); }, length);
}

/// Gives \p object the ID \p id by loading its own flags and custom data under that ID.
void SetObjectID(C3DBaseObject& object, unsigned id);

/// The mesh's faces are valid (3 corners or more, distinct indices below the point count)
/// and make closed surfaces turned outwards: every edge is used by exactly two faces, once in
/// each direction, and the enclosed volume is positive.
::testing::AssertionResult IsClosedOutwardMesh(const C3DDisplayMesh& mesh);
} // namespace scenetest
