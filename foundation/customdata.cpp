// The bag is a vector of entries in index order, each a variant whose alternative number is
// the entry's kind, so the kind can never disagree with the stored value. Small bags (the
// usual case: a handful of options) are searched linearly; past kIndexThreshold entries an
// id -> index hash map keeps lookups constant time. The map is kept up to date by every
// change rather than built lazily, so that const calls never write and may run in parallel.
//
// Loading reads into a fresh bag and swaps it in only once everything was read, which is
// what lets a failed load leave the bag untouched. Reading never reserves room from a count
// it was given: entries, strings and blocks grow as their bytes actually arrive, and the
// archive checks each count against the bytes that remain.
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/xarchive.h>

#include "posixio.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <variant>

namespace
{
// One alternative per _CustomDataKind, in the kinds' numeric order.
using CValue = std::variant<std::monostate, bool, int32_t, uint32_t, int64_t, uint64_t, float,
                            double, CXTString, CXArray<CXTString>, std::vector<uint8_t>, void*,
                            std::unique_ptr<CCustomData>>;

template <_CustomDataKind K, class T>
constexpr bool kKindIs = std::is_same_v<std::variant_alternative_t<K, CValue>, T>;
static_assert(kKindIs<_CustomDataBool, bool> && kKindIs<_CustomDataInt, int32_t> &&
              kKindIs<_CustomDataUInt, uint32_t> && kKindIs<_CustomDataInt64, int64_t> &&
              kKindIs<_CustomDataUInt64, uint64_t> && kKindIs<_CustomDataFloat, float> &&
              kKindIs<_CustomDataDouble, double> && kKindIs<_CustomDataString, CXTString> &&
              kKindIs<_CustomDataStringArray, CXArray<CXTString>> &&
              kKindIs<_CustomDataBytes, std::vector<uint8_t>> &&
              kKindIs<_CustomDataPointer, void*> &&
              kKindIs<_CustomDataCustomData, std::unique_ptr<CCustomData>> &&
              std::variant_size_v<CValue> == _CustomDataCustomData + 1);

// Below this many entries a linear scan beats hashing and saves an allocation per bag.
constexpr size_t kIndexThreshold = 16;

// Smallest archived entry: id, kind and a one-byte bool.
constexpr uint64_t kMinEntryBytes = 4 + 4 + 1;
// Smallest archived string: its 32-bit length.
constexpr uint64_t kMinStringBytes = 4;

// Preferences file: header, the bag, then a checksum of everything before it, which catches
// damage that still happens to parse.
constexpr uint32_t kPrefsMagic = ZanTag("ZPRF");
constexpr uint32_t kPrefsVersion = 1;
constexpr size_t kPrefsTrailerBytes = 4;
// Magic, version, two ids, the count of an empty bag, the trailer.
constexpr size_t kPrefsMinBytes = 4 * 4 + 4 + kPrefsTrailerBytes;
// Preferences are small; a larger file is not one of ours and is not worth reading whole.
constexpr size_t kMaxPrefsBytes = size_t(64) << 20;

// Dumps show this many leading bytes of a block.
constexpr size_t kDumpBytes = 16;

template <class... F> struct COverload : F...
{
    using F::operator()...;
};
template <class... F> COverload(F...) -> COverload<F...>;

_CustomDataKind KindOf(const CValue& value)
{
    return _CustomDataKind(value.index());
}

// FNV-1a: stable across processes and builds, unlike std::hash. The helpers below feed a
// value in the byte form the archive gives it, so a value's checksum is the hash of its
// archived bytes.
constexpr uint32_t kFnvBasis = 2166136261u;

void FnvAdd(uint32_t& hash, const void* data, size_t size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
}

template <class T> void FnvAddValue(uint32_t& hash, T value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    FnvAdd(hash, &value, sizeof value);
}

void FnvAddCount(uint32_t& hash, uint64_t count)
{
    if (count < 0xFFFFFFFFu)
        FnvAddValue(hash, uint32_t(count));
    else
    {
        FnvAddValue(hash, uint32_t(0xFFFFFFFFu));
        FnvAddValue(hash, count);
    }
}

void FnvAddString(uint32_t& hash, const CXTString& text)
{
    FnvAddValue(hash, uint32_t(text.str().size()));
    FnvAdd(hash, text.str().data(), text.str().size());
}

template <class T> T ReadNumber(CXArchive& ar)
{
    T value;
    ar >> value;
    return value;
}

// Floating values read as another numeric kind. Out-of-range float-to-integer conversion is
// undefined behaviour, hence the explicit range test.
template <class T> T ConvertFloating(double value, T defaultValue)
{
    if constexpr (std::is_same_v<T, bool>)
        return value != 0.0;
    else if constexpr (std::is_same_v<T, double>)
        return value;
    else if constexpr (std::is_same_v<T, float>)
    {
        // Beyond the float range a double becomes an infinity of its sign.
        if (std::isfinite(value) && std::fabs(value) > double(FLT_MAX))
            return value > 0 ? HUGE_VALF : -HUGE_VALF;
        return float(value);
    }
    else
    {
        static_assert(std::is_integral_v<T>);
        const double low = double(std::numeric_limits<T>::min());            // exact: 0 or -2^n
        const double high = std::ldexp(1.0, std::numeric_limits<T>::digits); // exclusive
        double whole = std::trunc(value);
        if (!(whole >= low && whole < high)) // NaN fails too
            return defaultValue;
        return T(whole);
    }
}

void AppendQuoted(CXTString& out, const CXTString& text)
{
    out += '"';
    for (char c : text.str())
    {
        uint8_t byte = uint8_t(c);
        switch (c)
        {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (byte < 0x20 || byte == 0x7F)
                out.AppendFormat("\\x%02X", unsigned(byte));
            else
                out += c; // UTF-8 sequences pass through readable
        }
    }
    out += '"';
}

void AppendId(CXTString& out, uint32_t id)
{
    char text[4];
    for (int i = 0; i < 4; ++i)
    {
        text[i] = char(id >> (24 - 8 * i));
        if (uint8_t(text[i]) < 0x20 || uint8_t(text[i]) > 0x7E)
        {
            out.AppendFormat("0x%08X", unsigned(id));
            return;
        }
    }
    out += '\'';
    out += CXTString(text, 4);
    out += '\'';
}

// Closes a descriptor on every way out of a function.
class CFileDescriptor
{
public:
    explicit CFileDescriptor(int fd) : m_Fd(fd) {}
    ~CFileDescriptor() { Close(); }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int Get() const { return m_Fd; }
    bool Close()
    {
        if (m_Fd < 0)
            return true;
        // After a failed close the descriptor is gone on Linux: never retry it.
        bool ok = ::close(m_Fd) == 0;
        m_Fd = -1;
        return ok;
    }

private:
    int m_Fd;
};
} // namespace

struct CCustomData::CEntry
{
    uint32_t m_ID = 0;
    CValue m_Value;

    CEntry() = default;
    CEntry(CEntry&&) noexcept = default;
    CEntry& operator=(CEntry&&) noexcept = default;
    CEntry(const CEntry& other) : m_ID(other.m_ID), m_Value(Clone(other.m_Value)) {}

    // A deep copy: the nested bag is the one alternative that does not copy by itself.
    static CValue Clone(const CValue& value)
    {
        return std::visit(
            [](const auto& v) -> CValue
            {
                using V = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<V, std::unique_ptr<CCustomData>>)
                    return std::make_unique<CCustomData>(*v);
                else
                    return CValue(std::in_place_type<V>, v);
            },
            value);
    }
};

struct CCustomData::CIndex
{
    CHashMap<uint32_t, int> m_Map;
    explicit CIndex(unsigned size) : m_Map(size) {}
};

// ---------------------------------------------------------------- life cycle

CCustomData::CCustomData() = default;
CCustomData::~CCustomData() = default;

CCustomData::CCustomData(const CCustomData& other) : m_Entries(other.m_Entries)
{
    RebuildIndex();
}

CCustomData::CCustomData(CCustomData&& other) noexcept = default;

CCustomData& CCustomData::operator=(const CCustomData& other)
{
    if (this != &other)
    {
        // Copy first: \p other may be nested in this bag.
        CCustomData copy(other);
        Swap(copy);
    }
    return *this;
}

CCustomData& CCustomData::operator=(CCustomData&& other) noexcept
{
    if (this != &other)
    {
        // Take \p other's content before releasing ours, which may own \p other.
        CCustomData taken(std::move(other));
        Swap(taken);
    }
    return *this;
}

void CCustomData::Swap(CCustomData& other) noexcept
{
    m_Entries.swap(other.m_Entries);
    m_Index.swap(other.m_Index);
}

bool CCustomData::operator==(const CCustomData& other) const
{
    if (m_Entries.size() != other.m_Entries.size())
        return false;
    for (size_t i = 0; i < m_Entries.size(); ++i)
    {
        const CEntry& a = m_Entries[i];
        const CEntry& b = other.m_Entries[i];
        if (a.m_ID != b.m_ID || a.m_Value.index() != b.m_Value.index())
            return false;
        bool same = std::visit(
            [&b](const auto& va) -> bool
            {
                using V = std::decay_t<decltype(va)>;
                const V& vb = std::get<V>(b.m_Value);
                if constexpr (std::is_floating_point_v<V>)
                    return std::memcmp(&va, &vb, sizeof va) == 0;
                else if constexpr (std::is_same_v<V, std::unique_ptr<CCustomData>>)
                    return *va == *vb;
                else
                    return va == vb;
            },
            a.m_Value);
        if (!same)
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- entries

const CCustomData::CEntry* CCustomData::Find(unsigned id) const
{
    if (m_Index)
    {
        const int* index = m_Index->m_Map.Find(id);
        return index ? &m_Entries[size_t(*index)] : nullptr;
    }
    for (const CEntry& entry : m_Entries)
        if (entry.m_ID == id)
            return &entry;
    return nullptr;
}

CCustomData::CEntry* CCustomData::Find(unsigned id)
{
    return const_cast<CEntry*>(static_cast<const CCustomData*>(this)->Find(id));
}

CCustomData::CEntry& CCustomData::Put(unsigned id)
{
    if (CEntry* entry = Find(id))
        return *entry;
    if (m_Entries.size() >= size_t(INT_MAX))
        throw CXInvalidArgException("CCustomData: too many entries");
    m_Entries.emplace_back();
    m_Entries.back().m_ID = id;
    if (m_Index)
        m_Index->m_Map.Insert(id, int(m_Entries.size() - 1));
    else if (m_Entries.size() > kIndexThreshold)
        RebuildIndex();
    return m_Entries.back();
}

void CCustomData::RebuildIndex()
{
    if (m_Entries.size() <= kIndexThreshold)
    {
        m_Index.reset();
        return;
    }
    auto index = std::make_unique<CIndex>(unsigned(m_Entries.size() * 2));
    for (size_t i = 0; i < m_Entries.size(); ++i)
        index->m_Map.Insert(m_Entries[i].m_ID, int(i));
    m_Index = std::move(index);
}

int CCustomData::GetCount() const
{
    return int(m_Entries.size());
}

bool CCustomData::IsEmpty() const
{
    return m_Entries.empty();
}

unsigned CCustomData::GetIDByIndex(int index, unsigned& kind) const
{
    if (index < 0 || size_t(index) >= m_Entries.size())
        ZanThrowIndexError("CCustomData::GetIDByIndex", index, GetCount());
    const CEntry& entry = m_Entries[size_t(index)];
    kind = KindOf(entry.m_Value);
    return entry.m_ID;
}

int CCustomData::GetIndex(unsigned id) const
{
    const CEntry* entry = Find(id);
    return entry ? int(entry - m_Entries.data()) : -1;
}

bool CCustomData::HasValue(unsigned id) const
{
    return Find(id) != nullptr;
}

_CustomDataKind CCustomData::GetKind(unsigned id) const
{
    const CEntry* entry = Find(id);
    return entry ? KindOf(entry->m_Value) : _CustomDataNone;
}

bool CCustomData::RemoveValue(unsigned id)
{
    int index = GetIndex(id);
    if (index < 0)
        return false;
    m_Entries.erase(m_Entries.begin() + index);
    if (m_Index && m_Entries.size() > kIndexThreshold)
    {
        // Only the entries after the removed one changed their index.
        m_Index->m_Map.Remove(id);
        for (size_t i = size_t(index); i < m_Entries.size(); ++i)
            m_Index->m_Map.Insert(m_Entries[i].m_ID, int(i));
    }
    else
        m_Index.reset();
    return true;
}

void CCustomData::RemoveAll()
{
    m_Entries.clear();
    m_Index.reset();
}

void CCustomData::Append(const CCustomData& other)
{
    if (&other == this)
        return; // every entry would replace itself
    // Copy all values before storing any: \p other may be nested in this bag and be
    // destroyed by one of the replacements.
    std::vector<CEntry> copies(other.m_Entries);
    for (CEntry& entry : copies)
        Put(entry.m_ID).m_Value = std::move(entry.m_Value);
}

// ---------------------------------------------------------------- values

template <class T> T CCustomData::GetNumber(unsigned id, T defaultValue) const
{
    const CEntry* entry = Find(id);
    if (!entry)
        return defaultValue;
    return std::visit(
        [defaultValue](const auto& value) -> T
        {
            using V = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<V, bool>)
                return T(value ? 1 : 0);
            else if constexpr (std::is_integral_v<V>)
            {
                if constexpr (std::is_same_v<T, bool>)
                    return value != 0;
                else
                    return static_cast<T>(value);
            }
            else if constexpr (std::is_floating_point_v<V>)
                return ConvertFloating<T>(double(value), defaultValue);
            else
                return defaultValue;
        },
        entry->m_Value);
}

void CCustomData::SetBool(unsigned id, bool value)
{
    Put(id).m_Value = value;
}
bool CCustomData::GetBool(unsigned id, bool defaultValue) const
{
    return GetNumber<bool>(id, defaultValue);
}

void CCustomData::SetInt(unsigned id, int value)
{
    Put(id).m_Value = int32_t(value);
}
int CCustomData::GetInt(unsigned id, int defaultValue) const
{
    return GetNumber<int32_t>(id, defaultValue);
}

void CCustomData::SetUInt(unsigned id, unsigned value)
{
    Put(id).m_Value = uint32_t(value);
}
unsigned CCustomData::GetUInt(unsigned id, unsigned defaultValue) const
{
    return GetNumber<uint32_t>(id, defaultValue);
}

void CCustomData::SetInt64(unsigned id, int64_t value)
{
    Put(id).m_Value = value;
}
int64_t CCustomData::GetInt64(unsigned id, int64_t defaultValue) const
{
    return GetNumber<int64_t>(id, defaultValue);
}

void CCustomData::SetUInt64(unsigned id, uint64_t value)
{
    Put(id).m_Value = value;
}
uint64_t CCustomData::GetUInt64(unsigned id, uint64_t defaultValue) const
{
    return GetNumber<uint64_t>(id, defaultValue);
}

void CCustomData::SetFloat(unsigned id, float value)
{
    Put(id).m_Value = value;
}
float CCustomData::GetFloat(unsigned id, float defaultValue) const
{
    return GetNumber<float>(id, defaultValue);
}

void CCustomData::SetDouble(unsigned id, double value)
{
    Put(id).m_Value = value;
}
double CCustomData::GetDouble(unsigned id, double defaultValue) const
{
    return GetNumber<double>(id, defaultValue);
}

void CCustomData::SetString(unsigned id, const CXTString& value)
{
    Put(id).m_Value = CValue(std::in_place_type<CXTString>, value);
}

CXTString CCustomData::GetString(unsigned id, const CXTString& defaultValue) const
{
    const CEntry* entry = Find(id);
    const CXTString* text = entry ? std::get_if<CXTString>(&entry->m_Value) : nullptr;
    return text ? *text : defaultValue;
}

void CCustomData::SetStringArray(unsigned id, const CXArray<CXTString>& values)
{
    Put(id).m_Value = CValue(std::in_place_type<CXArray<CXTString>>, values);
}

bool CCustomData::GetStringArray(unsigned id, CXArray<CXTString>& values) const
{
    const CEntry* entry = Find(id);
    const auto* stored = entry ? std::get_if<CXArray<CXTString>>(&entry->m_Value) : nullptr;
    if (!stored)
        return false;
    values.Copy(*stored);
    return true;
}

bool CCustomData::SetBytes(unsigned id, const void* data, size_t size)
{
    if (!data && size)
        return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    // Copied before Put: \p data may be this id's own block.
    CValue copy(std::in_place_type<std::vector<uint8_t>>, bytes, bytes + size);
    Put(id).m_Value = std::move(copy);
    return true;
}

const uint8_t* CCustomData::GetBytes(unsigned id, size_t& size) const
{
    static const uint8_t kNoByte = 0;
    size = 0;
    const CEntry* entry = Find(id);
    const auto* block = entry ? std::get_if<std::vector<uint8_t>>(&entry->m_Value) : nullptr;
    if (!block)
        return nullptr;
    size = block->size();
    return block->empty() ? &kNoByte : block->data();
}

void CCustomData::SetPointer(unsigned id, void* value)
{
    Put(id).m_Value = value;
}

void* CCustomData::GetPointer(unsigned id, void* defaultValue) const
{
    const CEntry* entry = Find(id);
    void* const* pointer = entry ? std::get_if<void*>(&entry->m_Value) : nullptr;
    return pointer ? *pointer : defaultValue;
}

void CCustomData::SetCustomData(unsigned id, const CCustomData& value)
{
    // Copied before Put: \p value may be this bag, or the nested bag that \p id replaces.
    auto copy = std::make_unique<CCustomData>(value);
    Put(id).m_Value = std::move(copy);
}

CCustomData* CCustomData::GetCustomData(unsigned id)
{
    return const_cast<CCustomData*>(static_cast<const CCustomData*>(this)->GetCustomData(id));
}

const CCustomData* CCustomData::GetCustomData(unsigned id) const
{
    const CEntry* entry = Find(id);
    const auto* nested =
        entry ? std::get_if<std::unique_ptr<CCustomData>>(&entry->m_Value) : nullptr;
    return nested ? nested->get() : nullptr;
}

CCustomData& CCustomData::CreateCustomData(unsigned id)
{
    if (CCustomData* nested = GetCustomData(id))
        return *nested;
    auto created = std::make_unique<CCustomData>();
    CCustomData& result = *created;
    Put(id).m_Value = std::move(created);
    return result;
}

// ---------------------------------------------------------------- archive

void CCustomData::Serialize(CXArchive& ar)
{
    CXArchive::CDepthGuard depth(ar);
    if (ar.IsStoring())
    {
        WriteBody(ar);
        return;
    }
    CCustomData loaded;
    loaded.ReadBody(ar);
    Swap(loaded);
}

void CCustomData::WriteBody(CXArchive& ar) const
{
    uint64_t count = 0;
    for (const CEntry& entry : m_Entries)
        count += KindOf(entry.m_Value) != _CustomDataPointer;
    ar.WriteCount(count);
    for (const CEntry& entry : m_Entries)
    {
        _CustomDataKind kind = KindOf(entry.m_Value);
        if (kind == _CustomDataPointer)
            continue;
        ar << uint32_t(entry.m_ID) << uint32_t(kind);
        std::visit(COverload{[](const std::monostate&) {}, [](void*) {},
                             [&ar](const CXArray<CXTString>& values)
                             {
                                 ar.WriteCount(uint64_t(values.GetSize()));
                                 for (const CXTString& text : values)
                                     ar << text;
                             },
                             [&ar](const std::vector<uint8_t>& bytes)
                             {
                                 ar.WriteCount(bytes.size());
                                 if (!bytes.empty()) // an empty vector's data() is null
                                     ar.Write(bytes.data(), bytes.size());
                             },
                             [&ar](const std::unique_ptr<CCustomData>& nested)
                             {
                                 CXArchive::CDepthGuard depth(ar);
                                 nested->WriteBody(ar);
                             },
                             [&ar](const auto& value) { ar << value; }},
                   entry.m_Value);
    }
}

void CCustomData::ReadBody(CXArchive& ar)
{
    uint64_t count = ar.ReadCount(kMinEntryBytes, uint64_t(INT_MAX));
    for (uint64_t i = 0; i < count; ++i)
    {
        uint32_t id;
        uint32_t kind;
        ar >> id >> kind;
        // A bag never holds an id twice, so an archive that does was not written by one.
        if (Find(id))
            throw CXArchiveException(CXArchiveException::_BadValue,
                                     "custom data id " + std::to_string(id) + " appears twice");
        CValue value;
        switch (kind)
        {
        case _CustomDataBool:
            value = ReadNumber<bool>(ar);
            break;
        case _CustomDataInt:
            value = ReadNumber<int32_t>(ar);
            break;
        case _CustomDataUInt:
            value = ReadNumber<uint32_t>(ar);
            break;
        case _CustomDataInt64:
            value = ReadNumber<int64_t>(ar);
            break;
        case _CustomDataUInt64:
            value = ReadNumber<uint64_t>(ar);
            break;
        case _CustomDataFloat:
            value = ReadNumber<float>(ar);
            break;
        case _CustomDataDouble:
            value = ReadNumber<double>(ar);
            break;
        case _CustomDataString:
            value = ar.ReadString();
            break;
        case _CustomDataStringArray:
        {
            uint64_t n = ar.ReadCount(kMinStringBytes, uint64_t(INT_MAX));
            CXArray<CXTString> values;
            for (uint64_t j = 0; j < n; ++j)
                values.Add(ar.ReadString());
            value = std::move(values);
            break;
        }
        case _CustomDataBytes:
        {
            uint64_t n = ar.ReadCount(1);
            std::vector<uint8_t> bytes(static_cast<size_t>(n)); // n bytes do remain
            if (!bytes.empty())                                 // an empty vector's data() is null
                ar.Read(bytes.data(), bytes.size());
            value = std::move(bytes);
            break;
        }
        case _CustomDataCustomData:
        {
            auto nested = std::make_unique<CCustomData>();
            CXArchive::CDepthGuard depth(ar);
            nested->ReadBody(ar);
            value = std::move(nested);
            break;
        }
        default: // none, pointer (never archived) and kinds this version does not know
            throw CXArchiveException(CXArchiveException::_BadValue,
                                     "custom data kind " + std::to_string(kind));
        }
        Put(id).m_Value = std::move(value);
    }
}

bool CCustomData::GetData(CXArray<unsigned char>& block) const
{
    block.RemoveAll();
    try
    {
        CXMemFile file;
        CXArchive ar(&file, CXArchive::store, 4096);
        CXArchive::CDepthGuard depth(ar);
        WriteBody(ar);
        ar.Close();
        block.GetVector() = file.Detach();
        return true;
    }
    catch (const CXException&)
    {
        block.RemoveAll();
        return false;
    }
}

bool CCustomData::SetData(const void* data, size_t size)
{
    if (!data)
        return false;
    try
    {
        CXMemFile file(data, size);
        CXArchive ar(&file, CXArchive::load, 4096);
        CCustomData loaded;
        loaded.Serialize(ar);
        if (ar.GetRemaining() != 0)
            return false;
        Swap(loaded);
        return true;
    }
    catch (const std::exception&)
    {
        return false;
    }
}

// ---------------------------------------------------------------- checksums

void CCustomData::HashValue(uint32_t& hash, const CEntry& entry)
{
    std::visit(COverload{[](const std::monostate&) {},
                         [](void*) {}, // a pointer means nothing in another process
                         [&hash](bool v) { FnvAddValue(hash, uint8_t(v ? 1 : 0)); },
                         [&hash](const CXTString& text) { FnvAddString(hash, text); },
                         [&hash](const CXArray<CXTString>& values)
                         {
                             FnvAddCount(hash, uint64_t(values.GetSize()));
                             for (const CXTString& text : values)
                                 FnvAddString(hash, text);
                         },
                         [&hash](const std::vector<uint8_t>& bytes)
                         {
                             FnvAddCount(hash, bytes.size());
                             FnvAdd(hash, bytes.data(), bytes.size());
                         },
                         [&hash](const std::unique_ptr<CCustomData>& nested)
                         { nested->HashBody(hash); },
                         [&hash](auto number) { FnvAddValue(hash, number); }},
               entry.m_Value);
}

void CCustomData::HashBody(uint32_t& hash) const
{
    uint64_t archived = 0;
    for (const CEntry& entry : m_Entries)
        archived += KindOf(entry.m_Value) != _CustomDataPointer;
    FnvAddCount(hash, archived);
    for (const CEntry& entry : m_Entries)
    {
        _CustomDataKind kind = KindOf(entry.m_Value);
        if (kind == _CustomDataPointer)
            continue;
        FnvAddValue(hash, uint32_t(entry.m_ID));
        FnvAddValue(hash, uint32_t(kind));
        HashValue(hash, entry);
    }
}

unsigned CCustomData::GetChecksum(unsigned id) const
{
    const CEntry* entry = Find(id);
    if (!entry || KindOf(entry->m_Value) == _CustomDataPointer)
        return 0;
    uint32_t hash = kFnvBasis;
    HashValue(hash, *entry);
    return hash;
}

unsigned CCustomData::GetChecksum() const
{
    // Combines what each entry reports (id, kind, value checksum) rather than the archived
    // bytes, so that pointer entries count by their presence.
    uint32_t hash = kFnvBasis;
    FnvAddValue(hash, uint32_t(m_Entries.size()));
    for (const CEntry& entry : m_Entries)
    {
        FnvAddValue(hash, uint32_t(entry.m_ID));
        FnvAddValue(hash, uint32_t(KindOf(entry.m_Value)));
        FnvAddValue(hash, uint32_t(GetChecksum(entry.m_ID)));
    }
    return hash;
}

// ---------------------------------------------------------------- text dump

void CCustomData::DumpCustomData(CXTString& out, int indent) const
{
    DumpBody(out, std::max(indent, 0));
}

void CCustomData::DumpBody(CXTString& out, int indent) const
{
    static const char* const kKindNames[] = {"none",   "bool",    "int",    "unsigned", "int64",
                                             "uint64", "float",   "double", "string",   "string",
                                             "bytes",  "pointer", "data"};
    static_assert(std::size(kKindNames) == std::variant_size_v<CValue>);
    for (const CEntry& entry : m_Entries)
    {
        out += CXTString(std::string(size_t(indent) * 2, ' '));
        AppendId(out, entry.m_ID);
        out += ' ';
        out += kKindNames[entry.m_Value.index()];
        const CCustomData* nested = nullptr;
        std::visit(
            COverload{[&out](const std::monostate&) { out += '\n'; },
                      [&out](bool v) { out += v ? " true\n" : " false\n"; },
                      [&out](int32_t v) { out.AppendFormat(" %d\n", int(v)); },
                      [&out](uint32_t v) { out.AppendFormat(" %u\n", unsigned(v)); },
                      [&out](int64_t v) { out.AppendFormat(" %lld\n", (long long)v); },
                      [&out](uint64_t v) { out.AppendFormat(" %llu\n", (unsigned long long)v); },
                      // Enough digits to read the exact value back.
                      [&out](float v) { out.AppendFormat(" %.9g\n", double(v)); },
                      [&out](double v) { out.AppendFormat(" %.17g\n", v); },
                      [&out](const CXTString& text)
                      {
                          out += ' ';
                          AppendQuoted(out, text);
                          out += '\n';
                      },
                      [&out](const CXArray<CXTString>& values)
                      {
                          out.AppendFormat("[%d]", values.GetSize());
                          for (int i = 0; i < values.GetSize(); ++i)
                          {
                              out += i ? ", " : " ";
                              AppendQuoted(out, values[i]);
                          }
                          out += '\n';
                      },
                      [&out](const std::vector<uint8_t>& bytes)
                      {
                          out.AppendFormat("[%zu]", bytes.size());
                          for (size_t i = 0; i < bytes.size() && i < kDumpBytes; ++i)
                              out.AppendFormat(" %02X", unsigned(bytes[i]));
                          out += bytes.size() > kDumpBytes ? " ...\n" : "\n";
                      },
                      [&out](void* pointer)
                      {
                          if (pointer)
                              out.AppendFormat(" 0x%llx\n", (unsigned long long)uintptr_t(pointer));
                          else
                              out += " null\n";
                      },
                      [&out, &nested](const std::unique_ptr<CCustomData>& bag)
                      {
                          out.AppendFormat("[%d]\n", bag->GetCount());
                          nested = bag.get();
                      }},
            entry.m_Value);
        if (nested)
            nested->DumpBody(out, indent + 1);
    }
}

// ---------------------------------------------------------------- preferences file

bool CCustomData::SaveToPrefs(const char* path, unsigned id1, unsigned id2) const
{
    if (!path || !*path)
        return false;
    std::vector<uint8_t> bytes;
    try
    {
        CXMemFile file;
        CXArchive ar(&file, CXArchive::store, 4096);
        ar << kPrefsMagic << kPrefsVersion << uint32_t(id1) << uint32_t(id2);
        {
            CXArchive::CDepthGuard depth(ar);
            WriteBody(ar);
        }
        ar.Close();
        bytes = file.Detach();
        uint32_t hash = kFnvBasis;
        FnvAdd(hash, bytes.data(), bytes.size());
        uint8_t trailer[kPrefsTrailerBytes];
        std::memcpy(trailer, &hash, sizeof hash); // little-endian, as the archive
        bytes.insert(bytes.end(), trailer, trailer + sizeof trailer);
    }
    catch (const std::exception&)
    {
        return false;
    }
    // Never write a file that loading would refuse.
    if (bytes.size() > kMaxPrefsBytes)
        return false;

    return fileWriteAtomic(path, bytes.data(), bytes.size());
}

bool CCustomData::LoadFromPrefs(const char* path, unsigned id1, unsigned id2)
{
    if (!path || !*path)
        return false;
    // Non-blocking, so that a FIFO under that name is refused instead of waited on.
    CFileDescriptor fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0)
        return false;
    struct stat info;
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    uint64_t fileSize = uint64_t(info.st_size);
    if (fileSize < kPrefsMinBytes || fileSize > kMaxPrefsBytes)
        return false;
    try
    {
        std::vector<uint8_t> bytes(static_cast<size_t>(fileSize));
        if (!zan_detail::ReadAll(fd.Get(), bytes.data(), bytes.size()))
            return false;
        size_t bodySize = bytes.size() - kPrefsTrailerBytes;
        uint32_t stored;
        std::memcpy(&stored, bytes.data() + bodySize, sizeof stored);
        uint32_t hash = kFnvBasis;
        FnvAdd(hash, bytes.data(), bodySize);
        if (hash != stored)
            return false;

        CXMemFile file(bytes.data(), bodySize);
        CXArchive ar(&file, CXArchive::load, 4096);
        uint32_t magic, version, fileId1, fileId2;
        ar >> magic >> version >> fileId1 >> fileId2;
        if (magic != kPrefsMagic || version != kPrefsVersion || fileId1 != id1 || fileId2 != id2)
            return false;
        CCustomData loaded;
        loaded.Serialize(ar);
        if (ar.GetRemaining() != 0)
            return false;
        Swap(loaded);
        return true;
    }
    catch (const std::exception&)
    {
        return false;
    }
}
