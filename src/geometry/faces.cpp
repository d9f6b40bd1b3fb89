// The face handle reads its face through the list at every call instead of caching the
// record's address: growing any face may move the shared buffer, and a cached pointer would
// then dangle. The cost is one offset lookup per call; loops that need speed use the list's
// GetIndexes and ForEachFace.
#include <3dzan/geometry/faces.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>

#include <algorithm>

CFace::~CFace() = default;

bool CFace::IsValid() const
{
    return m_List && m_Index < unsigned(m_List->GetSize());
}

int CFace::GetSize() const
{
    return m_List ? m_List->GetFaceSize(m_Index) : 0;
}

const int* CFace::GetIndexes() const
{
    if (!m_List)
        return nullptr;
    int count;
    return m_List->GetIndexes(m_Index, count);
}

int CFace::GetIndex(int position) const
{
    int count = GetSize();
    if (position < 0 || position >= count)
        return -1;
    return GetIndexes()[position];
}

unsigned* CFace::Property() const
{
    return m_List ? m_List->PropertyAt(m_Index) : nullptr;
}

unsigned CFace::GetFlags() const
{
    const unsigned* property = Property();
    return property ? *property : 0;
}

void CFace::SetFlags(unsigned flags)
{
    if (unsigned* property = Property())
        *property = flags;
}

void CFace::SetFlags(unsigned flags, bool set)
{
    if (unsigned* property = Property())
        *property = set ? (*property | flags) : (*property & ~flags);
}

int* CFace::SetSize(int count)
{
    if (!IsValid() || count < 0 || unsigned(count) > CFaceList::kMaxCorners)
        return nullptr;
    if (!m_List->ResizeFace(m_Index, unsigned(count)))
        return nullptr;
    SetFlag(_FaceInvalid, count < 3);
    return count ? m_List->m_Faces.ItemsAt(m_Index) : nullptr;
}

bool CFace::SetTriangle(int a, int b, int c)
{
    const int corners[] = {a, b, c};
    return IsValid() && m_List->SetFaceIndexes(m_Index, corners, 3);
}

bool CFace::SetQuadrangle(int a, int b, int c, int d)
{
    const int corners[] = {a, b, c, d};
    return IsValid() && m_List->SetFaceIndexes(m_Index, corners, 4);
}

int CFace::AddIndex(int index)
{
    if (!IsValid() || !m_List->IsIndexInBound(index))
        return -1;
    unsigned count = m_List->m_Faces.CountAt(m_Index);
    if (count >= CFaceList::kMaxCorners || !m_List->ResizeFace(m_Index, count + 1))
        return -1;
    m_List->m_Faces.ItemsAt(m_Index)[count] = index;
    SetFlag(_FaceInvalid, count + 1 < 2);
    return int(count + 1);
}

bool CFace::RemoveIndex(int index)
{
    if (!IsValid())
        return false;
    unsigned count = m_List->m_Faces.CountAt(m_Index);
    int* items = m_List->m_Faces.ItemsAt(m_Index);
    unsigned position = count;
    while (position > 0 && items[position - 1] != index)
        --position;
    if (position == 0)
        return false;
    std::copy(items + position, items + count, items + position - 1);
    m_List->ResizeFace(m_Index, count - 1); // shrinking in place cannot fail
    if (count - 1 < 3)
        SetFlag(_FaceInvalid, true);
    return true;
}

int CFace::ReplaceIndex(int oldIndex, int newIndex)
{
    if (!IsValid() || oldIndex == newIndex || !m_List->IsIndexInBound(newIndex))
        return 0;
    unsigned count = m_List->m_Faces.CountAt(m_Index);
    int* items = m_List->m_Faces.ItemsAt(m_Index);
    int replaced = 0;
    for (unsigned i = 0; i < count; ++i)
        if (items[i] == oldIndex)
        {
            items[i] = newIndex;
            ++replaced;
        }
    return replaced == 0 ? 0 : (replaced == 1 ? 1 : 5);
}

int CFace::IsFacePoint(int index) const
{
    int count = GetSize();
    const int* items = GetIndexes();
    for (int i = 0; i < count; ++i)
        if (items[i] == index)
            return i;
    return -1;
}

int CFace::GetNextIndex(int position) const
{
    int count = GetSize();
    if (position < 0 || position >= count)
        return -1;
    return GetIndexes()[(position + 1) % count];
}

int CFace::GetPrevIndex(int position) const
{
    int count = GetSize();
    if (position < 0 || position >= count)
        return -1;
    return GetIndexes()[(position + count - 1) % count];
}

int CFace::IsFaceEdge(int a, int b, bool oriented) const
{
    int count = GetSize();
    const int* items = GetIndexes();
    for (int p = 0; p < count; ++p)
    {
        int from = items[p], to = items[(p + 1) % count];
        if ((from == a && to == b) || (!oriented && from == b && to == a))
            return p;
    }
    return -1;
}

bool CFace::CompareIndexes(const CFace& other, bool cyclic) const
{
    int count = GetSize();
    if (count != other.GetSize())
        return false;
    if (count == 0)
        return true;
    const int* mine = GetIndexes();
    const int* theirs = other.GetIndexes();
    if (!cyclic)
        return std::equal(mine, mine + count, theirs);
    int start = other.IsFacePoint(mine[0]);
    if (start < 0)
        return false;
    for (int k = 1; k < count; ++k)
        if (mine[k] != theirs[(start + k) % count])
            return false;
    return true;
}

void CFace::Flip()
{
    if (!IsValid())
        return;
    int* items = m_List->m_Faces.ItemsAt(m_Index);
    std::reverse(items, items + m_List->m_Faces.CountAt(m_Index));
}

namespace
{
// The face's corners when every one is a point of \p points; null (and a count of 0)
// otherwise.
const int* CornersIn(const CFace& face, const CPointList& points, int& count)
{
    count = face.GetSize();
    const int* items = face.GetIndexes();
    unsigned limit = unsigned(points.GetSize());
    for (int k = 0; k < count; ++k)
        if (items[k] < 0 || unsigned(items[k]) >= limit)
        {
            count = 0;
            return nullptr;
        }
    return items;
}
} // namespace

bool CFace::GetCenter(const CPointList& points, C4DPoint& center) const
{
    int count;
    const int* items = CornersIn(*this, points, count);
    if (!items)
        return false;
    CPointView<const CPt> view = points.GetPtView();
    C4DPoint sum, value;
    for (int k = 0; k < count; ++k)
    {
        view[size_t(items[k])].To4DPoint(value);
        sum += value;
    }
    sum /= double(count);
    sum.SetDimension(value.GetDimension());
    center = sum;
    return true;
}

bool CFace::SetPointFlag(CPointList& points, unsigned flags, bool set) const
{
    int count;
    const int* items = CornersIn(*this, points, count);
    if (!items)
        return IsValid() && GetSize() == 0;
    CPointView<CPt> view = points.GetPtView();
    for (int k = 0; k < count; ++k)
        view[size_t(items[k])].SetFlags(flags, set);
    return true;
}

bool CFace::IsOnePointFlagSet(const CPointList& points, unsigned flags) const
{
    int count;
    const int* items = CornersIn(*this, points, count);
    CPointView<const CPt> view = points.GetPtView();
    for (int k = 0; k < count; ++k)
        if (view[size_t(items[k])].IsOneFlagSet(int(flags)))
            return true;
    return false;
}

FLAGRESULT CFace::IsPointFlagSet(const CPointList& points, unsigned flags) const
{
    int count;
    const int* items = CornersIn(*this, points, count);
    CPointView<const CPt> view = points.GetPtView();
    int carrying = 0;
    for (int k = 0; k < count; ++k)
        carrying += (view[size_t(items[k])].GetFlags() & flags) == flags;
    if (carrying == 0)
        return _FlagNone;
    return carrying == count ? _FlagAll : _FlagSome;
}

void* CFace::GetData(unsigned id)
{
    return m_List ? m_List->GetData(id, m_Index) : nullptr;
}

const void* CFace::GetData(unsigned id) const
{
    return m_List ? std::as_const(*m_List).GetData(id, m_Index) : nullptr;
}

unsigned CFace::GetSizeOfData(unsigned id) const
{
    return m_List ? m_List->GetSizeOfData(id) : 0;
}

bool CFace::Copy(const CFace& src)
{
    return IsValid() && src.IsValid() && m_List->CopyFace(m_Index, src.m_Index, *src.m_List);
}

bool CFace::Copy(unsigned srcIndex)
{
    return IsValid() && m_List->CopyFace(m_Index, srcIndex);
}

bool CFace::Inherit(const CFace& src)
{
    if (!IsValid() || !src.IsValid())
        return false;
    m_List->m_Chunks->CopyData(m_Index, src.m_Index, *src.m_List->m_Chunks);
    m_List->CopyPropertyWord(m_Index, *src.m_List, src.m_Index);
    return true;
}

unsigned C3DFace::GetMaterialID() const
{
    const unsigned* material = m_List ? m_List->MaterialAt(m_Index) : nullptr;
    return material ? *material : kZanNone;
}

bool C3DFace::SetMaterialID(unsigned id)
{
    unsigned* material = m_List ? m_List->MaterialAt(m_Index) : nullptr;
    if (!material)
        return false;
    *material = id;
    return true;
}

CSingleFace::CSingleFace()
{
    m_Storage.AddRecord(nullptr, 0);
}

CSingleFace::CSingleFace(const CFaceList& model)
{
    Init(model);
}

CSingleFace::~CSingleFace() = default;

void CSingleFace::Init(const CFaceList& model)
{
    m_Chunks.InitDataChunks(model.GetDataChunks(), 1);
    m_Storage.RemoveAll();
    m_Storage.AddRecord(nullptr, 0);
}

int CSingleFace::GetSize() const
{
    return int(m_Storage.GetItemCount(0));
}

const int* CSingleFace::GetIndexes() const
{
    unsigned count;
    return m_Storage.GetItems(0, count);
}

unsigned CSingleFace::GetFlags() const
{
    const void* property = m_Chunks.GetMainData(0);
    return property ? *static_cast<const unsigned*>(property) : 0;
}

const void* CSingleFace::GetData(unsigned id) const
{
    return m_Chunks.GetData(id, 0);
}
