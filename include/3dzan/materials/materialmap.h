/// \file materialmap.h
/// \brief Texture maps of materials, the library-wide defaults materials fall back on, and the
///        search for a map's image file.
///
/// Image loading is not part of this layer: reading the image a map names (and merging its
/// alpha image) belongs to the viewer's bitmap layer, which builds on FindBitmap. What lives
/// here is everything a map knows without the image: its file names, its channel, projection,
/// axis and animatable texture transform, and where its image file is found.
#pragma once

#include <3dzan/animation/keyframable.h>
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/xarray.h>
#include <3dzan/foundation/xobject.h>
#include <3dzan/foundation/xstring.h>

#include <functional>

class C3DScene;

// ================================================================ library defaults

/// \brief The library-wide settings that materials and maps fall back on: the smoothing angle
///        of materials without their own, and the texture search folders.
///
/// Those settings are the user's preferences (C3DPreferences), which live in the library
/// frame, a layer above materials. The frame therefore installs an implementation that reads
/// the preferences when the library is loaded; until one is installed (or after null is
/// installed) the built-in values below answer.
class ZAN_API CMaterialDefaults
{
public:
    virtual ~CMaterialDefaults();
    /// \brief The default smoothing angle, radians: 0.54105204 (31 degrees) built in.
    virtual float GetSmoothAngle() const;
    /// \brief The texture search folders: none built in.
    virtual CXArray<CXTString> GetTexturePaths() const;

    /// \brief Installs the source of the defaults (not owned; null goes back to the built-in
    ///        values). The object must outlive its installation.
    static void SetMaterialDefaults(const CMaterialDefaults* source);
    /// \brief The installed source, or the built-in one.
    static const CMaterialDefaults& GetMaterialDefaults();
};

// ================================================================ enumerations

/// \brief The slot of a material that a map fills. Any other value selects nothing.
enum MapType : int
{
    _MapNone = 0,
    _MapDiffuse = 1,
    _MapAmbient = 2,
    _MapSpecular = 3,
    _MapTransparency = 4,
    _MapBump = 5
};

/// \brief How the texture coordinates of a map are produced. Projections above
///        _ProjectionEnvironment work in the object's axes, so a change of axes
///        (SwapCoordinates) applies to them.
enum MapProjection : int
{
    _ProjectionChannel = 0,     ///< the texture coordinates of the map's channel
    _ProjectionEnvironment = 1, ///< reflection of the view direction about the normals
    _ProjectionPlanar = 2,      ///< flat along the map's axis
    _ProjectionCylindrical = 3, ///< around the map's axis
    _ProjectionSpherical = 4,   ///< latitude and longitude about the map's axis
    _ProjectionBox = 5          ///< planar along the dominant axis of each face
};

/// \brief The axis of a projection.
enum MapAxis : int
{
    _MapAxisX = 0,
    _MapAxisY = 1,
    _MapAxisZ = 2
};

/// \brief Flags of a map. Bits other than these are free for hosts; maps keep them through
///        copies and archives.
enum MAP_PROPERTIES : unsigned
{
    _MapReload = 0x01000000 ///< the image must be read again at its next use
};

// ================================================================ search folders

/// \brief Where the image files of a scene's maps are looked for: the scene's file (its folder
///        and that folder's parent) and the scene's own texture folders. The preferences'
///        texture folders (CMaterialDefaults) are searched after them.
///
/// The scene fills one from its file path and its texture folders; a caller without a scene
/// may name any file path and folders, or none (then names resolve against the current
/// folder and the preference folders only).
struct ZAN_API CTextureSearch
{
    CXTString m_SceneFile;                  ///< the scene's file; may be empty
    CXArray<CXTString> m_SceneTexturePaths; ///< the scene's own texture folders
    bool m_UsePreferencePaths = true;       ///< also search the preferences' texture folders

    /// \brief The folder of the scene's file ("" when there is no file).
    CXTString GetSceneFolder() const;
};

// ================================================================ CMaterialMap

/// \brief A texture map of a material: an image file (and an optional separate alpha image),
///        the texture-coordinate channel, projection and axis it is applied with, and an
///        animatable texture transform kept as keys.
///
/// Texture transform keys, by class id:
/// | Key                 | Class id             |
/// |---------------------|----------------------|
/// | rotation            | 0x524F544100000000   |
/// | matrix              | 0x4D41545200000000   |
/// | translation         | 0x5452414E5452414E   |
/// | scale               | 0x5343414C00000000   |
/// | tile vector         | 0x564543544D50544C   |
/// | axis-swap matrix    | 0x564543544D505357   |
///
/// The axis-swap key is a vector key whose matrix carries the swap; since a vector key's
/// archive holds only its vector, the map also writes that matrix into the key's custom data
/// (id "SWPM", 16 floats) and puts it back when it is loaded.
///
/// Archive (`Serialize`): the keys; file name; alpha file name; type, projection and axis
/// (i32 each); channel ID (u32); flags (u32); the custom data. A load that fails raises
/// CXArchiveException and leaves the map as it was.
class ZAN_API CMaterialMap : public CXObject, public C3DKeyframable
{
    ZAN_DECLARE_DYNCREATE(CMaterialMap)

public:
    static constexpr uint64_t kRotationKey = 0x524F544100000000ull;
    static constexpr uint64_t kMatrixKey = 0x4D41545200000000ull;
    static constexpr uint64_t kTranslationKey = 0x5452414E5452414Eull;
    static constexpr uint64_t kScaleKey = 0x5343414C00000000ull;
    static constexpr uint64_t kTileKey = 0x564543544D50544Cull;
    static constexpr uint64_t kAxisSwapKey = 0x564543544D505357ull;
    /// Custom data id, in the axis-swap key, of its matrix.
    static constexpr unsigned kSwapMatrixId = 0x5357504D; // "SWPM"

    /// \brief An empty map: no file, no channel (0xFFFFFFFF), type, projection and axis 0.
    CMaterialMap();
    /// \brief A copy of \p other (see operator=).
    CMaterialMap(const CMaterialMap& other);
    ~CMaterialMap() override;

    /// \brief A new map with these values; an empty file name is replaced by the text
    ///        "Unnamed material" of the string table. The caller owns the map.
    static CMaterialMap* Create(const CXTString& fileName, unsigned channelId, MapType type,
                                MapProjection projection);

    // ------------------------------------------------------------------ files

    const CXTString& GetFileName() const { return m_FileName; }
    void GetFileName(CXTString& name) const { name = m_FileName; }
    const CXTString& GetAlphaFileName() const { return m_AlphaFileName; }
    void GetAlphaFileName(CXTString& name) const { name = m_AlphaFileName; }
    /// \brief Sets the image file. When \p baseFolder is an existing folder and \p name lies
    ///        inside it, the name is first made relative to it.
    /// \return whether the stored name changed (a changed name means the image must be read
    ///         again).
    bool SetFileName(const CXTString& name, const CXTString& baseFolder = CXTString());
    /// \brief Sets the alpha image file, as SetFileName.
    bool SetAlphaFileName(const CXTString& name, const CXTString& baseFolder = CXTString());

    /// \brief Looks for the image file \p name along the folders of \p search and the
    ///        preferences' texture folders; the first candidate that opens wins.
    ///
    /// Candidates, in two passes (the first only for a relative name, resolving the whole
    /// name; the second with the name's file part alone), each pass in this order:
    /// 1. when the name has a folder part, the name resolved against the scene folder (an
    ///    absolute name stays as it is);
    /// 2. when both the name and the scene folder have a root, the scene folder's root, the
    ///    name's folders without their root, and the file name;
    /// 3. the name resolved against the scene folder (second pass: scene folder + file name);
    /// 4. the same against the scene folder's parent;
    /// 5. each search folder (the scene's, then the preferences'): first pass, absolute
    ///    folders only, the name resolved against it; second pass, the folder (made absolute
    ///    against the scene folder when relative) + file name.
    /// Backslashes in \p name count as folder separators and a leading drive ("C:") as a
    /// root, so names written on other systems are still found by their file part.
    /// \param absolute when true, a relative result is made absolute against the current
    ///        folder.
    /// \return false, with \p result emptied, when no candidate opens or \p name is empty.
    static bool FindBitmap(const CTextureSearch& search, const CXTString& name, CXTString& result,
                           bool absolute);
    /// \brief The path FindBitmap finds for the image (or, with \p alpha, the alpha image);
    ///        empty when the file is missing (the map keeps its name).
    CXTString GetBitmapPath(const CTextureSearch& search, bool alpha, bool absolute) const;
    /// \brief Whether the image file (or the alpha image file) can be found.
    bool IsBitmapFound(const CTextureSearch& search, bool alpha = false) const
    {
        return !GetBitmapPath(search, alpha, false).IsEmpty();
    }

    // ------------------------------------------------------------------ parameters

    unsigned GetChannelID() const { return m_ChannelID; }
    void SetChannelID(unsigned channelId) { m_ChannelID = channelId; }
    MapType GetType() const { return m_Type; }
    void SetType(MapType type) { m_Type = type; }
    MapProjection GetProjection() const { return m_Projection; }
    void SetProjection(MapProjection projection) { m_Projection = projection; }
    MapAxis GetAxis() const { return m_Axis; }
    void SetAxis(MapAxis axis) { m_Axis = axis; }
    unsigned GetFlags() const { return m_Flags; }
    bool IsFlagSet(MAP_PROPERTIES flag) const { return (m_Flags & flag) == unsigned(flag); }
    void SetFlag(MAP_PROPERTIES flag, bool set)
    {
        m_Flags = set ? m_Flags | unsigned(flag) : m_Flags & ~unsigned(flag);
    }
    /// \brief Replaces the whole flags word.
    void SetFlags(unsigned flags) { m_Flags = flags; }
    CCustomData& GetCustomData() { return m_CustomData; }
    const CCustomData& GetCustomData() const { return m_CustomData; }

    /// \brief Renumbers the channel: \p renumber is asked for (channel ID, channel type 1,
    ///        texture coordinates) and answers true with the new ID; IDs it does not know stay.
    ///        The scene's channel-renumbering map is fed through it.
    void ChangeChannelID(
        const std::function<bool(unsigned id, unsigned type, unsigned& newId)>& renumber);

    // ------------------------------------------------------------------ transform

    /// \brief The texture transform at \p time: the identity multiplied by the rotation,
    ///        matrix, translation, scale and axis-swap keys, in that order, each evaluated at
    ///        \p time (held before the first key and after the last); absent keys count as
    ///        the identity.
    void GetMatrix(int time, C4x4TMatrix<float>& matrix) const;
    /// \brief The tile vector at \p time; (1, 1, 1) without a tile key.
    void GetTile(int time, C3DTVector<float>& tile) const;
    void SetTile(int time, const C3DTVector<float>& tile);
    /// \brief The translation at \p time; (0, 0, 0) without a key.
    void GetTranslation(int time, C3DTVector<float>& translation) const;
    void SetTranslation(int time, const C3DTVector<float>& translation);
    /// \brief The rotation at \p time; the identity without a key.
    void GetRotation(int time, CQuaternion& rotation) const;
    void SetRotation(int time, const CQuaternion& rotation);
    /// \brief The rotation as heading, pitch and bank (x, y, z of the vector), radians.
    void GetHPBRotation(int time, C3DTVector<float>& hpb) const;
    void SetHPBRotation(int time, const C3DTVector<float>& hpb);
    /// \brief The scale at \p time; (1, 1, 1) without a key.
    void GetScale(int time, C3DTVector<float>& scale) const;
    void SetScale(int time, const C3DTVector<float>& scale);
    /// \brief Sets the matrix key at \p time.
    void SetMatrix(int time, const C4x4TMatrix<float>& matrix);
    /// \brief Adds \p offset to the translation at \p time.
    void Translate(int time, const C3DTVector<float>& offset);
    /// \brief Composes the rotation at \p time with \p rotation (the current one first).
    void Rotate(int time, const CQuaternion& rotation);
    /// \brief Multiplies the scale at \p time component by component.
    void Scale(int time, const C3DTVector<float>& factors);
    /// \brief For projections above _ProjectionEnvironment: multiplies the axis-swap matrix
    ///        (the key at time 0) on the right by the swap matrix of \p code
    ///        (SwapMatrix(code, identity), math.h). Other maps and invalid codes are left as
    ///        they are.
    void SwapCoordinates(unsigned code);
    /// \brief The axis-swap matrix (identity without the key).
    C4x4TMatrix<float> GetAxisSwapMatrix() const;

    // ------------------------------------------------------------------ copies and archive

    /// \brief Same type, axis, projection, channel, file names, flags and equal keys.
    bool operator==(const CMaterialMap& other) const;
    bool operator!=(const CMaterialMap& other) const { return !(*this == other); }
    /// \brief Copies every parameter, the keys and the custom data.
    CMaterialMap& operator=(const CMaterialMap& other);

    void Serialize(CXArchive& ar) override;

private:
    template <class KEY> KEY& KeyAt(int time, uint64_t classId);

    CXTString m_FileName;
    CXTString m_AlphaFileName;
    CCustomData m_CustomData;
    unsigned m_ChannelID = kZanNone;
    MapType m_Type = _MapNone;
    MapProjection m_Projection = _ProjectionChannel;
    MapAxis m_Axis = _MapAxisX;
    unsigned m_Flags = 0;
};
