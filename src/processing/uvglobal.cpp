// One texture channel for the whole object. Files and the viewer often allow a single set of
// texture coordinates per mesh, while each material's map may read its own channel. The
// global channel takes, face by face, the coordinates of the channel that the face's material
// reads; texture points are copied once per source point, so faces that shared a point in
// their channel still share it. Renumbering follows channel IDs that were changed to avoid
// clashes (concatenation, merged scenes) into the object's global IDs and its materials' maps.
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/materials.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>

#include "channelshape.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

namespace
{
constexpr unsigned kUnusable = _FaceInvalid | _FaceExcluded;

// The material IDs the object's usable faces use.
std::vector<unsigned> UsedMaterials(C3DGeomObject& object)
{
    std::vector<unsigned> ids;
    if (const CMaterialHashMap* used = object.GetMaterialsHashMap())
        for (unsigned pos = used->GetFirst(); pos != kZanNone;)
            ids.push_back(used->GetNextKey(pos));
    return ids;
}

// Whether channel face \p f carries coordinates for geometry face \p f of \p geometry.
bool CarriesValues(const CFaceList& channelFaces, const CPointList& values,
                   const CFaceList& geometry, unsigned f)
{
    if (f >= unsigned(channelFaces.GetSize()) || (channelFaces.GetFaceFlags(f) & kUnusable))
        return false;
    int n = 0;
    const int* items = channelFaces.GetIndexes(f, n);
    if (n != geometry.GetFaceSize(f) || n == 0)
        return false;
    for (int k = 0; k < n; ++k)
        if (items[k] < 0 || items[k] >= values.GetSize())
            return false;
    return true;
}
} // namespace

CChannel* C3DGeomObject::MakeGlobalChannel(CHashTable<CMapChannelID>& sources, _Channel3DType type)
{
    if (type != _ChannelUVW || !m_FaceList || !m_Channels)
        return nullptr;
    std::unordered_map<unsigned, CUVWChannel*> byMaterial;
    std::unordered_map<const CUVWChannel*, uint64_t> slotOf;
    for (unsigned pos = sources.GetFirst(); pos != kZanNone;)
    {
        const CMapChannelID& source = sources.GetNext(pos);
        CUVWChannel* channel = m_Channels->GetUVWChannelByID(source.m_ChannelID);
        if (!channel || !channel->GetFaceList())
            continue;
        auto [at, added] = byMaterial.emplace(source.m_MaterialID, channel);
        if (!added && at->second != channel)
            return nullptr; // one material cannot read two channels
        slotOf.emplace(channel, uint64_t(slotOf.size()));
    }

    const C3DFaceList& faces = *m_FaceList;
    const unsigned faceNbr = unsigned(faces.GetSize());
    // Each face's source channel, and the texture points in the order they are first used.
    std::vector<CUVWChannel*> faceSource(faceNbr, nullptr);
    std::unordered_map<uint64_t, int> copied;
    std::vector<std::pair<const CUVWChannel*, int>> order;
    for (unsigned f = 0; f < faceNbr; ++f)
    {
        auto found = byMaterial.find(faces.GetFaceMaterial(f));
        if (found == byMaterial.end() || (faces.GetFaceFlags(f) & kUnusable))
            continue;
        CUVWChannel* channel = found->second;
        faceSource[f] = channel;
        if (!CarriesValues(*channel->GetFaceList(), *channel->GetPointList(), faces, f))
            continue;
        int n = 0;
        const int* items = channel->GetFaceList()->GetIndexes(f, n);
        for (int k = 0; k < n; ++k)
        {
            const uint64_t key = (slotOf[channel] << 32) | uint32_t(items[k]);
            if (copied.emplace(key, int(order.size())).second)
                order.emplace_back(channel, items[k]);
        }
    }

    CChannel* created = CChannel::Create(_ChannelUVW);
    auto* global = static_cast<CUVWChannel*>(created);
    if (!global)
        return nullptr;
    CPointList& values = *global->GetPointList();
    CFaceList& globalFaces = *global->GetFaceList();
    if (!zan_detail::ShapeLikeExcluded(globalFaces, faces) || !values.SetSize(int(order.size())))
    {
        global->Delete();
        return nullptr;
    }
    for (size_t i = 0; i < order.size(); ++i)
        values.CopyPoint(int(i), order[i].second, *order[i].first->GetPointList());
    std::vector<int> corners;
    for (unsigned f = 0; f < faceNbr; ++f)
    {
        const CUVWChannel* channel = faceSource[f];
        if (!channel || f >= unsigned(channel->GetFaceList()->GetSize()))
            continue;
        const CFaceList& from = *channel->GetFaceList();
        const unsigned flags = from.GetFaceFlags(f);
        if (CarriesValues(from, *channel->GetPointList(), faces, f))
        {
            int n = 0;
            const int* items = from.GetIndexes(f, n);
            corners.resize(size_t(n));
            for (int k = 0; k < n; ++k)
                corners[size_t(k)] = copied[(slotOf[channel] << 32) | uint32_t(items[k])];
            globalFaces.SetFaceIndexes(f, corners.data(), unsigned(n));
        }
        else if (!(flags & kUnusable))
            continue; // a face the channel cannot describe keeps _FaceExcluded
        globalFaces.SetFaceFlags(f, globalFaces.GetFaceFlags(f), false);
        globalFaces.SetFaceFlags(f, flags, true);
    }
    return global;
}

unsigned C3DGeomObject::GlobalizeChannels(C3DScene* scene, bool removeMerged)
{
    if (IsEmptyObject() || !m_FaceList || m_FaceList->GetSize() == 0 || !m_Channels)
        return kZanNone;
    CUVWChannel* current = m_GlobalUVWChannel == kZanNone
                               ? nullptr
                               : m_Channels->GetUVWChannelByID(m_GlobalUVWChannel);
    if (current && !current->IsOneFlagSet(_ChannelInvalid))
        return m_GlobalUVWChannel;
    if (!scene)
        return kZanNone;
    CHashTable<CMapChannelID> sources;
    for (unsigned materialID : UsedMaterials(*this))
    {
        const C3DMaterial* material = scene->GetMaterialTable().GetMaterial(materialID);
        const CMaterialMap* map = material ? material->GetDiffuseMaps() : nullptr;
        if (map && map->GetChannelID() != kZanNone &&
            m_Channels->GetUVWChannelByID(map->GetChannelID()))
            sources.Insert(CMapChannelID(map->GetChannelID(), materialID));
    }
    if (sources.IsEmpty())
        return kZanNone;
    CChannel* global = MakeGlobalChannel(sources, _ChannelUVW);
    if (!global)
        return kZanNone;
    if (current)
        m_Channels->RemoveChannel(current);
    if (removeMerged)
        for (unsigned pos = sources.GetFirst(); pos != kZanNone;)
            m_Channels->RemoveChannelByID(sources.GetNext(pos).m_ChannelID, _ChannelUVW);
    const unsigned id = global->GetChannelID();
    m_Channels->AddChannel(global);
    SetGlobalUVWChannel(id);
    return id;
}

bool C3DGeomObject::ChangeChannelID(C3DScene* scene, CHashMap<CChannelInfo, CChannelInfo>& renumber)
{
    bool changed = false;
    CChannelInfo found;
    if (m_GlobalUVWChannel != kZanNone &&
        renumber.Find(CChannelInfo(m_GlobalUVWChannel, _ChannelUVW), found))
    {
        changed |= found.m_ChannelID != m_GlobalUVWChannel;
        m_GlobalUVWChannel = found.m_ChannelID;
    }
    if (renumber.Find(CChannelInfo(m_GlobalVCChannel, _ChannelVC), found))
    {
        changed |= found.m_ChannelID != m_GlobalVCChannel || m_GlobalVCFactor != 1.0f;
        m_GlobalVCChannel = found.m_ChannelID;
        m_GlobalVCFactor = 1.0f;
    }
    if (changed)
        Invalidate(_InvalidateDisplay, true);
    ChangeMaterialsChannelID(scene, renumber);
    return changed;
}

unsigned C3DGeomObject::ChangeMaterialsChannelID(C3DScene* scene,
                                                 CHashMap<CChannelInfo, CChannelInfo>& renumber)
{
    if (!scene || renumber.IsEmpty())
        return 0;
    auto lookup = [&renumber](unsigned id, unsigned type, unsigned& newId)
    {
        CChannelInfo to;
        if (!renumber.Find(CChannelInfo(id, _Channel3DType(type)), to))
            return false;
        newId = to.m_ChannelID;
        return true;
    };
    unsigned asked = 0;
    for (unsigned materialID : UsedMaterials(*this))
        if (C3DMaterial* material = scene->GetMaterialTable().GetMaterial(materialID))
        {
            material->ChangeChannelID(lookup);
            ++asked;
        }
    return asked;
}

std::unique_ptr<int[]> GetUVVertexFromUVFace(C3DGeomObject* object, unsigned channelID, int& count)
{
    count = 0;
    const CUVWChannel* channel = object && object->GetChannels()
                                     ? object->GetChannels()->GetUVWChannelByID(channelID)
                                     : nullptr;
    const C3DFaceList* faces = object ? object->GetFaceList() : nullptr;
    const int pointNbr = object ? object->GetPointNbr() : 0;
    if (!channel || !channel->GetFaceList() || !channel->GetPointList() || !faces || pointNbr <= 0)
        return nullptr;
    const CFaceList& channelFaces = *channel->GetFaceList();
    auto uvOf = std::make_unique<int[]>(size_t(pointNbr));
    std::fill(uvOf.get(), uvOf.get() + pointNbr, -1);
    bool any = false;
    faces->ForEachFace(
        [&](unsigned f, const int* items, unsigned n)
        {
            if ((faces->GetFaceFlags(f) & _FaceInvalid) ||
                !CarriesValues(channelFaces, *channel->GetPointList(), *faces, f))
                return;
            int uvCount = 0;
            const int* uv = channelFaces.GetIndexes(f, uvCount);
            for (unsigned k = 0; k < n; ++k)
                if (items[k] >= 0 && items[k] < pointNbr)
                    uvOf[size_t(items[k])] = uv[k];
            any = true;
        });
    if (!any)
        return nullptr;
    count = pointNbr;
    return uvOf;
}
