/// \file preferences.h
/// \brief C3DPreferences, the process-wide store of the library's user settings.
#pragma once

#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/services.h>

/// \brief The library's user settings: one object per process, created on first use, loaded
///        from "3dprefs.prefs" in the user preferences folder, saved by the last Close3DZan
///        and destroyed when the application exits.
///
/// Every access takes the object's lock, so worker threads may read while the main thread
/// writes.
class ZAN_API C3DPreferences
{
public:
    virtual ~C3DPreferences();
    C3DPreferences(const C3DPreferences&) = delete;
    C3DPreferences& operator=(const C3DPreferences&) = delete;

    /// \brief The singleton; the first call creates and loads it.
    static C3DPreferences& Get3DPreferences();
    /// \brief Whether the singleton exists (it is not created by asking).
    static bool Exists();

    /// \brief Writes the values to the preferences file when preference saving is enabled.
    /// \return false when saving is enabled but the file could not be written.
    bool Save() const;

    /// \brief A copy of every stored value.
    CCustomData GetValues() const;
    /// \brief Raw caller data stored under \p id; false when absent.
    bool GetBinaryData(unsigned id, CXArray<unsigned char>& data) const;
    /// \brief Stores raw caller data under \p id.
    void SetBinaryData(unsigned id, const void* data, size_t size);
    /// \brief Removes a value; false when absent.
    bool RemoveValue(unsigned id);

    /// \brief The path of the preferences file.
    static CXTString GetPreferencesFile();

    /// Ids of the preferences file header.
    static constexpr unsigned kFileId1 = 0x33445657; // "3DVW"
    static constexpr unsigned kFileId2 = 0x50524546; // "PREF"

protected:
    C3DPreferences() = default;
    /// \brief Loads the file once; later calls do nothing.
    void Init();

    mutable CXCriticalSection m_Lock;
    bool m_Loaded = false;
    CCustomData m_Values;
};
