/// \file preferences.h
/// \brief C3DPreferences, the process-wide store of the library's user settings.
#pragma once

#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/services.h>
#include <3dzan/viewer/viewsettings.h>

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

    /// \brief Default smoothing angle of normals, radians (31 degrees when unset).
    float GetSmoothAngle() const;
    /// \brief Ignored unless the angle lies between 0 and 180.005 degrees.
    void SetSmoothAngle(float angle);
    /// \brief Default normal weighting mode (2, area weighted, when unset).
    unsigned GetSmoothMode() const;
    /// \brief A mode of 0 (the scene's value) is ignored.
    void SetSmoothMode(unsigned mode);
    /// \brief Subdivision level of patches (1 when unset).
    unsigned GetPatchLevel() const;
    void SetPatchLevel(unsigned level);
    /// \brief View angle of the isometric views, radians (30 degrees when unset).
    float GetViewAngle() const;
    void SetViewAngle(float angle);

    /// \brief Folders searched for texture files.
    CXArray<CXTString> GetTexturePaths() const;
    void SetTexturePaths(const CXArray<CXTString>& paths);
    /// \brief Folders searched for LightWave files.
    CXArray<CXTString> GetLWPaths() const;
    void SetLWPaths(const CXArray<CXTString>& paths);

    /// \brief The SketchUp reader program: the stored path when that file exists, otherwise
    ///        the application folder.
    CXTString GetSketchupPath() const;
    /// \brief Stores the path only when the file exists; returns whether it was stored.
    bool SetSketchupPath(const CXTString& path);
    /// \brief The Maya companion program and its check value; false when none is stored.
    bool GetMayaPath(CXTString& path, unsigned& check) const;
    void SetMayaPath(const CXTString& path, unsigned check);

    /// \brief Stores the view flags, standard direction and view matrix of \p settings as the
    ///        default of view \p viewId (0: the default of every view).
    void SetDefaultGLViewSettings(const GlViewSettings& settings, unsigned viewId);
    /// \brief Fills \p settings with the default of view \p viewId, else the default of every
    ///        view, else front view with the standard flags (field mask 24; plus the matrix
    ///        bit when the stored direction is none). Returns whether a record was found.
    bool GetDefaultGLViewSettings(GlViewSettings& settings, unsigned viewId) const;
    /// \brief Whether view \p viewId has a valid default of its own.
    bool HasDefaultGLViewSettings(unsigned viewId) const;
    void RemoveDefaultGLViewSettings(unsigned viewId);

    /// \brief Raw caller data under \p id, copied into \p data up to \p size bytes.
    /// \return whether the id holds raw data.
    bool GetBinaryData(unsigned id, void* data, unsigned size) const;
    /// \brief Raw caller data under \p id, whole; false when absent.
    bool GetBinaryData(unsigned id, CXArray<unsigned char>& data) const;
    /// \brief Stores raw caller data under \p id.
    void SetBinaryData(unsigned id, const void* data, unsigned size);
    /// \brief Removes a value; false when absent.
    bool RemoveValue(unsigned id);

    /// \brief The path of the preferences file.
    static CXTString GetPreferencesFile();

    /// Ids of the settings in the values bag.
    static constexpr unsigned kSmoothAngleId = 0x534D4147;  // "SMAG"
    static constexpr unsigned kSmoothModeId = 0x534D4D44;   // "SMMD"
    static constexpr unsigned kPatchLevelId = 0x50484C56;   // "PHLV"
    static constexpr unsigned kViewAngleId = 0x56574147;    // "VWAG"
    static constexpr unsigned kTexturePathsId = 0x54585450; // "TXTP"
    static constexpr unsigned kLWPathsId = 0x4C575650;      // "LWVP"
    static constexpr unsigned kViewSettingsId = 0x474C5347; // "GLSG"
    static constexpr unsigned kSketchupPathId = 0x534B5050; // "SKPP"
    static constexpr unsigned kMayaPathId = 0x4D415950;     // "MAYP"
    static constexpr unsigned kMayaCheckId = 0x4D415944;    // "MAYD"

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
    CXArray<CXTString> m_TexturePaths; ///< cached copy of the texture folder list
    CXArray<CXTString> m_LWPaths;      ///< cached copy of the LightWave folder list
};
