#include "obj_test_helpers.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/material.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>

#include <gtest/gtest.h>

#include <cmath>

namespace objtest
{
namespace
{
bool ChannelFaceUsable(const CFaceList* faces, unsigned f, int count)
{
    return faces && f < unsigned(faces->GetSize()) &&
           !faces->IsFaceOneFlagSet(f, _FaceInvalid | _FaceExcluded) &&
           faces->GetFaceSize(f) == count;
}
} // namespace

std::vector<CObjectView> ViewScene(const C3DScene& scene)
{
    std::vector<CObjectView> views;
    C3DGeomObject* object = nullptr;
    for (C3DNodePos pos = scene.GetFirstNode(_ObjectKindGeometric); pos;)
    {
        C3DSceneNode* node = scene.GetNextNode(object, pos);
        if (!node || !object)
            continue;
        CObjectView view;
        view.m_Name = node->GetName().c_str();
        const C3DPointList& points = *object->GetPointList();
        const C3DFaceList& faces = *object->GetFaceList();
        view.m_PointNbr = points.GetSize();
        CUVWChannel* uv = object->GetChannels()->GetUVWChannelByIndex(0);
        CVCChannel* vc = object->GetChannels()->GetVCChannelByIndex(0);
        CNormalFaceList* nFaces = nullptr;
        C3DVectorList* nVectors = nullptr;
        object->GetChannels()->GetSpecNormalChannel(nFaces, nVectors);
        for (int f = 0; f < faces.GetSize(); ++f)
        {
            int count;
            const int* corners = faces.GetIndexes(unsigned(f), count);
            CFaceView face;
            const C3DMaterial* material =
                const_cast<C3DScene&>(scene).GetMaterialByID(faces.GetFaceMaterial(unsigned(f)));
            face.m_Material = material ? material->GetName().c_str() : "?";
            for (int k = 0; k < count; ++k)
            {
                CCorner corner;
                const C3DTPoint<float>& p = points[corners[k]];
                corner.m_Position = {p.m_X, p.m_Y, p.m_Z};
                int n;
                if (uv && ChannelFaceUsable(uv->GetFaceList(), unsigned(f), count))
                {
                    const CUVWPoint& t =
                        (*uv->GetUVWPointList())[uv->GetFaceList()->GetIndexes(unsigned(f), n)[k]];
                    corner.m_UV = std::array<float, 2>{t.m_U, t.m_V};
                }
                if (nFaces && ChannelFaceUsable(nFaces, unsigned(f), count))
                {
                    const C3DTVector<float>& v = (*nVectors)[nFaces->GetIndexes(unsigned(f), n)[k]];
                    if (!(v.GetFlags() & _NormalUndefined))
                        corner.m_Normal = std::array<float, 3>{v.m_X, v.m_Y, v.m_Z};
                }
                if (vc && ChannelFaceUsable(vc->GetFaceList(), unsigned(f), count))
                {
                    const CRGBColor c =
                        (*vc->GetVCPointList())[vc->GetFaceList()->GetIndexes(unsigned(f), n)[k]]
                            .GetColor();
                    corner.m_Color = std::array<int, 3>{c.m_Red, c.m_Green, c.m_Blue};
                }
                face.m_Corners.push_back(corner);
            }
            view.m_Faces.push_back(face);
        }
        views.push_back(view);
    }
    return views;
}

void ExpectSameView(const std::vector<CObjectView>& a, const std::vector<CObjectView>& b,
                    float tolerance)
{
    ASSERT_EQ(a.size(), b.size());
    auto near = [tolerance](const auto& x, const auto& y)
    {
        for (size_t i = 0; i < x.size(); ++i)
        {
            if (!(std::fabs(float(x[i]) - float(y[i])) <= tolerance))
                return false;
        }
        return true;
    };
    for (size_t o = 0; o < a.size(); ++o)
    {
        SCOPED_TRACE("object " + a[o].m_Name);
        EXPECT_EQ(a[o].m_Name, b[o].m_Name);
        EXPECT_EQ(a[o].m_PointNbr, b[o].m_PointNbr);
        ASSERT_EQ(a[o].m_Faces.size(), b[o].m_Faces.size());
        for (size_t f = 0; f < a[o].m_Faces.size(); ++f)
        {
            const CFaceView& x = a[o].m_Faces[f];
            const CFaceView& y = b[o].m_Faces[f];
            EXPECT_EQ(x.m_Material, y.m_Material) << "face " << f;
            ASSERT_EQ(x.m_Corners.size(), y.m_Corners.size()) << "face " << f;
            for (size_t k = 0; k < x.m_Corners.size(); ++k)
            {
                const CCorner& p = x.m_Corners[k];
                const CCorner& q = y.m_Corners[k];
                EXPECT_TRUE(near(p.m_Position, q.m_Position)) << "face " << f << " corner " << k;
                ASSERT_EQ(p.m_UV.has_value(), q.m_UV.has_value()) << "face " << f;
                if (p.m_UV)
                {
                    EXPECT_TRUE(near(*p.m_UV, *q.m_UV)) << "face " << f << " corner " << k;
                }
                ASSERT_EQ(p.m_Normal.has_value(), q.m_Normal.has_value()) << "face " << f;
                if (p.m_Normal)
                {
                    EXPECT_TRUE(near(*p.m_Normal, *q.m_Normal)) << "face " << f;
                }
                ASSERT_EQ(p.m_Color.has_value(), q.m_Color.has_value()) << "face " << f;
                if (p.m_Color)
                {
                    EXPECT_EQ(*p.m_Color, *q.m_Color) << "face " << f;
                }
            }
        }
    }
}

CReadOutcome::~CReadOutcome()
{
    if (m_Scene)
        m_Scene->Delete();
}

void ReadText(const std::string& text, CReadOutcome& outcome, const std::string& folder,
              int threads)
{
    CObjReadSettings settings;
    settings.m_DefaultName = "test";
    settings.m_MaterialFolder = folder;
    settings.m_ThreadCount = threads;
    outcome.m_Scene =
        ReadObjText(text.data(), text.size(), settings, &outcome.m_Log, outcome.m_Result);
}
} // namespace objtest
