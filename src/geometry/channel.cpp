// Channels: the attribute lists of a mesh that follow its faces corner by corner (or its
// points one by one), and the array that holds the channels of one object.
//
// The connectivity data of a channel is a compressed adjacency: for every geometry point an
// offset into one array of corners (face, position, channel point), built in two passes
// (count, then fill) from the geometry faces and the channel faces read side by side. Channel
// welding reads it to find, around each geometry point, the distinct channel values that the
// corners use, and merges those that the channel's Compare finds equal.
#include <3dzan/geometry/channel.h>

#include <3dzan/foundation/exceptions.h>
#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace
{
constexpr unsigned kSkippedFaces = _FaceInvalid | _FaceExcluded;
// Bytes a channel's archive holds at least after its class record: type, flags, id and the
// two list markers, and the custom data's count.
constexpr uint64_t kMinChannelBytes = 4 * 5 + 4;

std::atomic<unsigned> g_NextID{CChannel::kFirstID};
std::atomic<unsigned> g_Created{0};
std::atomic<unsigned> g_Live{0};

// Loading a channel id moves the counter past it; a counter pushed to the end of the range
// starts again at the first id rather than handing out 0xFFFFFFFF.
void AdvancePast(unsigned id)
{
    unsigned current = g_NextID.load();
    while (id >= current)
    {
        if (id >= kZanNone - 1)
        {
            g_NextID.store(CChannel::kFirstID);
            return;
        }
        if (g_NextID.compare_exchange_weak(current, id + 1))
            return;
    }
}

[[noreturn]] void BadArchive(const std::string& what)
{
    throw CXArchiveException(CXArchiveException::_BadValue, what);
}

template <class T> struct CReleaser
{
    void operator()(T* item) const
    {
        if (item)
            item->Delete();
    }
};
template <class T> using CHeld = std::unique_ptr<T, CReleaser<T>>;

template <class T> T* NewOf(const CXRuntimeClass* cls)
{
    if (!cls)
        return nullptr;
    CXObject* object = cls->CreateObject();
    T* typed = dynamic_cast<T*>(object);
    if (!typed)
        delete object;
    return typed;
}

bool IsValidFace(const CFaceList& list, unsigned face)
{
    return !(list.GetFaceFlags(face) & kSkippedFaces);
}
} // namespace

// ================================================================ CChannel

struct CChannel::CGraph
{
    std::vector<unsigned> m_Offsets; ///< one more than the geometry points
    std::vector<_ChannelConnectionInfo> m_Corners;
};

ZAN_IMPLEMENT_RUNTIME_CLASS(CChannel, CXObject)

CChannel::CChannel(unsigned type, unsigned id)
    : m_ID(id == kZanNone ? CreateID() : id), m_Type(_Channel3DType(type))
{
    ++g_Created;
    ++g_Live;
}

CChannel::~CChannel()
{
    AdoptLists(nullptr, nullptr);
    --g_Live;
}

CChannel* CChannel::Create(_Channel3DType type, unsigned id)
{
    switch (type)
    {
    case _ChannelUVW:
        return new CUVWChannel(id);
    case _ChannelVC:
        return new CVCChannel(id);
    case _ChannelWeight:
        return new CWeightChannel(id, true);
    case _ChannelPointNormal:
        return new CPointNormalChannel(id);
    case _ChannelFaceNormal:
        return new CFaceNormalChannel(id);
    case _ChannelSpecNormal:
        return new CSpecNormalChannel(id);
    default:
        return nullptr;
    }
}

unsigned CChannel::CreateID()
{
    unsigned id = g_NextID.load();
    for (;;)
    {
        unsigned next = id + 1 >= kZanNone ? kFirstID : id + 1;
        if (g_NextID.compare_exchange_weak(id, next))
            return id;
    }
}

unsigned CChannel::GetNextID()
{
    return g_NextID.load();
}

unsigned CChannel::GetCreatedCount()
{
    return g_Created.load();
}

unsigned CChannel::GetLiveCount()
{
    return g_Live.load();
}

CXTString CChannel::GetTypeString() const
{
    return GetTypeString(m_Type);
}

CXTString CChannel::GetTypeString(unsigned type)
{
    unsigned id = 0;
    const char* fallback = "";
    switch (type)
    {
    case _ChannelFaceNormal:
        id = 9351;
        fallback = "Faces";
        break;
    case _ChannelPointNormal:
        id = 9352;
        fallback = "Points";
        break;
    case _ChannelSpecNormal:
        id = 9353;
        fallback = "Normals";
        break;
    case _ChannelUVW:
        id = 9354;
        break;
    case _ChannelVC:
        id = 9355;
        break;
    case _ChannelWeight:
        id = 9356;
        fallback = "Weight";
        break;
    default:
        return CXTString();
    }
    CXTString text;
    if (!text.LoadStringW(id))
        text = fallback;
    return text;
}

void CChannel::SetFlag(_CHANNEL_PROPERTIES flag, bool set)
{
    if (set)
        m_Flags |= flag;
    else
        m_Flags &= ~unsigned(flag);
}

void CChannel::MarkModified()
{
    if (m_Flags & _ChannelTracked)
        m_Flags |= _ChannelModified;
}

// ---------------------------------------------------------------- lists

const CXRuntimeClass* CChannel::GetPointListClass() const
{
    return nullptr;
}

const CXRuntimeClass* CChannel::GetFaceListClass() const
{
    return nullptr;
}

CPointList* CChannel::NewPointList() const
{
    return nullptr;
}

CFaceList* CChannel::NewFaceList() const
{
    return NewOf<CFaceList>(GetFaceListClass());
}

void CChannel::AdoptLists(CPointList* points, CFaceList* faces)
{
    DeleteGraph();
    if (m_PointList && m_PointList != points)
        m_PointList->Delete();
    if (m_FaceList && m_FaceList != faces)
        m_FaceList->Delete();
    m_PointList = points;
    m_FaceList = faces;
}

int* CChannel::GetWritableIndexes(CFaceList& list, unsigned face, unsigned& count)
{
    return list.m_Faces.GetItems(face, count);
}

CFaceStorage& CChannel::GetWritableStorage(CFaceList& list)
{
    return list.m_Faces;
}

bool CChannel::SetPointList(_Channel3DType type, CPointList* list, bool deleteOld)
{
    if (type != m_Type)
        return false;
    const CXRuntimeClass* cls = GetPointListClass();
    if (list && cls && !list->IsKindOf(cls))
        return false;
    if (list == m_PointList)
        return true;
    DeleteGraph();
    if (m_PointList && deleteOld)
        m_PointList->Delete();
    m_PointList = list;
    return true;
}

bool CChannel::SetFaceList(_Channel3DType type, CFaceList* list, bool deleteOld)
{
    if (type != m_Type)
        return false;
    const CXRuntimeClass* cls = GetFaceListClass();
    if (list && cls && !list->IsKindOf(cls))
        return false;
    if (list == m_FaceList)
        return true;
    DeleteGraph();
    if (m_FaceList && deleteOld)
        m_FaceList->Delete();
    m_FaceList = list;
    return true;
}

int CChannel::GetChannelPointIndex(int face, int corner) const
{
    if (!m_FaceList || face < 0 || corner < 0)
        return -1;
    int count;
    const int* indices = m_FaceList->GetIndexes(unsigned(face), count);
    return indices && corner < count ? indices[corner] : -1;
}

void CChannel::FreeExtra()
{
    if (m_PointList)
        m_PointList->FreeExtra();
    if (m_FaceList)
        m_FaceList->FreeExtra();
}

// ---------------------------------------------------------------- copies

CChannel* CChannel::Copy(unsigned flags) const
{
    CHeld<CChannel> copy(Duplicate((flags & _ChannelCopyKeepID) != 0));
    if (!copy)
        return nullptr;
    bool structureOnly = (flags & _ChannelCopyStructure) || (m_Flags & _ChannelInvalid);
    try
    {
        copy->m_CustomData = m_CustomData;
        // The copy takes this channel's shape: the lists it has, and only those.
        CPointList* points = m_PointList ? copy->m_PointList : nullptr;
        CFaceList* faces = m_FaceList ? copy->m_FaceList : nullptr;
        if (m_PointList && !points)
            points = copy->NewPointList();
        if (m_FaceList && !faces)
            faces = copy->NewFaceList();
        copy->AdoptLists(points, faces);
        if (structureOnly)
        {
            if (copy->m_PointList && m_PointList)
                copy->m_PointList->Inherit(*m_PointList);
            if (copy->m_FaceList && m_FaceList)
                copy->m_FaceList->Inherit(*m_FaceList);
        }
        else
        {
            if (copy->m_PointList && m_PointList)
                *copy->m_PointList = *m_PointList;
            if (copy->m_FaceList && m_FaceList)
                *copy->m_FaceList = *m_FaceList;
        }
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
    copy->m_Flags = m_Flags;
    if (structureOnly)
        copy->MarkModified();
    return copy.release();
}

void CChannel::Inherit(const CChannel& other)
{
    m_Flags = other.m_Flags;
    if (m_PointList && other.m_PointList)
        m_PointList->Inherit(*other.m_PointList);
    if (m_FaceList && other.m_FaceList)
        m_FaceList->Inherit(*other.m_FaceList);
}

// ---------------------------------------------------------------- connectivity

void CChannel::DeleteGraph()
{
    m_Graph.reset();
}

bool CChannel::InitGraph(const CGeomInfo* geom)
{
    DeleteGraph();
    if (!m_PointList || !geom)
        return false;
    const CPointList* geomPoints = geom->GetSrcPointList();
    const CFaceList* geomFaces = geom->GetSrcFaceList();
    unsigned channelPoints = unsigned(m_PointList->GetSize());
    try
    {
        auto graph = std::make_unique<CGraph>();
        if (!m_FaceList)
        {
            if (!geomPoints)
                return false;
            unsigned n = unsigned(geomPoints->GetSize());
            graph->m_Offsets.resize(size_t(n) + 1);
            for (unsigned p = 0; p < n; ++p)
            {
                graph->m_Offsets[p] = unsigned(graph->m_Corners.size());
                if (p < channelPoints)
                    graph->m_Corners.push_back({-1, -1, int(p)});
            }
            graph->m_Offsets[n] = unsigned(graph->m_Corners.size());
            m_Graph = std::move(graph);
            return true;
        }
        if (!geomFaces)
            return false;

        unsigned faces = unsigned(std::min(geomFaces->GetSize(), m_FaceList->GetSize()));
        unsigned n = 0;
        if (geomPoints)
            n = unsigned(geomPoints->GetSize());
        else
            geomFaces->ForEachFace(
                [&](unsigned, const int* items, unsigned count)
                {
                    for (unsigned k = 0; k < count; ++k)
                        n = std::max(n, unsigned(std::max(items[k], -1) + 1));
                });
        // The corners kept: both faces valid with the same count, both indices in range.
        auto forEachCorner = [&](auto&& visit)
        {
            for (unsigned f = 0; f < faces; ++f)
            {
                if (!IsValidFace(*geomFaces, f) || !IsValidFace(*m_FaceList, f))
                    continue;
                int count, channelCount;
                const int* g = geomFaces->GetIndexes(f, count);
                const int* c = m_FaceList->GetIndexes(f, channelCount);
                if (!g || !c || count != channelCount)
                    continue;
                for (int k = 0; k < count; ++k)
                    if (g[k] >= 0 && unsigned(g[k]) < n && c[k] >= 0 &&
                        unsigned(c[k]) < channelPoints)
                        visit(unsigned(g[k]), _ChannelConnectionInfo{int(f), k, c[k]});
            }
        };
        std::vector<unsigned>& offsets = graph->m_Offsets;
        offsets.assign(size_t(n) + 1, 0);
        forEachCorner([&](unsigned p, const _ChannelConnectionInfo&) { ++offsets[p + 1]; });
        for (unsigned p = 0; p < n; ++p)
            offsets[p + 1] += offsets[p];
        graph->m_Corners.resize(offsets[n]);
        std::vector<unsigned> next(offsets.begin(), offsets.end() - 1);
        forEachCorner([&](unsigned p, const _ChannelConnectionInfo& corner)
                      { graph->m_Corners[next[p]++] = corner; });
        m_Graph = std::move(graph);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

const _ChannelConnectionInfo* CChannel::GetChannelPointsConnectedToPoint(int geomPoint,
                                                                         int& count) const
{
    count = 0;
    if (!m_Graph || geomPoint < 0 || size_t(geomPoint) + 1 >= m_Graph->m_Offsets.size())
        return nullptr;
    unsigned first = m_Graph->m_Offsets[size_t(geomPoint)];
    count = int(m_Graph->m_Offsets[size_t(geomPoint) + 1] - first);
    return count ? m_Graph->m_Corners.data() + first : nullptr;
}

// ---------------------------------------------------------------- virtual operations

bool CChannel::SwapCoordinates(unsigned)
{
    return false;
}

bool CChannel::MatrixTransform(const C4x4TMatrix<float>&)
{
    return false;
}

bool CChannel::CleanRemoveDuplicateIndex() const
{
    return false;
}

bool CChannel::Compare(const CPt*, const CPt*, double) const
{
    return false;
}

bool CChannel::CanBeRecomputed() const
{
    return false;
}

bool CChannel::Clean(const CGeomInfo* geom, CXArray<unsigned int, unsigned int>* faceRemap,
                     CXArray<unsigned int, unsigned int>* pointRemap)
{
    bool changed = false;
    if (m_FaceList)
    {
        unsigned faces = unsigned(m_FaceList->GetSize());
        for (unsigned f = 0; f < faces; ++f)
            if (m_FaceList->GetFaceFlags(f) & _FaceInvalid)
                m_FaceList->SetFaceFlags(f, _FaceExcluded, true);
        bool usable = faceRemap && unsigned(faceRemap->GetSize()) == faces;
        for (unsigned f = 0; f < faces; ++f)
            m_FaceList->SetFaceFlags(f, _FaceInvalid,
                                     usable && faceRemap->GetAt(int(f)) == kZanNone);
        // The channel's own faces only: the geometry's clean already took the repeated corners
        // out of them.
        changed = m_FaceList->Clean(CleanRemoveDuplicateIndex(), nullptr) || changed;
    }
    if (m_PointList)
    {
        CXArray<unsigned int, unsigned int> local;
        if (m_FaceList)
        {
            if (m_PointList->Clean(m_FaceList, &local))
            {
                m_FaceList->UpdateIndex(&local, true);
                changed = true;
            }
        }
        else if (pointRemap && pointRemap->GetSize() == m_PointList->GetSize())
        {
            CPointView<CPt> points = m_PointList->GetPtView();
            for (int p = 0; p < pointRemap->GetSize(); ++p)
                if (pointRemap->GetAt(p) == kZanNone)
                    points[size_t(p)].SetFlag(_PointInvalid, true);
            changed = m_PointList->Clean(nullptr, nullptr) || changed;
        }
    }
    DeleteGraph();
    const CFaceList* geomFaces = geom ? geom->GetSrcFaceList() : nullptr;
    if (geomFaces && m_FaceList && geomFaces->GetSize() != m_FaceList->GetSize())
    {
        m_Flags |= _ChannelInvalid;
        return false;
    }
    if (changed)
        MarkModified();
    return changed;
}

bool CChannel::Weld(const CGeomInfo* geom, double tolerance)
{
    if (!m_PointList || !geom || !geom->GetSrcPointList() ||
        (m_Flags & (_ChannelInvalid | _ChannelNoFaceEdit)))
        return false;
    if (!(tolerance >= 0 && tolerance <= 1))
        tolerance = 0;
    if (!InitGraph(geom))
        return false;
    unsigned n = unsigned(m_PointList->GetSize());
    bool changed = false;
    try
    {
        std::vector<unsigned> remap(n, kZanNone);
        // seenAt[c] is the geometry point at which channel point c was last gathered.
        std::vector<int> seenAt(n, -1);
        std::vector<int> gathered;
        std::vector<char> struck;
        CPointView<const CPt> points = std::as_const(*m_PointList).GetPtView();
        int geomPoints = int(m_Graph->m_Offsets.size()) - 1;
        for (int g = 0; g < geomPoints; ++g)
        {
            int count;
            const _ChannelConnectionInfo* corners = GetChannelPointsConnectedToPoint(g, count);
            gathered.clear();
            for (int k = 0; k < count; ++k)
            {
                int c = corners[k].m_Point;
                if (seenAt[size_t(c)] == g || points[size_t(c)].IsOneFlagSet(0x02 | 0x04))
                    continue;
                seenAt[size_t(c)] = g;
                gathered.push_back(c);
            }
            struck.assign(gathered.size(), 0);
            size_t done = 0;
            for (size_t a = 0; a < gathered.size() && done < gathered.size(); ++a)
            {
                if (struck[a])
                    continue;
                ++done;
                for (size_t b = a + 1; b < gathered.size(); ++b)
                    if (!struck[b] && Compare(&points[size_t(gathered[a])],
                                              &points[size_t(gathered[b])], tolerance))
                    {
                        remap[size_t(gathered[b])] = unsigned(gathered[a]);
                        struck[b] = 1;
                        ++done;
                    }
            }
        }
        if (m_FaceList && n)
        {
            changed = m_FaceList->UpdateIndex(remap.data(), n, true);
            if (changed)
                Clean(geom, nullptr, nullptr);
        }
    }
    catch (const std::bad_alloc&)
    {
        changed = false;
    }
    DeleteGraph();
    return changed;
}

// ---------------------------------------------------------------- archive

void CChannel::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        ar << int(m_Type) << m_Flags << m_ID;
        ar << int(m_FaceList ? 1 : 0);
        if (m_FaceList)
            m_FaceList->Serialize(ar);
        ar << int(m_PointList ? 1 : 0);
        if (m_PointList)
            m_PointList->Serialize(ar);
        m_CustomData.Serialize(ar);
        return;
    }

    int type;
    unsigned flags, id;
    ar >> type >> flags >> id;
    if (unsigned(type) != unsigned(m_Type))
        BadArchive("channel of type " + std::to_string(type) + " read into a channel of type " +
                   std::to_string(unsigned(m_Type)));
    if (id == kZanNone)
        BadArchive("channel without an id");
    unsigned highest = kZanNone; // of the face indices, from the face list's load
    auto readList = [&](auto* created, const char* what)
    {
        using List = std::remove_pointer_t<decltype(created)>;
        CHeld<List> list(created);
        int marker;
        ar >> marker;
        if (marker != 0 && marker != 1)
            BadArchive(std::string("channel ") + what + " marker " + std::to_string(marker));
        if (marker == 0)
            return CHeld<List>();
        if (!list)
            BadArchive(std::string("channel of type ") + std::to_string(type) + " with a " + what);
        if constexpr (std::is_base_of_v<CFaceList, List>)
            list->Load(ar, highest);
        else
            list->Serialize(ar);
        return list;
    };
    CHeld<CFaceList> faces = readList(NewFaceList(), "face list");
    CHeld<CPointList> points = readList(NewPointList(), "point list");
    CCustomData custom;
    custom.Serialize(ar);
    if (faces && points)
    {
        // Indices of the faces in use must name channel points; excluded faces may keep
        // indices that a clean left behind.
        const unsigned limit = unsigned(points->GetSize());
        const unsigned f = faces->FindFaceOutside(limit, highest);
        if (f != kZanNone)
            BadArchive("channel face " + std::to_string(f) + " uses a point outside the " +
                       std::to_string(limit) + " channel points");
    }
    else if (faces && faces->GetSize() && !points)
        BadArchive("channel faces without channel points");

    AdoptLists(points.release(), faces.release());
    m_CustomData.Swap(custom);
    m_ID = id;
    m_Flags = flags;
    MarkModified();
    AdvancePast(id);
}

// ================================================================ typed channels

#define ZAN_IMPLEMENT_CHANNEL_LISTS(ClassName, PointClass, FaceClass)                              \
    const CXRuntimeClass* ClassName::GetPointListClass() const                                     \
    {                                                                                              \
        return ZAN_RUNTIME_CLASS(PointClass);                                                      \
    }                                                                                              \
    const CXRuntimeClass* ClassName::GetFaceListClass() const                                      \
    {                                                                                              \
        return ZAN_RUNTIME_CLASS(FaceClass);                                                       \
    }                                                                                              \
    CPointList* ClassName::NewPointList() const                                                    \
    {                                                                                              \
        return new PointClass;                                                                     \
    }

ZAN_IMPLEMENT_DYNCREATE(CUVWChannel, CChannel)
ZAN_IMPLEMENT_CHANNEL_LISTS(CUVWChannel, CUVWPointList, CUVWFaceList)

CUVWChannel::CUVWChannel(unsigned id) : CChannel(_ChannelUVW, id)
{
    AdoptLists(new CUVWPointList, new CUVWFaceList);
}

CUVWChannel::~CUVWChannel() = default;

CUVWPointList* CUVWChannel::GetUVWPointList() const
{
    return dynamic_cast<CUVWPointList*>(GetPointList());
}

CUVWFaceList* CUVWChannel::GetUVWFaceList() const
{
    return dynamic_cast<CUVWFaceList*>(GetFaceList());
}

CChannel* CUVWChannel::Duplicate(bool keepID) const
{
    return new CUVWChannel(keepID ? GetChannelID() : kZanNone);
}

bool CUVWChannel::Compare(const CPt* a, const CPt* b, double tolerance) const
{
    auto* p = dynamic_cast<const CUVWPoint*>(a);
    auto* q = dynamic_cast<const CUVWPoint*>(b);
    if (!p || !q)
        return false;
    if (tolerance == 0)
        return p->m_U == q->m_U && p->m_V == q->m_V && p->m_W == q->m_W;
    float du = p->m_U - q->m_U, dv = p->m_V - q->m_V, dw = p->m_W - q->m_W;
    float sum = du * du + dv * dv + dw * dw;
    return double(sum) <= tolerance * tolerance;
}

ZAN_IMPLEMENT_DYNCREATE(CVCChannel, CChannel)
ZAN_IMPLEMENT_CHANNEL_LISTS(CVCChannel, CVCPointList, CVCFaceList)

CVCChannel::CVCChannel(unsigned id) : CChannel(_ChannelVC, id)
{
    AdoptLists(new CVCPointList, new CVCFaceList);
}

CVCChannel::~CVCChannel() = default;

CVCPointList* CVCChannel::GetVCPointList() const
{
    return dynamic_cast<CVCPointList*>(GetPointList());
}

CVCFaceList* CVCChannel::GetVCFaceList() const
{
    return dynamic_cast<CVCFaceList*>(GetFaceList());
}

CChannel* CVCChannel::Duplicate(bool keepID) const
{
    return new CVCChannel(keepID ? GetChannelID() : kZanNone);
}

bool CVCChannel::Compare(const CPt* a, const CPt* b, double tolerance) const
{
    auto* p = dynamic_cast<const CVCPoint*>(a);
    auto* q = dynamic_cast<const CVCPoint*>(b);
    if (!p || !q)
        return false;
    double steps = tolerance * 255;
    int t = steps >= 0 && steps < 256 ? int(steps) : (steps >= 256 ? 256 : 0);
    const CRGBColor& x = p->GetColor();
    const CRGBColor& y = q->GetColor();
    if (t == 0)
        return x == y;
    if (p == q)
        return true;
    auto near = [t](uint8_t u, uint8_t v) { return std::abs(int(u) - int(v)) <= t; };
    return near(x.m_Red, y.m_Red) && near(x.m_Green, y.m_Green) && near(x.m_Blue, y.m_Blue);
}

ZAN_IMPLEMENT_DYNCREATE(CWeightChannel, CChannel)
ZAN_IMPLEMENT_CHANNEL_LISTS(CWeightChannel, CWeightPointList, CWeightFaceList)

CWeightChannel::CWeightChannel(unsigned id, bool perPoint) : CChannel(_ChannelWeight, id)
{
    AdoptLists(new CWeightPointList, perPoint ? nullptr : new CWeightFaceList);
}

CWeightChannel::~CWeightChannel() = default;

CWeightPointList* CWeightChannel::GetWeightPointList() const
{
    return dynamic_cast<CWeightPointList*>(GetPointList());
}

CWeightFaceList* CWeightChannel::GetWeightFaceList() const
{
    return dynamic_cast<CWeightFaceList*>(GetFaceList());
}

CChannel* CWeightChannel::Duplicate(bool keepID) const
{
    return new CWeightChannel(keepID ? GetChannelID() : kZanNone, IsPerPoint());
}

bool CWeightChannel::Compare(const CPt* a, const CPt* b, double tolerance) const
{
    auto* p = dynamic_cast<const CWeightPoint*>(a);
    auto* q = dynamic_cast<const CWeightPoint*>(b);
    return p && q && std::fabs(double(p->m_Weight) - double(q->m_Weight)) <= tolerance;
}

void CWeightChannel::GetLimits(float& min, float& max) const
{
    min = max = 0;
    const CWeightPointList* list = GetWeightPointList();
    if (!list)
        return;
    bool first = true;
    CPointView<const CWeightPoint> points = list->GetPointView();
    for (size_t i = 0; i < points.GetCount(); ++i)
    {
        float w = points[i].m_Weight;
        if (std::isnan(w))
            continue;
        if (first)
            min = max = w;
        first = false;
        min = std::min(min, w);
        max = std::max(max, w);
    }
}

bool CWeightChannel::Normalize(bool invert)
{
    CWeightPointList* list = GetWeightPointList();
    if (!list || list->GetSize() == 0)
        return false;
    float min, max;
    GetLimits(min, max);
    double range = double(max) - double(min);
    double divisor = range < 1e-15 ? 1.0 : range;
    CPointView<CWeightPoint> points = list->GetPointView();
    for (size_t i = 0; i < points.GetCount(); ++i)
    {
        double w = (double(points[i].m_Weight) - min) / divisor;
        points[i].m_Weight = float(invert ? 1.0 - w : w);
    }
    MarkModified();
    return true;
}

CWeightPointList* CWeightChannel::GetWeightPointOnlyList(const CGeomInfo* geom) const
{
    const CWeightPointList* weights = GetWeightPointList();
    const CPointList* geomPoints = geom ? geom->GetSrcPointList() : nullptr;
    if (!weights || !geomPoints || (!IsPerPoint() && !geom->GetSrcFaceList()))
        return nullptr;
    unsigned n = unsigned(geomPoints->GetSize());
    CHeld<CWeightPointList> result(new (std::nothrow) CWeightPointList);
    if (!result || !result->SetSize(int(n), false))
        return nullptr;
    CPointView<CWeightPoint> out = result->GetPointView();
    CPointView<const CWeightPoint> in = weights->GetPointView();
    if (IsPerPoint())
    {
        for (unsigned p = 0; p < n && p < in.GetCount(); ++p)
            out[p].m_Weight = in[p].m_Weight;
        return result.release();
    }
    std::vector<double> sums(n, 0.0);
    std::vector<unsigned> counts(n, 0);
    const CFaceList& geomFaces = *geom->GetSrcFaceList();
    const CFaceList& faces = *GetFaceList();
    unsigned common = unsigned(std::min(geomFaces.GetSize(), faces.GetSize()));
    for (unsigned f = 0; f < common; ++f)
    {
        if (!IsValidFace(geomFaces, f) || !IsValidFace(faces, f))
            continue;
        int count, channelCount;
        const int* g = geomFaces.GetIndexes(f, count);
        const int* c = faces.GetIndexes(f, channelCount);
        for (int k = 0; g && c && k < std::min(count, channelCount); ++k)
            if (unsigned(g[k]) < n && unsigned(c[k]) < in.GetCount())
            {
                sums[unsigned(g[k])] += in[unsigned(c[k])].m_Weight;
                ++counts[unsigned(g[k])];
            }
    }
    for (unsigned p = 0; p < n; ++p)
        out[p].m_Weight = counts[p] ? float(sums[p] / counts[p]) : 0.0f;
    return result.release();
}

#undef ZAN_IMPLEMENT_CHANNEL_LISTS

// ================================================================ CDependentChannels

ZAN_IMPLEMENT_DYNCREATE(CDependentChannels, CXObject)

CDependentChannels::CDependentChannels(const CDependentChannels& src)
    : CXObject(src), CInstanciatedObject(src), Base()
{
    CopyChannels(src, _ChannelAll, _ChannelCopyShare);
}

CDependentChannels& CDependentChannels::operator=(const CDependentChannels& src)
{
    if (this != &src)
        CopyChannels(src, _ChannelAll, _ChannelCopyShare);
    return *this;
}

CDependentChannels::~CDependentChannels()
{
    RemoveAll();
}

CDependentChannels* CDependentChannels::Create()
{
    return new CDependentChannels;
}

CChannel* CDependentChannels::GetAt(int index) const
{
    return index >= 0 && index < GetSize() ? Base::GetAt(index) : nullptr;
}

unsigned CDependentChannels::AddChannel(CChannel* channel)
{
    if (!channel)
        return kZanNone;
    return unsigned(Add(channel));
}

CChannel* CDependentChannels::GetChannelByID(unsigned id, _Channel3DType type) const
{
    for (CChannel* channel : *this)
        if (channel->GetChannelID() == id && (type == _ChannelNone || channel->GetType() == type))
            return channel;
    return nullptr;
}

CChannel* CDependentChannels::GetChannelByID(unsigned id, CFaceList*& faces, CPointList*& points,
                                             _Channel3DType type) const
{
    CChannel* channel = GetChannelByID(id, type);
    faces = channel ? channel->GetFaceList() : nullptr;
    points = channel ? channel->GetPointList() : nullptr;
    return channel;
}

CUVWChannel* CDependentChannels::GetUVWChannelByID(unsigned id) const
{
    return dynamic_cast<CUVWChannel*>(GetChannelByID(id, _ChannelUVW));
}

CUVWChannel* CDependentChannels::GetUVWChannelByID(unsigned id, CUVWFaceList*& faces,
                                                   CUVWPointList*& points) const
{
    CUVWChannel* channel = GetUVWChannelByID(id);
    faces = channel ? channel->GetUVWFaceList() : nullptr;
    points = channel ? channel->GetUVWPointList() : nullptr;
    return channel;
}

CVCChannel* CDependentChannels::GetVCChannelByID(unsigned id) const
{
    return dynamic_cast<CVCChannel*>(GetChannelByID(id, _ChannelVC));
}

CVCChannel* CDependentChannels::GetVCChannelByID(unsigned id, CVCFaceList*& faces,
                                                 CVCPointList*& points) const
{
    CVCChannel* channel = GetVCChannelByID(id);
    faces = channel ? channel->GetVCFaceList() : nullptr;
    points = channel ? channel->GetVCPointList() : nullptr;
    return channel;
}

CChannel* CDependentChannels::GetChannelByIndex(int index, unsigned typeMask,
                                                bool skipInvalid) const
{
    if (typeMask == 0)
        return GetAt(index);
    if (index < 0)
        return nullptr;
    int rank = 0;
    for (CChannel* channel : *this)
    {
        if (!(channel->GetType() & typeMask) ||
            (skipInvalid && channel->IsFlagSet(_ChannelInvalid)))
            continue;
        if (rank++ == index)
            return channel;
    }
    return nullptr;
}

CChannel* CDependentChannels::GetChannelByIndex(int index, CFaceList*& faces, CPointList*& points,
                                                _Channel3DType type) const
{
    CChannel* channel = GetChannelByIndex(index, unsigned(type), false);
    faces = channel ? channel->GetFaceList() : nullptr;
    points = channel ? channel->GetPointList() : nullptr;
    return channel;
}

CUVWChannel* CDependentChannels::GetUVWChannelByIndex(int index, bool skipInvalid) const
{
    return dynamic_cast<CUVWChannel*>(GetChannelByIndex(index, _ChannelUVW, skipInvalid));
}

CVCChannel* CDependentChannels::GetVCChannelByIndex(int index, bool skipInvalid) const
{
    return dynamic_cast<CVCChannel*>(GetChannelByIndex(index, _ChannelVC, skipInvalid));
}

unsigned CDependentChannels::GetChannelIndex(unsigned id, _Channel3DType type,
                                             bool skipInvalid) const
{
    unsigned rank = 0;
    for (CChannel* channel : *this)
    {
        if (channel->GetType() != type || (skipInvalid && channel->IsFlagSet(_ChannelInvalid)))
            continue;
        if (channel->GetChannelID() == id)
            return rank;
        ++rank;
    }
    return kZanNone;
}

_Channel3DType CDependentChannels::GetChannelType(int index) const
{
    CChannel* channel = GetAt(index);
    return channel ? channel->GetType() : _ChannelNone;
}

unsigned CDependentChannels::GetChannelsNumber(unsigned typeMask, bool skipInvalid) const
{
    unsigned n = 0;
    for (CChannel* channel : *this)
        n += (channel->GetType() & typeMask) &&
             !(skipInvalid && channel->IsFlagSet(_ChannelInvalid));
    return n;
}

unsigned CDependentChannels::GetChannels(unsigned typeMask,
                                         CXArray<unsigned int, unsigned int>& indices,
                                         bool skipInvalid) const
{
    indices.RemoveAll();
    for (int i = 0; i < GetSize(); ++i)
    {
        CChannel* channel = Base::GetAt(i);
        if ((channel->GetType() & typeMask) &&
            !(skipInvalid && channel->IsFlagSet(_ChannelInvalid)))
            indices.Add(unsigned(i));
    }
    return unsigned(indices.GetSize());
}

CChannel* CDependentChannels::GetPointNormalChannel() const
{
    return GetChannelByIndex(0, _ChannelPointNormal);
}

CChannel* CDependentChannels::GetFaceNormalChannel() const
{
    return GetChannelByIndex(0, _ChannelFaceNormal);
}

CChannel* CDependentChannels::GetSpecNormalChannel() const
{
    return GetChannelByIndex(0, _ChannelSpecNormal);
}

CChannel* CDependentChannels::GetSpecNormalChannel(CNormalFaceList*& faces,
                                                   C3DVectorList*& points) const
{
    CChannel* channel = GetSpecNormalChannel();
    faces = channel ? dynamic_cast<CNormalFaceList*>(channel->GetFaceList()) : nullptr;
    points = channel ? dynamic_cast<C3DVectorList*>(channel->GetPointList()) : nullptr;
    return channel;
}

void CDependentChannels::ReleaseAt(int index)
{
    CChannel* channel = Base::GetAt(index);
    RemoveAt(index);
    channel->Delete();
}

bool CDependentChannels::RemoveChannel(CChannel* channel)
{
    for (int i = 0; i < GetSize(); ++i)
        if (Base::GetAt(i) == channel)
        {
            ReleaseAt(i);
            return true;
        }
    return false;
}

bool CDependentChannels::RemoveChannelByID(unsigned id, _Channel3DType type)
{
    CChannel* channel = GetChannelByID(id, type);
    return channel && RemoveChannel(channel);
}

bool CDependentChannels::RemoveChannelByIndex(int index, unsigned typeMask)
{
    CChannel* channel = GetChannelByIndex(index, typeMask);
    return channel && RemoveChannel(channel);
}

unsigned CDependentChannels::RemoveChannelsByType(unsigned typeMask)
{
    unsigned removed = 0;
    for (int i = GetSize() - 1; i >= 0; --i)
        if (Base::GetAt(i)->GetType() & typeMask)
        {
            ReleaseAt(i);
            ++removed;
        }
    return removed;
}

unsigned CDependentChannels::RemoveChannelsByFlag(_CHANNEL_PROPERTIES flag, unsigned typeMask,
                                                  bool state)
{
    unsigned removed = 0;
    for (int i = GetSize() - 1; i >= 0; --i)
    {
        CChannel* channel = Base::GetAt(i);
        if ((channel->GetType() & typeMask) && channel->IsFlagSet(flag) == state)
        {
            ReleaseAt(i);
            ++removed;
        }
    }
    return removed;
}

void CDependentChannels::RemoveAll()
{
    while (GetSize() > 0)
        ReleaseAt(GetSize() - 1);
    Base::Release();
}

void CDependentChannels::SetFlag(unsigned typeMask, _CHANNEL_PROPERTIES flag, bool set)
{
    for (CChannel* channel : *this)
        if (channel->GetType() & typeMask)
            channel->SetFlag(flag, set);
}

bool CDependentChannels::InvalidateChannels(unsigned typeMask)
{
    bool any = false;
    for (CChannel* channel : *this)
        if ((channel->GetType() & typeMask) && channel->IsFlagSet(_ChannelTracked))
        {
            channel->SetFlag(_ChannelModified, true);
            any = true;
        }
    return any;
}

unsigned CDependentChannels::CopyChannels(const CDependentChannels& src, unsigned typeMask,
                                          unsigned flags,
                                          CXArray<unsigned int, unsigned int>* srcIndices)
{
    // Take the source's channels first: src may be this array, which is emptied below.
    std::vector<std::pair<CHeld<CChannel>, unsigned>> taken;
    for (int i = 0; typeMask && i < src.GetSize(); ++i)
    {
        CChannel* channel = src.Base::GetAt(i);
        if (!(channel->GetType() & typeMask) ||
            ((flags & _ChannelCopySkipInvalid) && channel->IsFlagSet(_ChannelInvalid)) ||
            ((flags & _ChannelCopySkipNoFaceEdit) && channel->IsFlagSet(_ChannelNoFaceEdit)))
            continue;
        CChannel* copy = channel;
        if (flags & _ChannelCopyShare)
            channel->AddRef();
        else
            copy = channel->Copy(flags);
        if (copy)
            taken.emplace_back(CHeld<CChannel>(copy), unsigned(i));
    }
    if (!(flags & _ChannelCopyAppend))
        RemoveAll();
    for (auto& [channel, index] : taken)
    {
        AddChannel(channel.release());
        if (srcIndices)
            srcIndices->Add(index);
    }
    return unsigned(taken.size());
}

unsigned CDependentChannels::CleanChannels(const CGeomInfo* geom,
                                           CXArray<unsigned int, unsigned int>* faceRemap,
                                           CXArray<unsigned int, unsigned int>* pointRemap)
{
    unsigned changed = 0;
    for (CChannel* channel : *this)
        changed += channel->Clean(geom, faceRemap, pointRemap);
    return changed;
}

unsigned CDependentChannels::MatrixTransform(const C4x4TMatrix<float>& matrix, unsigned typeMask)
{
    unsigned n = 0;
    for (CChannel* channel : *this)
        if (channel->GetType() & typeMask)
            n += channel->MatrixTransform(matrix);
    return n;
}

unsigned CDependentChannels::SwapCoordinates(unsigned typeMask, unsigned swapCode)
{
    unsigned n = 0;
    for (CChannel* channel : *this)
        if (channel->GetType() & typeMask)
            n += channel->SwapCoordinates(swapCode);
    return n;
}

unsigned CDependentChannels::Weld(const CGeomInfo* geom, double tolerance, unsigned typeMask)
{
    unsigned n = 0;
    for (CChannel* channel : *this)
        if (channel->GetType() & typeMask)
            n += channel->Weld(geom, tolerance);
    return n;
}

void CDependentChannels::FreeExtra()
{
    for (CChannel* channel : *this)
        channel->FreeExtra();
}

void CDependentChannels::Serialize(CXArchive& ar)
{
    CXArchive::CDepthGuard depth(ar);
    if (ar.IsStoring())
    {
        uint64_t stored = 0;
        for (CChannel* channel : *this)
            stored += !channel->CanBeRecomputed();
        ar.WriteCount(stored);
        for (CChannel* channel : *this)
            if (!channel->CanBeRecomputed())
            {
                ar.WriteClass(channel->GetRuntimeClassDescriptor());
                channel->Serialize(ar);
            }
        return;
    }

    // A class record is at least its 4-byte length and one character.
    uint64_t count = ar.ReadCount(5 + kMinChannelBytes);
    std::vector<CHeld<CChannel>> loaded;
    loaded.reserve(size_t(count));
    for (uint64_t i = 0; i < count; ++i)
    {
        const CXRuntimeClass* cls = ar.ReadClass(ZAN_RUNTIME_CLASS(CChannel));
        CHeld<CChannel> channel(NewOf<CChannel>(cls));
        if (!channel)
            throw CXArchiveException(CXArchiveException::_BadClass,
                                     std::string("channel class ") +
                                         (cls ? cls->m_ClassName : "(none)") +
                                         " cannot be created");
        channel->Serialize(ar);
        loaded.push_back(std::move(channel));
    }
    RemoveAll();
    Reserve(int(loaded.size()));
    for (auto& channel : loaded)
        Add(channel.release());
}
