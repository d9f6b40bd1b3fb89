// The key list of keyframable objects: insertion that keeps the list sorted by time, look-up
// by mode, evaluation between the keys around a time, and the archive.
//
// Records sit in a vector sorted by time; keys that share a time stay in insertion order.
// Look-ups find the block of records at the time by binary search and then walk outwards
// over records of other classes, so a list holding one class is searched in log time.
#include <3dzan/animation/keyframable.h>

#include <3dzan/foundation/xarchive.h>

#include <algorithm>

namespace
{
// Least archive bytes of one record: time, class id and the key's base part.
constexpr uint64_t kMinRecordBytes = 4 + 8 + 8 + 4 + 4;

bool Matches(const C3DKeyframe& key, uint64_t classId)
{
    return classId == 0 || key.GetClassID() == classId;
}
} // namespace

C3DAnimatable::~C3DAnimatable() = default;

int C3DAnimatable::GetKeyTime(int time, unsigned mode, uint64_t classId) const
{
    int keyTime = -1;
    return GetConstKey(time, mode, classId, &keyTime) ? keyTime : time;
}

C3DKeyframable::C3DKeyframable() = default;

C3DKeyframable::C3DKeyframable(const C3DKeyframable& other) : C3DAnimatable(other)
{
    *this = other;
}

C3DKeyframable::~C3DKeyframable() = default;

unsigned C3DKeyframable::AddKey(int time, C3DKeyframe* key)
{
    if (!key)
        return kZanNone;
    std::unique_ptr<C3DKeyframe> owned(key);
    auto first = std::lower_bound(m_Keys.begin(), m_Keys.end(), time,
                                  [](const _KeyframeInfo& r, int t) { return r.m_Time < t; });
    auto last = std::upper_bound(first, m_Keys.end(), time,
                                 [](int t, const _KeyframeInfo& r) { return t < r.m_Time; });
    for (auto it = first; it != last; ++it)
        if (it->m_Key->GetClassID() == key->GetClassID())
        {
            it->m_Key = std::move(owned);
            return unsigned(it - m_Keys.begin());
        }
    auto placed = m_Keys.insert(last, _KeyframeInfo{time, std::move(owned)});
    return unsigned(placed - m_Keys.begin());
}

unsigned C3DKeyframable::AddKey(int time, const C3DKeyframe& key)
{
    return AddKey(time, key.Copy());
}

C3DKeyframe* C3DKeyframable::CreateKey(int time, uint64_t classId, unsigned curveClassId)
{
    C3DKeyframe* key = C3DKeyframe::CreateKey(classId, curveClassId);
    if (key)
        AddKey(time, key);
    return key;
}

int C3DKeyframable::FindIndex(int time, unsigned mode, uint64_t classId) const
{
    const int count = int(m_Keys.size());
    const int first =
        int(std::lower_bound(m_Keys.begin(), m_Keys.end(), time,
                             [](const _KeyframeInfo& r, int t) { return r.m_Time < t; }) -
            m_Keys.begin());
    int last = first; // one past the records at the time
    while (last < count && m_Keys[size_t(last)].m_Time == time)
        ++last;

    auto at = [&]() -> int
    {
        for (int i = first; i < last; ++i)
            if (Matches(*m_Keys[size_t(i)].m_Key, classId))
                return i;
        return -1;
    };
    auto before = [&]() -> int
    {
        for (int i = first - 1; i >= 0; --i)
            if (Matches(*m_Keys[size_t(i)].m_Key, classId))
                return i;
        return -1;
    };
    auto after = [&]() -> int
    {
        for (int i = last; i < count; ++i)
            if (Matches(*m_Keys[size_t(i)].m_Key, classId))
                return i;
        return -1;
    };

    int found = -1;
    switch (mode & 0x7u)
    {
    case _KeyAt:
        return at();
    case _KeyAfter:
        return after();
    case _KeyBefore:
        return before();
    case _KeyAtOrBefore:
        return (found = at()) >= 0 ? found : before();
    case _KeyAfterOrAt:
        return (found = after()) >= 0 ? found : at();
    case _KeyBefore | _KeyAfter:
        return (found = before()) >= 0 ? found : after();
    case _KeyAt | _KeyBefore | _KeyAfter:
        if ((found = at()) >= 0 || (found = before()) >= 0)
            return found;
        return after();
    default:
        return -1;
    }
}

const C3DKeyframe* C3DKeyframable::GetKey(int time, unsigned mode, uint64_t classId,
                                          int* keyTime) const
{
    const int index = FindIndex(time, mode, classId);
    if (keyTime)
        *keyTime = index >= 0 ? m_Keys[size_t(index)].m_Time : -1;
    return index >= 0 ? m_Keys[size_t(index)].m_Key.get() : nullptr;
}

C3DKeyframe* C3DKeyframable::GetKey(int time, unsigned mode, uint64_t classId, int* keyTime)
{
    return const_cast<C3DKeyframe*>(std::as_const(*this).GetKey(time, mode, classId, keyTime));
}

bool C3DKeyframable::GetKey(int time, unsigned mode, C3DKeyframe& out, int* keyTime) const
{
    int found = -1;
    const C3DKeyframe* key = GetKey(time, mode, out.GetClassID(), &found);
    if (!key || !(out = *key))
    {
        if (keyTime)
            *keyTime = -1;
        return false;
    }
    if (keyTime)
        *keyTime = found;
    return true;
}

const C3DKeyframe* C3DKeyframable::GetConstKey(int time, unsigned mode, uint64_t classId,
                                               int* keyTime) const
{
    return GetKey(time, mode, classId, keyTime);
}

const C3DKeyframe* C3DKeyframable::GetKeyByIndex(unsigned index, int* keyTime,
                                                 uint64_t classId) const
{
    if (keyTime)
        *keyTime = -1;
    size_t position = m_Keys.size();
    if (classId == 0)
        position = index;
    else
    {
        unsigned seen = 0;
        for (size_t i = 0; i < m_Keys.size(); ++i)
            if (m_Keys[i].m_Key->GetClassID() == classId && seen++ == index)
            {
                position = i;
                break;
            }
    }
    if (position >= m_Keys.size())
        return nullptr;
    if (keyTime)
        *keyTime = m_Keys[position].m_Time;
    return m_Keys[position].m_Key.get();
}

C3DKeyframe* C3DKeyframable::GetKeyByIndex(unsigned index, int* keyTime, uint64_t classId)
{
    return const_cast<C3DKeyframe*>(std::as_const(*this).GetKeyByIndex(index, keyTime, classId));
}

unsigned C3DKeyframable::GetKeyNbr(uint64_t classId) const
{
    if (classId == 0)
        return unsigned(m_Keys.size());
    return unsigned(std::count_if(m_Keys.begin(), m_Keys.end(),
                                  [&](const _KeyframeInfo& r)
                                  { return r.m_Key->GetClassID() == classId; }));
}

CTimeRange C3DKeyframable::GetTimeRange(uint64_t classId) const
{
    int first = -1, last = -1;
    for (size_t i = 0; i < m_Keys.size(); ++i)
        if (Matches(*m_Keys[i].m_Key, classId))
        {
            if (first < 0)
                first = int(i);
            last = int(i);
        }
    if (first < 0)
        return CTimeRange();
    return CTimeRange(m_Keys[size_t(first)].m_Time, m_Keys[size_t(last)].m_Time);
}

bool C3DKeyframable::Evaluate(int time, C3DKeyframe& out) const
{
    const uint64_t classId = out.GetClassID();
    int prevTime = -1, nextTime = -1;
    const C3DKeyframe* prev = GetKey(time, _KeyAtOrBefore, classId, &prevTime);
    const C3DKeyframe* next = GetKey(time, _KeyAfter, classId, &nextTime);
    if (prev && next)
        return out.Evaluate(*prev, *next, time, CTimeRange(prevTime, nextTime));
    if (prev)
        return out = *prev;
    if (next)
        return out = *next;
    return false;
}

void C3DKeyframable::DeleteAllKeys()
{
    m_Keys.clear();
}

unsigned C3DKeyframable::DeleteKey(int time, uint64_t classId)
{
    const size_t before = m_Keys.size();
    std::erase_if(m_Keys, [&](const _KeyframeInfo& r)
                  { return r.m_Time == time && Matches(*r.m_Key, classId); });
    return unsigned(before - m_Keys.size());
}

C3DKeyframable& C3DKeyframable::operator=(const C3DKeyframable& other)
{
    if (this == &other)
        return *this;
    std::vector<_KeyframeInfo> copies;
    copies.reserve(other.m_Keys.size());
    for (const _KeyframeInfo& record : other.m_Keys)
        copies.push_back({record.m_Time, std::unique_ptr<C3DKeyframe>(record.m_Key->Copy())});
    m_Keys.swap(copies);
    return *this;
}

bool C3DKeyframable::operator==(const C3DKeyframable& other) const
{
    return std::equal(m_Keys.begin(), m_Keys.end(), other.m_Keys.begin(), other.m_Keys.end(),
                      [](const _KeyframeInfo& a, const _KeyframeInfo& b)
                      { return a.m_Time == b.m_Time && *a.m_Key == *b.m_Key; });
}

void C3DKeyframable::SwapKeys(C3DKeyframable& other) noexcept
{
    m_Keys.swap(other.m_Keys);
}

void C3DKeyframable::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        ar << unsigned(m_Keys.size());
        for (const _KeyframeInfo& record : m_Keys)
        {
            ar << record.m_Time << uint64_t(record.m_Key->GetClassID());
            record.m_Key->Serialize(ar);
        }
        return;
    }

    unsigned count = 0;
    ar >> count;
    ar.CheckRemaining(uint64_t(count) * kMinRecordBytes, "key list");
    C3DKeyframable loaded;
    for (unsigned i = 0; i < count; ++i)
    {
        int time = 0;
        uint64_t classId = 0;
        ar >> time >> classId;
        std::unique_ptr<C3DKeyframe> key(C3DKeyframe::CreateKey(classId, 0));
        if (!key)
            throw CXArchiveException(CXArchiveException::_BadClass,
                                     "a key class id that names no key class");
        key->Serialize(ar);
        if (key->GetClassID() != classId)
            throw CXArchiveException(CXArchiveException::_BadValue,
                                     "a key whose archive holds another class id");
        loaded.AddKey(time, key.release());
    }
    SwapKeys(loaded);
}
