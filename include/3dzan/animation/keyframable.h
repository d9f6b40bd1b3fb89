/// \file keyframable.h
/// \brief Objects that own time-ordered keys: the animatable interface and C3DKeyframable.
///
/// Scene nodes, materials and texture maps own a list of keys sorted by time; keys of several
/// classes may share a time, two keys of the same class id never do. A value is read at a
/// tick by Evaluate: held at the first key before it, at the last key after it, and
/// interpolated between the two keys around it.
///
/// Look-up modes (`_KEY_LOOKUP`, the *mode* of GetKey and GetConstKey), counting only keys of
/// the asked class id (any key for class id 0):
///
/// | Mode | Key found                                                               |
/// |------|-------------------------------------------------------------------------|
/// | 4    | the key exactly at the time                                             |
/// | 2    | the first key strictly after the time                                   |
/// | 1    | the last key strictly before the time                                   |
/// | 5    | the last key at or before the time                                      |
/// | 6    | the first key strictly after the time, or else the key exactly at it    |
/// | 3    | the last key strictly before the time, or else the first one after it   |
/// | 7    | the last key at or before the time, or else the first one after it      |
///
/// Bits above 0x7 are ignored; mode 0 finds nothing.
///
/// Archive (`C3DKeyframable::Serialize`): the key count (u32), then per key in time order
/// its time (i32), its class id (u64) and the key's own archive (keys.h). Loading replaces
/// the keys only when the whole list was read: a truncated list, a kind tag that names no
/// key class or a key whose archive contradicts its class id raises CXArchiveException and
/// leaves the keys as they were.
#pragma once

#include <3dzan/animation/keys.h>

#include <memory>
#include <vector>

/// \brief Bits of a look-up mode.
enum _KEY_LOOKUP : unsigned
{
    _KeyBefore = 0x1, ///< strictly before the time
    _KeyAfter = 0x2,  ///< strictly after the time
    _KeyAt = 0x4,     ///< exactly at the time
    _KeyAtOrBefore = _KeyAt | _KeyBefore,
    _KeyAfterOrAt = _KeyAt | _KeyAfter
};

/// \brief Something whose keys can be looked up by time: keyframable objects, and the scene
///        as a whole.
class ZAN_API C3DAnimatable
{
public:
    virtual ~C3DAnimatable();
    /// \brief The times of the first and last key of class \p classId (every key for 0);
    ///        (0, 0) when there is none.
    virtual CTimeRange GetTimeRange(uint64_t classId) const = 0;
    /// \brief The key that \p mode finds around \p time among the keys of \p classId, its
    ///        time in \p keyTime (when not null; −1 when none). Null when none.
    virtual const C3DKeyframe* GetConstKey(int time, unsigned mode, uint64_t classId,
                                           int* keyTime) const = 0;
    /// \brief The time of the key GetConstKey finds, or \p time itself when there is none.
    int GetKeyTime(int time, unsigned mode, uint64_t classId) const;
};

/// \brief An object that owns a list of keys sorted by time.
///
/// Copies are deep; the keys belong to the object and die with it.
class ZAN_API C3DKeyframable : public C3DAnimatable
{
public:
    C3DKeyframable();
    C3DKeyframable(const C3DKeyframable& other);
    ~C3DKeyframable() override;

    /// \brief Adds \p key at \p time and takes ownership of it. A key of the same class id at
    ///        the same time is deleted and replaced in its slot; otherwise the key goes after
    ///        every key at or before \p time.
    /// \return the index of the key, or 0xFFFFFFFF (and nothing added) for a null key.
    unsigned AddKey(int time, C3DKeyframe* key);
    /// \brief Adds a copy of \p key at \p time; returns its index.
    unsigned AddKey(int time, const C3DKeyframe& key);
    /// \brief Makes a key of \p classId (with a curve of \p curveClassId when that names one)
    ///        and adds it at \p time. Null, nothing added, for an unknown kind tag. The key
    ///        stays owned by this object.
    C3DKeyframe* CreateKey(int time, uint64_t classId, unsigned curveClassId = 0);

    /// \brief The key that \p mode finds (see the file comment); its time in \p keyTime (−1
    ///        when none). Null when none. The key stays owned by this object.
    C3DKeyframe* GetKey(int time, unsigned mode, uint64_t classId, int* keyTime = nullptr);
    const C3DKeyframe* GetKey(int time, unsigned mode, uint64_t classId,
                              int* keyTime = nullptr) const;
    /// \brief The same look-up for the class id of \p out; the key found is copied into
    ///        \p out. false, \p out unchanged, when none is found.
    bool GetKey(int time, unsigned mode, C3DKeyframe& out, int* keyTime = nullptr) const;
    const C3DKeyframe* GetConstKey(int time, unsigned mode, uint64_t classId,
                                   int* keyTime) const override;

    /// \brief With \p classId 0, the key at position \p index; otherwise the \p index-th key
    ///        (from 0, in time order) of that class id. Null when there is none; its time in
    ///        \p keyTime (−1 when none).
    C3DKeyframe* GetKeyByIndex(unsigned index, int* keyTime = nullptr, uint64_t classId = 0);
    const C3DKeyframe* GetKeyByIndex(unsigned index, int* keyTime = nullptr,
                                     uint64_t classId = 0) const;
    /// \brief The number of keys of \p classId; every key for 0.
    unsigned GetKeyNbr(uint64_t classId = 0) const;
    CTimeRange GetTimeRange(uint64_t classId = 0) const override;

    /// \brief The value of the quantity of \p out's class id at \p time, into \p out: the
    ///        key's own value at a key, the nearest key's before the first or after the last,
    ///        and the interpolation of the keys around \p time between two keys.
    /// \return false, \p out unchanged, when there is no key of that class id.
    bool Evaluate(int time, C3DKeyframe& out) const;

    /// \brief Deletes every key.
    void DeleteAllKeys();
    /// \brief Deletes the keys exactly at \p time, only those of \p classId unless it is 0.
    /// \return the number of keys deleted.
    unsigned DeleteKey(int time, uint64_t classId = 0);

    /// \brief Replaces the keys by copies of \p other's.
    C3DKeyframable& operator=(const C3DKeyframable& other);
    /// \brief The same number of keys, at the same times, equal in order.
    bool operator==(const C3DKeyframable& other) const;
    bool operator!=(const C3DKeyframable& other) const { return !(*this == other); }
    /// \brief Exchanges the keys of two objects.
    void SwapKeys(C3DKeyframable& other) noexcept;

    /// \brief Stores or loads the keys (see the file comment).
    virtual void Serialize(CXArchive& ar);

protected:
    /// One record of the list: a time and the key it owns.
    struct _KeyframeInfo
    {
        int m_Time = 0;
        std::unique_ptr<C3DKeyframe> m_Key;
    };

    /// Index of the record the look-up finds, or -1.
    int FindIndex(int time, unsigned mode, uint64_t classId) const;

    std::vector<_KeyframeInfo> m_Keys; ///< sorted by time
};
