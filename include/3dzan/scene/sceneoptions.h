/// \file sceneoptions.h
/// \brief CSceneImportOptions and CSceneExportOptions: the options that travel between a
///        caller, a format parser and the scene conversions run after a read
///        (C3DScene::CheckoutImport) and before a write (C3DScene::InitExport).
///
/// *Persistence.* The persistent part lives in the base's custom data: "FLAG" (the flags)
/// and, for exports, "TXPT" (the texture folder). Import flags are stored without the
/// transient bit 0x2; export flags are stored, and loaded, without the transient mask
/// 0x85227F.
#pragma once

#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/xstring.h>

class C3DScene;

/// \brief Import flags (CSceneImportOptions::m_Flags), acted on by C3DScene::CheckoutImport.
enum _IMPORT_FLAGS : unsigned
{
    _ImportTriangulate = 0x1,        ///< triangulate every face
    _ImportWeld = 0x2,               ///< weld coincident points (transient: never stored)
    _ImportMergeCoplanar = 0x4,      ///< merge coplanar faces
    _ImportUnifyNormals = 0x8,       ///< orient the faces of each part alike
    _ImportConcatenate = 0x10,       ///< one object for the whole scene
    _ImportMergeByMaterials = 0x20,  ///< one object per material (without 0x10)
    _ImportGlobalCoordinates = 0x40, ///< bake the node transformations into the objects
    _ImportCleanGroups = 0x80,       ///< remove empty groups
    _ImportGenerateUVW = 0x100,      ///< texture coordinates from the material projections
    _ImportDisconnectFaces = 0x200,  ///< split points along texture and colour seams
    _ImportRemoveHidden = 0x400,     ///< remove hidden nodes
    _ImportNoCheckout = 0x2000000    ///< skip the whole checkout
};

/// \brief Export flags (CSceneExportOptions::m_Flags), acted on by C3DScene::InitExport.
enum _EXPORT_FLAGS : unsigned
{
    _ExportRemoveGroups = 0x1,
    _ExportRemoveCurves = 0x2,           ///< objects of kind 2
    _ExportRemovePatches = 0x4,          ///< objects of kind 4
    _ExportRemovePolygonal = 0x8,        ///< objects of kind 1
    _ExportNoUVW = 0x10,                 ///< remove texture-coordinate channels
    _ExportNoVC = 0x20,                  ///< remove vertex-colour channels
    _ExportNoSpecNormals = 0x40,         ///< remove specified normals
    _ExportHidden = 0x100,               ///< keep hidden nodes
    _ExportRemoved = 0x200,              ///< set when the export removed nodes
    _ExportTriangulate = 0x400,          ///< triangulate every face
    _ExportQuadrangulate = 0x800,        ///< triangulate faces of more than four corners
    _ExportDisconnectFaces = 0x1000,     ///< split points along texture and colour seams
    _ExportConcatenate = 0x2000,         ///< one object named after the destination file
    _ExportPatchSubdivided = 0x4000,     ///< patches become their subdivided mesh
    _ExportPatchSource = 0x8000,         ///< patches become their control mesh
    _ExportForceNameRules = 0x10000,     ///< apply the name rules even when both words are 0
    _ExportGenerateUVW = 0x20000,        ///< texture coordinates from the material projections
    _ExportKeepChannels = 0x40000,       ///< no globalising of the texture channels
    _ExportGlobalCoordinates = 0x80000,  ///< bake the node transformations into the objects
    _ExportMoveTextures = 0x100000,      ///< copy textures to the texture folder; group parents
    _ExportRenameTextures = 0x200000,    ///< unique texture names on conflicts
    _ExportKeepUnusedMaterials = 0x400000,
    _ExportKeepBackMaterials = 0x800000,
    _ExportUpdate = 0x80000000u          ///< update the file the scene was read from
};

/// \brief Options bits of a name rule word (its high 8 bits; the low 24 hold a length limit,
///        0 for none).
enum _NAME_RULE_FLAGS : unsigned
{
    _NameRuleSpaces = 0x1,       ///< each space becomes '_'
    _NameRuleDefault = 0x2,      ///< an empty name becomes the default name
    _NameRuleIdentifier = 0x4,   ///< every character other than a letter, a digit or '_' becomes '_'
    _NameRuleLengthMask = 0xFFFFFF
};

/// \brief Options of a scene read.
class ZAN_API CSceneImportOptions : public CIoOptions
{
public:
    /// \brief Import flags stored without this mask.
    static constexpr unsigned kTransientFlags = _ImportWeld;
    /// \brief Custom-data id of the stored flags ("FLAG").
    static constexpr unsigned kFlagsID = 0x464C4147;

    explicit CSceneImportOptions(unsigned flags = 0) : CIoOptions(true), m_Flags(flags) {}
    ~CSceneImportOptions() override;
    CSceneImportOptions(const CSceneImportOptions&) = default;
    CSceneImportOptions& operator=(const CSceneImportOptions&) = default;

    /// \brief Copies \p data into the persistent values, reads "FLAG" into the flags when
    ///        present and clears the transient bit.
    void InitFromSavedPrefs(const CCustomData& data) override;
    /// \brief Writes "FLAG" without the transient bit and returns the persistent values.
    CCustomData SaveToSavedPrefs() override;

    unsigned m_Flags;               ///< _IMPORT_FLAGS
    unsigned m_SwapMode = 0;        ///< given to C3DScene::SwapCoordinates
    unsigned m_OrientationMode = 0; ///< given to C3DScene::OrientScene (_UP_AXIS_MODE)
    unsigned m_ForcedFlags = 0;     ///< bits the parser always adds
    unsigned m_DefaultFlags = 0;    ///< the parser's default choice
};

/// \brief Options of a scene write, and the working copy of the scene being written.
class ZAN_API CSceneExportOptions : public CIoOptions
{
public:
    /// \brief Export flags neither stored nor loaded.
    static constexpr unsigned kTransientFlags = 0x85227F;
    /// \brief Custom-data ids of the stored flags ("FLAG") and texture folder ("TXPT").
    static constexpr unsigned kFlagsID = 0x464C4147;
    static constexpr unsigned kTextureFolderID = 0x54585054;
    /// \brief The texture folder used when none is stored.
    static const char* const kDefaultTextureFolder; // ".\Textures\"

    explicit CSceneExportOptions(unsigned flags = 0);
    /// \brief Does not release the working copy: that is C3DScene::ReleaseExport's job.
    ~CSceneExportOptions() override;
    /// \brief Copies every field, the used texture names included (the working copy pointer
    ///        too: the copies share it, and only one of them may release it).
    CSceneExportOptions(const CSceneExportOptions&) = default;
    CSceneExportOptions& operator=(const CSceneExportOptions&) = default;

    /// \brief A new heap instance with \p flags; release it with Delete.
    static CSceneExportOptions* Create(unsigned flags = 0);
    /// \brief Destroys \p options (null is accepted). true.
    static bool Delete(CSceneExportOptions* options);

    /// \brief Copies \p data into the persistent values, reads "FLAG" and "TXPT" (the default
    ///        folder when absent) and clears the transient bits.
    void InitFromSavedPrefs(const CCustomData& data) override;
    /// \brief Writes "FLAG" without the transient bits and "TXPT"; returns the persistent
    ///        values.
    CCustomData SaveToSavedPrefs() override;

    CHashTable<CXTString> m_UsedTextureNames; ///< file names placed by the texture moving
    C3DScene* m_ExportScene = nullptr;        ///< the working copy (C3DScene::InitExport)
    unsigned m_Flags;                         ///< _EXPORT_FLAGS
    unsigned m_SwapMode = 0;
    unsigned m_OrientationMode = 0;
    unsigned m_ForcedFlags = 0;
    unsigned m_DefaultFlags = 0;
    unsigned m_Unit = 0;           ///< the format's unit (_UNIT_MODE); 0 keeps the size
    int m_MaxPoints = -1;          ///< per object; -1 for no limit
    int m_MaxFaces = -1;           ///< per object; -1 for no limit
    unsigned m_MaterialNameRule = 0;
    unsigned m_ObjectNameRule = 0;
    unsigned m_Reserved = 0;
    CXTString m_DestinationFile;   ///< the complete name of the file being written
    CXTString m_TextureFolder;     ///< where textures are moved (relative to the destination)
    bool m_TextureFolderIsSceneFolder = false;
    int m_Reserved2 = -1;
};
