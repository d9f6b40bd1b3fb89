// Building geometry from geometry: sub-objects (a selection of faces with the points and
// channel values they use), concatenation (other objects appended, channels matched by ID
// and type, faces a filter rejects left behind) and inheritance of list structure. Each
// keeps every channel face list parallel to the geometry's: channel face i is geometry
// face i, with the same corner count.
#include <3dzan/scene/geomobject.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/objectcreator.h>
#include <3dzan/scene/scene.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

namespace
{
constexpr unsigned kSkippedFaces = _FaceInvalid | _FaceExcluded;

struct CDropHolder
{
    void operator()(CInstanciatedObject* item) const
    {
        if (item)
            item->DeleteMe();
    }
};
template <class T> using Held = std::unique_ptr<T, CDropHolder>;

// The points below pointNbr that the listed faces use, in increasing order, and for each old
// index its new one (0xFFFFFFFF when unused).
std::vector<unsigned> CollectPoints(const CFaceList& from, const std::vector<unsigned>& faces,
                                    unsigned pointNbr, std::vector<unsigned>& remap)
{
    remap.assign(pointNbr, kZanNone);
    std::vector<uint8_t> used(pointNbr, 0);
    for (unsigned face : faces)
    {
        int count = 0;
        const int* items = from.GetIndexes(face, count);
        for (int k = 0; k < count; ++k)
            if (unsigned(items[k]) < pointNbr)
                used[unsigned(items[k])] = 1;
    }
    std::vector<unsigned> order;
    for (unsigned p = 0; p < pointNbr; ++p)
        if (used[p])
        {
            remap[p] = unsigned(order.size());
            order.push_back(p);
        }
    return order;
}

// The listed faces of `from` into `to` (emptied first) with their flags and chunk values,
// indices renumbered through `remap`; an index outside it becomes 0.
bool CopyFaces(const CFaceList& from, const std::vector<unsigned>& faces,
               const std::vector<unsigned>& remap, CFaceList& to)
{
    std::vector<unsigned> counts(faces.size());
    for (size_t i = 0; i < faces.size(); ++i)
        counts[i] = unsigned(from.GetFaceSize(faces[i]));
    if (!to.SetSize(int(faces.size()), counts.data()))
        return false;
    std::vector<int> corners;
    for (size_t i = 0; i < faces.size(); ++i)
    {
        int count = 0;
        const int* items = from.GetIndexes(faces[i], count);
        corners.resize(size_t(count));
        for (int k = 0; k < count; ++k)
        {
            unsigned old = unsigned(items[k]);
            corners[size_t(k)] = old < remap.size() && remap[old] != kZanNone ? int(remap[old]) : 0;
        }
        if (!to.SetFaceIndexes(unsigned(i), corners.data(), unsigned(count)))
            return false;
    }
    return to.CopyFacesData(0, from, faces.data(), unsigned(faces.size()));
}

// Points `order[i]` of `from` (those inside it) onto points i of `to`, which takes the
// chunk structure of `from` first.
bool CopyPoints(const CPointList& from, const std::vector<unsigned>& order, CPointList& to)
{
    to.Inherit(from);
    if (!to.SetSize(int(order.size())))
        return false;
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] < unsigned(from.GetSize()))
            to.CopyPoint(int(i), int(order[i]), from);
    return true;
}

// The points of a list that remain when the faces whose `keep` entry is 0 go: a point goes
// only when such faces use it and no kept face does (a point no face uses stays, as an
// unfiltered append keeps it). Returns them in increasing order, with the old-to-new remap.
std::vector<unsigned> KeepPoints(const CFaceList& faces, const std::vector<uint8_t>& keep,
                                 unsigned pointNbr, std::vector<unsigned>& remap)
{
    enum : uint8_t
    {
        kUnused,
        kRejectedOnly,
        kKept
    };
    std::vector<uint8_t> use(pointNbr, kUnused);
    const unsigned faceNbr = std::min(unsigned(faces.GetSize()), unsigned(keep.size()));
    for (unsigned face = 0; face < faceNbr; ++face)
    {
        int count = 0;
        const int* items = faces.GetIndexes(face, count);
        for (int k = 0; k < count; ++k)
        {
            const unsigned point = unsigned(items[k]);
            if (point >= pointNbr)
                continue;
            if (keep[face])
                use[point] = kKept;
            else if (use[point] == kUnused)
                use[point] = kRejectedOnly;
        }
    }
    remap.assign(pointNbr, kZanNone);
    std::vector<unsigned> order;
    for (unsigned p = 0; p < pointNbr; ++p)
        if (use[p] != kRejectedOnly)
        {
            remap[p] = unsigned(order.size());
            order.push_back(p);
        }
    return order;
}

// Which faces of `source` the filter keeps (1) or rejects (0); empty when it keeps them all.
std::vector<uint8_t> FilterFaces(const C3DGeomObject& source, const C3DFilter& filter)
{
    std::vector<uint8_t> keep;
    // The filter reads faces through a face handle; making one does not change the list.
    auto* faces = const_cast<C3DFaceList*>(source.GetFaceList());
    if (!faces || faces->GetSize() == 0)
        return keep;
    CFace* handle = faces->CreateFace();
    if (!handle)
        return keep;
    const unsigned faceNbr = unsigned(faces->GetSize());
    keep.assign(faceNbr, 1);
    bool rejected = false;
    for (unsigned i = 0; i < faceNbr; ++i)
        if (faces->GetFace(i, *handle) &&
            !filter.ProcessFace(&source, static_cast<const C3DFace*>(handle)))
        {
            keep[i] = 0;
            rejected = true;
        }
    faces->ReleaseFace(handle);
    if (!rejected)
        keep.clear();
    return keep;
}

// A copy of `source` without the faces `keep` rejects and the points only they use, its
// channels in step. Null when memory is short.
C3DGeomObject* FilteredCopy(const C3DGeomObject& source, const std::vector<uint8_t>& keep)
{
    C3DObjectCreator creator;
    Held<C3DGeomObject> copy(static_cast<C3DGeomObject*>(
        source.GetKindOf() == _ObjectKindCurve ? creator.GetNewCurveObject()
                                               : creator.GetNewPolygonalObject()));
    if (!copy || !copy->GetPointList())
        return nullptr;
    if (!copy->GetFaceList())
    {
        C3DFaceList* faces = C3DFaceList::Create();
        if (!faces)
            return nullptr;
        copy->SetFaceList(faces, true);
    }
    const CFaceList& faces = *source.GetFaceList();
    const unsigned faceNbr = unsigned(faces.GetSize());
    std::vector<unsigned> selection;
    for (unsigned i = 0; i < faceNbr; ++i)
        if (keep[i])
            selection.push_back(i);
    std::vector<unsigned> remap;
    std::vector<unsigned> order =
        KeepPoints(faces, keep, unsigned(source.GetPointList()->GetSize()), remap);
    copy->GetFaceList()->Inherit(faces);
    if (!CopyPoints(*source.GetPointList(), order, *copy->GetPointList()) ||
        !CopyFaces(faces, selection, remap, *copy->GetFaceList()))
        return nullptr;
    for (const CChannel* channel : *source.GetChannels())
    {
        // Channels that no longer match the geometry are skipped by the append anyway.
        const CFaceList* channelFaces = channel->GetFaceList();
        if (channel->IsOneFlagSet(_ChannelInvalid) || !channel->GetPointList() ||
            (channelFaces && unsigned(channelFaces->GetSize()) != faceNbr))
            continue;
        Held<CChannel> part(channel->Copy(_ChannelCopyKeepID | _ChannelCopyStructure));
        if (!part)
            return nullptr;
        if (channelFaces)
        {
            std::vector<unsigned> channelRemap;
            std::vector<unsigned> channelOrder =
                KeepPoints(*channelFaces, keep, unsigned(channel->GetPointList()->GetSize()),
                           channelRemap);
            if (!CopyPoints(*channel->GetPointList(), channelOrder, *part->GetPointList()) ||
                !CopyFaces(*channelFaces, selection, channelRemap, *part->GetFaceList()))
                return nullptr;
        }
        else if (!CopyPoints(*channel->GetPointList(), order, *part->GetPointList()))
            return nullptr;
        copy->AddChannel(part.release());
    }
    return copy.release();
}

// The lengths of the object's lists and channels, to cut them back after a failed append.
struct CLengths
{
    int m_Points = 0;
    int m_Faces = 0;
    int m_ChannelNbr = 0;
    std::vector<std::pair<int, int>> m_Channels; // points, faces (-1: no list)
};
} // namespace

// ---------------------------------------------------------------- inheritance

void C3DGeomObject::Inherit(const C3DGeomObject& source, unsigned pointFlags, unsigned channelFlags)
{
    (void)pointFlags; // the point lists of the library take no options when they inherit
    if (&source == this)
        return;
    if (m_PointList && source.m_PointList)
        m_PointList->Inherit(*source.m_PointList);
    if (m_FaceList && source.m_FaceList)
        m_FaceList->Inherit(*source.m_FaceList);
    m_Channels->CopyChannels(*source.m_Channels, _ChannelAll, channelFlags);
    InheritFlags(source, 0);
}

// ---------------------------------------------------------------- sub-objects

C3DObject* C3DGeomObject::SubObject(const int* faces, int count) const
{
    if (!faces || count <= 0 || !m_FaceList || !m_PointList || IsEmptyObject())
        return nullptr;
    unsigned faceNbr = unsigned(m_FaceList->GetSize());
    std::vector<unsigned> selection(static_cast<size_t>(count));
    std::vector<uint8_t> seen(faceNbr, 0);
    for (int i = 0; i < count; ++i)
    {
        unsigned face = unsigned(faces[i]);
        if (face >= faceNbr || seen[face])
            return nullptr;
        seen[face] = 1;
        selection[size_t(i)] = face;
    }
    try
    {
        C3DObjectCreator creator;
        Held<C3DObject> object(static_cast<C3DObject*>(creator.GetNewPolygonalObject()));
        if (!object)
            return nullptr;
        std::vector<unsigned> remap;
        std::vector<unsigned> order =
            CollectPoints(*m_FaceList, selection, unsigned(m_PointList->GetSize()), remap);
        object->m_FaceList->Inherit(*m_FaceList);
        if (!CopyPoints(*m_PointList, order, *object->m_PointList) ||
            !CopyFaces(*m_FaceList, selection, remap, *object->m_FaceList))
            return nullptr;
        // Channels that no longer match the geometry have nothing to give a part.
        for (const CChannel* channel : *m_Channels)
        {
            if (channel->IsOneFlagSet(_ChannelInvalid) || !channel->GetPointList())
                continue;
            const CFaceList* channelFaces = channel->GetFaceList();
            if (channelFaces && unsigned(channelFaces->GetSize()) != faceNbr)
                continue;
            Held<CChannel> copy(channel->Copy(_ChannelCopyKeepID | _ChannelCopyStructure));
            if (!copy)
                return nullptr;
            if (channelFaces)
            {
                std::vector<unsigned> channelRemap;
                std::vector<unsigned> channelOrder =
                    CollectPoints(*channelFaces, selection,
                                  unsigned(channel->GetPointList()->GetSize()), channelRemap);
                if (!CopyPoints(*channel->GetPointList(), channelOrder, *copy->GetPointList()) ||
                    !CopyFaces(*channelFaces, selection, channelRemap, *copy->GetFaceList()))
                    return nullptr;
            }
            else if (!CopyPoints(*channel->GetPointList(), order, *copy->GetPointList()))
                return nullptr;
            object->AddChannel(copy.release());
        }
        object->InheritFlags(*this, 0);
        object->SetScene(GetScene());
        object->SetFlag(_ObjectEmpty, false);
        object->Invalidate(_InvalidatePoints | _InvalidateFaces | _InvalidateCopied, true);
        return object.release();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

C3DObject* C3DGeomObject::SubObject(int pointNbr, _SUBOBJECT_MODE mode) const
{
    if ((mode != _SubObjectEqual && mode != _SubObjectGreater) || !m_FaceList ||
        m_FaceList->GetSize() == 0)
        return nullptr;
    std::vector<int> selection;
    m_FaceList->ForEachFace(
        [&](unsigned face, const int*, unsigned count)
        {
            if (m_FaceList->GetFaceFlags(face) & kSkippedFaces)
                return;
            bool take = mode == _SubObjectEqual ? int(count) == pointNbr : int(count) > pointNbr;
            if (take)
                selection.push_back(int(face));
        });
    if (selection.empty())
        return nullptr;
    return SubObject(selection.data(), int(selection.size()));
}

// ---------------------------------------------------------------- concatenation

bool C3DGeomObject::AppendFaces(CFaceList& to, const CFaceList& from, int shift)
{
    unsigned old = unsigned(to.GetSize());
    unsigned added = unsigned(from.GetSize());
    if (added == 0)
        return true;
    if (to.GetPointBound() != kZanNone && !to.SetPointBound(unsigned(std::min<int64_t>(
                                              int64_t(to.GetPointBound()) + shift, INT_MAX))))
        return false;
    if (!to.ExpandSize(from))
        return false;
    to.AppendDataChunks(&from, true);
    std::vector<unsigned> faces(added);
    std::iota(faces.begin(), faces.end(), 0u);
    if (!to.CopyFacesData(old, from, faces.data(), added))
        return false;
    for (unsigned i = old; i < old + added; ++i)
    {
        int* items = to.m_Faces.ItemsAt(i);
        unsigned count = to.m_Faces.CountAt(i);
        for (unsigned k = 0; k < count; ++k)
            items[k] += shift;
    }
    return true;
}

bool C3DGeomObject::AppendMissingFaces(CFaceList& to, const CFaceList& model)
{
    unsigned old = unsigned(to.GetSize());
    if (!to.ExpandSizeAndFlags(model, _FaceInvalid | _FaceExcluded))
        return false;
    for (unsigned i = old; i < unsigned(to.GetSize()); ++i)
    {
        int* items = to.m_Faces.ItemsAt(i);
        std::fill(items, items + to.m_Faces.CountAt(i), 0);
    }
    return true;
}

bool C3DGeomObject::AppendSource(const C3DGeomObject& source)
{
    const C3DFaceList* sourceFaces = source.m_FaceList;
    const C3DPointList& sourcePoints = *source.m_PointList;
    const int pointsBefore = m_PointList->GetSize();
    if (int64_t(pointsBefore) + sourcePoints.GetSize() > INT_MAX)
        return false;
    const int channelsBefore = m_Channels->GetSize();
    std::vector<uint8_t> matched(size_t(channelsBefore), 0);

    for (const CChannel* from : *source.m_Channels)
    {
        const CFaceList* fromFaces = from->GetFaceList();
        const CPointList* fromPoints = from->GetPointList();
        // A source channel that no longer matches its geometry counts as missing.
        if (from->IsOneFlagSet(_ChannelInvalid) || !fromPoints ||
            (fromFaces && (!sourceFaces || fromFaces->GetSize() != sourceFaces->GetSize())))
            continue;
        int target = -1;
        for (int t = 0; t < channelsBefore && target < 0; ++t)
        {
            const CChannel* to = m_Channels->GetAt(t);
            if (!matched[size_t(t)] && to->GetChannelID() == from->GetChannelID() &&
                to->GetType() == from->GetType())
                target = t;
        }
        CChannel* to = target >= 0 ? m_Channels->GetAt(target) : nullptr;
        if (to && (to->IsOneFlagSet(_ChannelInvalid) || !to->GetPointList() ||
                   (to->GetFaceList() != nullptr) != (fromFaces != nullptr)))
            continue; // shapes differ: the target channel is treated as missing below
        Held<CChannel> added;
        if (!to)
        {
            added.reset(from->Copy(_ChannelCopyKeepID | _ChannelCopyStructure));
            if (!added)
                return false;
            to = added.get();
            if (fromFaces && m_FaceList && !AppendMissingFaces(*to->GetFaceList(), *m_FaceList))
                return false;
        }
        else
            matched[size_t(target)] = 1;
        CPointList& toPoints = *to->GetPointList();
        if (fromFaces)
        {
            int shift = toPoints.GetSize();
            if (toPoints.Append(*fromPoints) < 0 && fromPoints->GetSize() > 0)
                return false;
            if (!AppendFaces(*to->GetFaceList(), *fromFaces, shift))
                return false;
        }
        else
        {
            // One value per geometry point: pad or cut around the appended values.
            if (!toPoints.SetSize(pointsBefore) ||
                (toPoints.Append(*fromPoints) < 0 && fromPoints->GetSize() > 0) ||
                !toPoints.SetSize(pointsBefore + sourcePoints.GetSize()))
                return false;
        }
        if (added)
            m_Channels->AddChannel(added.release());
        to->MarkModified();
    }

    for (int t = 0; t < channelsBefore; ++t)
    {
        CChannel* to = m_Channels->GetAt(t);
        if (matched[size_t(t)] || to->IsOneFlagSet(_ChannelInvalid) || !to->GetPointList())
            continue;
        if (to->GetFaceList())
        {
            if (sourceFaces && !AppendMissingFaces(*to->GetFaceList(), *sourceFaces))
                return false;
        }
        else if (!to->GetPointList()->SetSize(pointsBefore + sourcePoints.GetSize()))
            return false;
        to->MarkModified();
    }

    if (m_PointList->Append(sourcePoints) < 0 && sourcePoints.GetSize() > 0)
        return false;
    return !sourceFaces || AppendFaces(*m_FaceList, *sourceFaces, pointsBefore);
}

bool C3DGeomObject::Concatenate(C3DScene*, const CXArray<C3DGeomObject*>& objects,
                                const C3DFilter* filter)
{
    const bool curve = GetKindOf() == _ObjectKindCurve;
    std::vector<const C3DGeomObject*> sources;
    bool needFaces = false;
    for (int i = 0; i < objects.GetSize(); ++i)
    {
        const C3DGeomObject* source = objects[i];
        if (!source || source == this || source->IsFlagSet(_ObjectEmpty) || !source->m_PointList ||
            (source->GetKindOf() == _ObjectKindCurve) != curve)
            continue;
        sources.push_back(source);
        needFaces = needFaces || source->m_FaceList;
    }
    if (sources.empty())
        return false;

    // Lists the object lacks are made here and dropped again when the append fails.
    Held<C3DPointList> newPoints;
    Held<C3DFaceList> newFaces;
    CLengths before;
    try
    {
        if (!m_PointList)
            newPoints.reset(C3DPointList::Create());
        if (!m_FaceList && needFaces)
            newFaces.reset(C3DFaceList::Create());
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    if (newPoints)
        m_PointList = newPoints.get();
    if (newFaces)
        m_FaceList = newFaces.get();
    before.m_Points = m_PointList->GetSize();
    before.m_Faces = m_FaceList ? m_FaceList->GetSize() : 0;
    before.m_ChannelNbr = m_Channels->GetSize();
    for (const CChannel* channel : *m_Channels)
        before.m_Channels.emplace_back(
            channel->GetPointList() ? channel->GetPointList()->GetSize() : -1,
            channel->GetFaceList() ? channel->GetFaceList()->GetSize() : -1);

    bool done = true;
    try
    {
        if (m_FaceList)
        {
            uint64_t faces = 0, corners = 0;
            for (const C3DGeomObject* source : sources)
                if (source->m_FaceList)
                {
                    faces += unsigned(source->m_FaceList->GetSize());
                    source->m_FaceList->ForEachFace([&](unsigned, const int*, unsigned count)
                                                    { corners += count; });
                }
            if (faces > INT_MAX || !m_FaceList->Reserve(unsigned(faces), corners))
                done = false;
        }
        for (size_t i = 0; done && i < sources.size(); ++i)
        {
            const C3DGeomObject* source = sources[i];
            std::vector<uint8_t> keep;
            if (filter)
                keep = FilterFaces(*source, *filter);
            if (keep.empty())
            {
                done = AppendSource(*source);
                continue;
            }
            // Faces the filter rejects stay behind with the points and channel values that
            // only they use: the kept part is cut out first and appended in the source's place.
            Held<C3DGeomObject> part(FilteredCopy(*source, keep));
            done = part && AppendSource(*part);
        }
    }
    catch (const std::bad_alloc&)
    {
        done = false;
    }

    if (!done)
    {
        // Cut everything back to its former length; channels added here go.
        while (m_Channels->GetSize() > before.m_ChannelNbr)
            m_Channels->RemoveChannel(m_Channels->GetAt(m_Channels->GetSize() - 1));
        for (int t = 0; t < before.m_ChannelNbr; ++t)
        {
            CChannel* channel = m_Channels->GetAt(t);
            auto [points, faces] = before.m_Channels[size_t(t)];
            if (points >= 0)
                channel->GetPointList()->SetSize(points);
            if (faces >= 0)
                channel->GetFaceList()->SetSize(faces);
        }
        if (newPoints)
            m_PointList = nullptr;
        else
            m_PointList->SetSize(before.m_Points);
        if (newFaces)
            m_FaceList = nullptr;
        else if (m_FaceList)
            m_FaceList->SetSize(before.m_Faces);
        return false;
    }
    newPoints.release();
    newFaces.release();
    SetFlag(_ObjectEmpty, false);
    Invalidate(_InvalidatePoints | _InvalidateFaces, true);
    return true;
}

bool C3DGeomObject::CleanChannels(unsigned typeMask, bool invalidate)
{
    // Collected first: removing while walking the array would skip the channel after each
    // removed one.
    std::vector<CChannel*> empty;
    for (CChannel* channel : *m_Channels)
    {
        const CFaceList* faces = channel->GetFaceList();
        if (!faces || !(unsigned(channel->GetType()) & typeMask) ||
            channel->IsOneFlagSet(_ChannelInvalid | _ChannelModified))
            continue;
        bool holdsNothing = true;
        const unsigned faceNbr = unsigned(faces->GetSize());
        for (unsigned i = 0; i < faceNbr && holdsNothing; ++i)
            holdsNothing = (faces->GetFaceFlags(i) & kSkippedFaces) != 0;
        if (holdsNothing)
            empty.push_back(channel);
    }
    for (CChannel* channel : empty)
        m_Channels->RemoveChannel(channel);
    if (!empty.empty() && invalidate)
        Invalidate(0x800, true);
    return !empty.empty();
}
