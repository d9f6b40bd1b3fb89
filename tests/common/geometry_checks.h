/// Checks of geometry invariants shared by the test suites: a face list's chunks run parallel
/// to its faces, and two face lists (geometry and channel faces) run parallel to each other.
#pragma once

#include <gtest/gtest.h>

class CFaceList;

namespace zantest
{
/// Every chunk of \p list has one element per face, "FCPR" is the main chunk, every face's
/// record can be read and no index is negative or outside the list's point bound.
::testing::AssertionResult FaceChunksParallel(const CFaceList& list);
/// \p a and \p b have the same face count and the same corner count face by face.
::testing::AssertionResult FaceListsParallel(const CFaceList& a, const CFaceList& b);

inline void ExpectFaceChunksParallel(const CFaceList& list)
{
    EXPECT_TRUE(FaceChunksParallel(list));
}
inline void ExpectFaceListsParallel(const CFaceList& a, const CFaceList& b)
{
    EXPECT_TRUE(FaceListsParallel(a, b));
}
} // namespace zantest
