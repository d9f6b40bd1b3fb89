// Splitting points along attribute seams. A channel with a face list gives each corner its
// own value, so a welded point can carry several texture coordinates, colours or normals
// (one per side of a seam). Formats and renderers that keep one value per vertex need such a
// point split: around each point where a channel's values differ, the faces are grouped so
// that faces agreeing on every considered channel stay together, and every group but the
// first gets its own copy of the point. A face without a value in a channel (excluded, or a
// corner count that does not match) agrees with anything in that channel. Channel faces are
// not touched: they index channel values, not geometry points, so every corner keeps the
// values it had and only the geometry indices change.
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include "graphuse.h"

#include <algorithm>
#include <vector>

namespace
{
constexpr unsigned kUnusable = _FaceInvalid | _FaceExcluded;
constexpr unsigned kSeamMarks =
    _PointUVSeam | _PointVCSeam | _PointSpecNormalSeam | _PointNormalBreak;
constexpr double kSpecNormalAngle = 0.17453292519943295; // 10 degrees
constexpr int kNoValue = -1;

// The channel value at corner \p corner of face \p face, kNoValue when the channel face
// carries none there.
int ValueAt(const CFaceList& geometry, const CFaceList& channelFaces, const CPointList& values,
            unsigned face, int corner)
{
    if (face >= unsigned(channelFaces.GetSize()) || (channelFaces.GetFaceFlags(face) & kUnusable))
        return kNoValue;
    int n = 0;
    const int* items = channelFaces.GetIndexes(face, n);
    if (n != geometry.GetFaceSize(face) || corner < 0 || corner >= n || items[corner] < 0 ||
        items[corner] >= values.GetSize())
        return kNoValue;
    return items[corner];
}

// Whether values \p a and \p b of \p channel are the same value within \p tolerance.
bool SameValue(const CChannel& channel, int a, int b, double tolerance)
{
    if (a == b || a == kNoValue || b == kNoValue)
        return true;
    const CPointList& values = *channel.GetPointList();
    return channel.Compare(&values.GetPtView()[size_t(a)], &values.GetPtView()[size_t(b)],
                           tolerance);
}

// Gives \p flag to every geometry point whose corners use values of \p channel that differ
// within \p tolerance (see CUVWChannel::InitShareUVFlag).
unsigned MarkDifferingValues(const CChannel& channel, const CGeomInfo* geom, double tolerance,
                             unsigned flag, bool reset)
{
    CPointList* points = geom ? geom->GetSrcPointList() : nullptr;
    const CFaceList* faces = geom ? geom->GetSrcFaceList() : nullptr;
    const CFaceList* channelFaces = channel.GetFaceList();
    const CPointList* values = channel.GetPointList();
    if (!points || !faces || !channelFaces || !values)
        return 0;
    CPointView<CPt> view = points->GetPtView();
    if (reset)
        points->SetPointsFlags(flag, false);
    std::vector<int> first(view.GetCount(), kNoValue);
    unsigned marked = 0;
    faces->ForEachFace(
        [&](unsigned f, const int* items, unsigned n)
        {
            if (faces->GetFaceFlags(f) & _FaceInvalid)
                return;
            for (unsigned k = 0; k < n; ++k)
            {
                const int p = items[k];
                const int value = ValueAt(*faces, *channelFaces, *values, f, int(k));
                if (p < 0 || size_t(p) >= view.GetCount() || value == kNoValue)
                    continue;
                int& seen = first[size_t(p)];
                if (seen == kNoValue)
                    seen = value;
                else if (!SameValue(channel, seen, value, tolerance) &&
                         !view[size_t(p)].IsOneFlagSet(int(flag)))
                {
                    view[size_t(p)].SetFlags(flag, true);
                    ++marked;
                }
            }
        });
    return marked;
}

// A channel taken into account by the split, with the tolerance of its comparison.
struct CSeamChannel
{
    const CChannel* m_Channel;
    double m_Tolerance;
};

// The faces around one point that agree on every channel, with the value of each channel
// (kNoValue until a face of the group brings one).
struct CFaceGroup
{
    std::vector<int> m_Values;
    std::vector<int> m_Faces;
};

// One point copy to make: the point it copies and the faces that move to the copy.
struct CPointCopy
{
    int m_Point;
    std::vector<int> m_Faces;
};
} // namespace

unsigned CUVWChannel::InitShareUVFlag(const CGeomInfo* geom, double tolerance, bool reset) const
{
    return MarkDifferingValues(*this, geom, tolerance, _PointUVSeam, reset);
}

unsigned CVCChannel::InitVCFrontierFlag(const CGeomInfo* geom, double tolerance, bool reset) const
{
    return MarkDifferingValues(*this, geom, tolerance, _PointVCSeam, reset);
}

bool C3DGeomObject::DisconnectBorderFaces(unsigned channelTypes, unsigned, unsigned)
{
    if (IsEmptyObject() || !m_PointList || !m_FaceList || !m_Channels)
        return false;
    CGeomInfo geom(this);
    zan_detail::CFaceGraphUse graph(*m_FaceList, &geom);
    if (!graph.IsHeld())
        return false;
    m_PointList->SetPointsFlags(kSeamMarks, false);
    if ((channelTypes & _ChannelSpecNormal) && GetSpecNormalChannel())
        channelTypes &= ~unsigned(_ChannelPointNormal);
    if (channelTypes & _ChannelPointNormal)
    {
        // Recomputed so that the breaks it marks are those of the current smoothing.
        if (CChannel* existing = m_Channels->GetPointNormalChannel())
            existing->SetFlag(_ChannelModified, true);
        GetPointNormalChannel();
    }

    const int faceNbr = m_FaceList->GetSize();
    std::vector<CSeamChannel> considered;
    for (CChannel* channel : *m_Channels)
    {
        const unsigned type = channel->GetType();
        if (!(type & channelTypes) || !channel->GetFaceList() || !channel->GetPointList() ||
            channel->IsOneFlagSet(_ChannelInvalid) || channel->GetFaceList()->GetSize() != faceNbr)
            continue;
        double tolerance = 0.0;
        switch (type)
        {
        case _ChannelUVW:
            static_cast<CUVWChannel*>(channel)->InitShareUVFlag(&geom, 0.0, false);
            break;
        case _ChannelVC:
            static_cast<CVCChannel*>(channel)->InitVCFrontierFlag(&geom, 0, false);
            break;
        case _ChannelSpecNormal:
        {
            // The break marks of the normal code share one bit with the smoothing breaks;
            // they are moved to their own bit.
            static_cast<CSpecNormalChannel*>(channel)->InitNormalBreakFlag(&geom, kSpecNormalAngle,
                                                                           true, _SmoothModeArea);
            CPointView<C3DTPoint<float>> view = m_PointList->GetPointView();
            for (size_t p = 0; p < view.GetCount(); ++p)
                if (view[p].IsOneFlagSet(_PointNormalBreak))
                    view[p].SetFlags(_PointNormalBreak, false),
                        view[p].SetFlags(_PointSpecNormalSeam, true);
            tolerance = kSpecNormalAngle / 3.141592653589793;
            break;
        }
        case _ChannelPointNormal:
            MarkDifferingValues(*channel, &geom, 0.0, _PointNormalBreak, false);
            break;
        default:
            continue;
        }
        considered.push_back({channel, tolerance});
    }
    if (considered.empty())
        return false;

    // Plan every copy before changing anything.
    const int pointNbr = m_PointList->GetSize();
    CPointView<C3DTPoint<float>> view = m_PointList->GetPointView();
    std::vector<CPointCopy> copies;
    std::vector<CFaceGroup> groups;
    for (int p = 0; p < pointNbr; ++p)
    {
        if (!view[size_t(p)].IsOneFlagSet(int(kSeamMarks)))
            continue;
        int around = 0;
        const int* faces = m_FaceList->GetFacesConnectedToPoint(p, around);
        if (around < 2)
            continue;
        groups.clear();
        for (int i = 0; i < around; ++i)
        {
            const unsigned f = unsigned(faces[i]);
            int n = 0;
            const int* items = m_FaceList->GetIndexes(f, n);
            const int corner = int(std::find(items, items + n, p) - items);
            std::vector<int> values(considered.size());
            for (size_t c = 0; c < considered.size(); ++c)
            {
                const CChannel& channel = *considered[c].m_Channel;
                values[c] = ValueAt(*m_FaceList, *channel.GetFaceList(), *channel.GetPointList(), f,
                                    corner);
            }
            auto agrees = [&](const CFaceGroup& group)
            {
                for (size_t c = 0; c < considered.size(); ++c)
                    if (!SameValue(*considered[c].m_Channel, group.m_Values[c], values[c],
                                   considered[c].m_Tolerance))
                        return false;
                return true;
            };
            auto group = std::find_if(groups.begin(), groups.end(), agrees);
            if (group == groups.end())
            {
                groups.push_back({values, {}});
                group = groups.end() - 1;
            }
            for (size_t c = 0; c < considered.size(); ++c)
                if (group->m_Values[c] == kNoValue)
                    group->m_Values[c] = values[c];
            group->m_Faces.push_back(int(f));
        }
        for (size_t g = 1; g < groups.size(); ++g)
            copies.push_back({p, std::move(groups[g].m_Faces)});
    }
    if (copies.empty())
        return false;

    // Per-point channels (one value per geometry point) grow with the points.
    std::vector<CPointList*> perPoint;
    for (CChannel* channel : *m_Channels)
        if (!channel->GetFaceList() && channel->GetPointList() &&
            channel->GetPointList()->GetSize() == pointNbr)
            perPoint.push_back(channel->GetPointList());
    const int newNbr = pointNbr + int(copies.size());
    bool sized = m_PointList->SetSize(newNbr);
    for (size_t i = 0; i < perPoint.size() && sized; ++i)
        sized = perPoint[i]->SetSize(newNbr);
    if (!sized ||
        (m_FaceList->GetPointBound() != kZanNone && !m_FaceList->SetPointBound(unsigned(newNbr))))
    {
        m_PointList->SetSize(pointNbr);
        for (CPointList* values : perPoint)
            values->SetSize(pointNbr);
        return false;
    }
    CFace handle;
    for (size_t i = 0; i < copies.size(); ++i)
    {
        const int copy = pointNbr + int(i);
        m_PointList->CopyPoint(copy, copies[i].m_Point);
        for (CPointList* values : perPoint)
            values->CopyPoint(copy, copies[i].m_Point);
        for (int f : copies[i].m_Faces)
            if (m_FaceList->GetFace(unsigned(f), handle))
                handle.ReplaceIndex(copies[i].m_Point, copy);
    }
    Invalidate(_InvalidatePoints | _InvalidateFaces, true);
    return true;
}
