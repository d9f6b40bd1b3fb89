// The geometry context: detaching getters, typed getters, ownership (what the context
// releases and when), and the channel list shortcuts.
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include <gtest/gtest.h>

TEST(GeomInfo, DetachingGettersHandOverTheListOnce)
{
    C3DPointList points;
    C3DFaceList faces;
    CGeomInfo info;
    EXPECT_EQ(info.GetBaseObject(), nullptr);
    EXPECT_EQ(info.GetGeomObject(), nullptr);
    info.SetPointList(&points, nullptr, 0);
    info.SetFaceList(&faces, nullptr, 0);

    const CGeomInfo* view = &info; // graph builders read through a const context
    EXPECT_EQ(view->GetSrcPointList(), &points);
    EXPECT_EQ(view->GetSrcFaceList(), &faces);
    EXPECT_EQ(info.GetSrcPointList(), &points); // no detach: stays
    EXPECT_EQ(info.GetSrcPointList(true), &points);
    EXPECT_EQ(info.GetSrcPointList(true), nullptr);
    EXPECT_EQ(view->GetSrcPointList(), nullptr);

    // Typed getters answer only for lists of their class and detach only what they return.
    EXPECT_EQ(info.GetSrcUVWFaceList(true), nullptr);
    EXPECT_EQ(info.GetSrcFaceList(), &faces);
    EXPECT_EQ(info.GetSrc3DFaceList(true), &faces);
    EXPECT_EQ(info.GetSrcFaceList(), nullptr);
    CUVWPointList uvw;
    CNormalFaceList normals;
    info.SetPointList(&uvw, &points, 0);
    info.SetFaceList(&normals, nullptr, 0);
    EXPECT_EQ(info.GetSrcUVWPointList(), &uvw);
    EXPECT_EQ(info.GetSrcVCPointList(), nullptr);
    EXPECT_EQ(info.GetSrc3DPointList(), nullptr);
    EXPECT_EQ(info.GetSrcNormalFaceList(), &normals);
    EXPECT_EQ(info.GetDst3DPointList(), &points);
    EXPECT_EQ(info.GetDst3DFaceList(), nullptr);
}

TEST(GeomInfo, OwnedItemsAreReleasedOnceAndDetachedOnesAreNot)
{
    auto* src = new C3DPointList;
    auto* dst = new C3DPointList;
    auto* faces = new C3DFaceList;
    auto* channels = new CDependentChannels;
    channels->AddChannel(new CUVWChannel);
    unsigned live = CChannel::GetLiveCount();
    for (CInstanciatedObject* o :
         {static_cast<CInstanciatedObject*>(src), static_cast<CInstanciatedObject*>(dst),
          static_cast<CInstanciatedObject*>(faces)})
        o->AddRef(); // our own holder, to watch the context's
    {
        CGeomInfo info(nullptr, nullptr);
        info.SetPointList(src, dst, 3);
        info.SetFaceList(faces, faces, 3); // the same list twice: released once
        info.SetChannels(channels, nullptr, 1);
        EXPECT_EQ(info.GetOwnership(),
                  unsigned(_GeomOwnSrcPoints | _GeomOwnDstPoints | _GeomOwnSrcFaces |
                           _GeomOwnDstFaces | _GeomOwnSrcChannels));
        EXPECT_EQ(info.GetChannelSize(), 1);
        CPointList *channelSrc, *channelDst;
        EXPECT_TRUE(info.GetChannelPointList(0, channelSrc, channelDst));
        EXPECT_EQ(channelSrc, (*channels)[0]->GetPointList());
        EXPECT_EQ(channelDst, nullptr);
        CFaceList *faceSrc, *faceDst;
        EXPECT_FALSE(info.GetChannelFaceList(1, faceSrc, faceDst));
        EXPECT_EQ(faceSrc, nullptr);

        // Replacing the source releases the old owned one; the detached destination is ours.
        EXPECT_EQ(info.GetDstPointList(true), dst);
        EXPECT_EQ(info.GetOwnership() & _GeomOwnDstPoints, 0u);
        info.SetPointList(nullptr, nullptr, 0);
        EXPECT_EQ(src->GetInstanceCount(), 1);
        EXPECT_EQ(dst->GetInstanceCount(), 2);
    }
    EXPECT_EQ(faces->GetInstanceCount(), 1);
    EXPECT_EQ(CChannel::GetLiveCount(), live - 1); // the channels went with their array
    src->Delete();
    dst->Delete();
    dst->Delete();
    faces->Delete();
}

TEST(GeomInfo, InitForgetsTheListsAndReleasesWhatItOwned)
{
    auto* points = new C3DPointList;
    points->AddRef();
    CGeomInfo info;
    info.SetPointList(points, nullptr, 1);
    info.Init(nullptr, nullptr);
    EXPECT_EQ(points->GetInstanceCount(), 1);
    EXPECT_EQ(info.GetSrcPointList(), nullptr);
    EXPECT_EQ(info.GetOwnership(), 0u);
    EXPECT_EQ(info.GetChannelSize(), 0);
    points->Delete();
}
