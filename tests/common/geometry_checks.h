/// Checks of geometry invariants shared by the test suites: a face list's chunks run parallel
/// to its faces, and two face lists (geometry and channel faces) run parallel to each other.
#pragma once

#include <gtest/gtest.h>

class CFaceList;
class CDependentChannels;

namespace zantest
{
/// Every chunk of \p list has one element per face, "FCPR" is the main chunk, every face's
/// record can be read and no index is negative or outside the list's point bound.
::testing::AssertionResult FaceChunksParallel(const CFaceList& list);
/// \p a and \p b have the same face count and the same corner count face by face.
::testing::AssertionResult FaceListsParallel(const CFaceList& a, const CFaceList& b);

/// Every channel of \p channels that has a face list and lacks the invalid flag has the face
/// and corner counts of \p geometryFaces, and every channel face list passes FaceChunksParallel.
::testing::AssertionResult ChannelsParallel(const CFaceList& geometryFaces,
                                            const CDependentChannels& channels);

inline void ExpectFaceChunksParallel(const CFaceList& list)
{
    EXPECT_TRUE(FaceChunksParallel(list));
}
inline void ExpectFaceListsParallel(const CFaceList& a, const CFaceList& b)
{
    EXPECT_TRUE(FaceListsParallel(a, b));
}
inline void ExpectChannelsParallel(const CFaceList& geometryFaces,
                                   const CDependentChannels& channels)
{
    EXPECT_TRUE(ChannelsParallel(geometryFaces, channels));
}
} // namespace zantest
