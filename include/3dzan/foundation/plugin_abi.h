/* \file plugin_abi.h
 * \brief The binary interface between 3DZan and a format plug-in.
 *
 * A format plug-in is a shared object (`*.so`) that `RegisterIOPlugins` loads with dlopen.
 * It exports one C function, `Zan3DPluginEntry`, which receives a `ZanPluginHost`: a table
 * of functions through which the plug-in registers its file types and its parser
 * factories. A minimal plug-in is one file:
 *
 * \code
 * #include <3dzan/foundation/fileio.h>
 * #include <3dzan/foundation/plugin_abi.h>
 *
 * class CObjParser : public CFileParser { ... };
 *
 * static CFileParser* CreateParser(CFileIo* io, uint32_t, void*) { return new CObjParser(io); }
 *
 * ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
 * {
 *     if (!ZanPluginHostMatches(host))
 *         return ZAN3D_PLUGIN_ABI_VERSION;    // the host sees the mismatch and unloads us
 *     if (!(host->m_Family & 0x4000))
 *         return 0;                           // nothing for this family
 *     host->m_RegisterFileType(host, "Wavefront OBJ files", ".obj", ZanTag("OBJ "),
 *                              0x4000 | 0x3, 0, 0);
 *     host->m_RegisterParserFactory(host, ZanTag("OBJ "), &CreateParser, nullptr);
 *     return ZAN3D_PLUGIN_ABI_VERSION;
 * }
 * \endcode
 *
 * Rules of the interface:
 * - The host fills `m_AbiVersion` and `m_StructSize` first; a plug-in reads nothing else
 *   before it has checked them (`ZanPluginHostMatches`).
 * - The entry returns the ABI version the plug-in was built with when its registrations
 *   stand; 0 when it has nothing for the family being loaded (it is unloaded quietly);
 *   anything else is a failure. The host keeps what the plug-in registered only when the
 *   entry returns exactly the host's `m_AbiVersion`; otherwise it drops every registration,
 *   calls the exit function if one was set, unloads the plug-in and records why.
 * - Registrations are taken into account when the entry returns; the host table and the
 *   strings passed to it need to live only during the call (the host copies them).
 * - A file type is refused when its class code or one of its extensions is already
 *   registered (the first registration wins); the plug-in's parser factory for that class
 *   is still kept, and is offered after the parsers registered before it.
 * - A factory creates a parser for one read or write operation: it receives the operation
 *   (`CFileIo`), returns a new `CFileParser` built on it (the operation owns and deletes
 *   it), or null when it cannot handle that operation. C++ types cross the boundary here:
 *   a plug-in is built against the same headers and the same C++ runtime as the library.
 *   The plug-in stays loaded while any parser it made is alive.
 * - The exit function, when set, is called once, right before the plug-in is unloaded.
 *   It must not load or free plug-ins.
 * - The host functions must be called from the thread that runs the entry.
 *
 * Only the entry point needs C linkage (ZAN_PLUGIN_EXPORT gives it); the types below are
 * plain C so that the table reads the same from any compiler.
 */
#ifndef ZAN3D_FOUNDATION_PLUGIN_ABI_H
#define ZAN3D_FOUNDATION_PLUGIN_ABI_H

#include <stdint.h>

/* Version of this interface. It changes whenever the host table, the entry's contract or
 * the C++ classes a plug-in derives from (CFileParser, CFileIo, CIoOptions) change. */
#define ZAN3D_PLUGIN_ABI_VERSION 1
/* Name of the entry point the host looks up. */
#define ZAN3D_PLUGIN_ENTRY_NAME "Zan3DPluginEntry"

#ifdef __cplusplus
#define ZAN_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
class CFileIo;
class CFileParser;
#else
#define ZAN_PLUGIN_EXPORT __attribute__((visibility("default")))
typedef struct CFileIo CFileIo;
typedef struct CFileParser CFileParser;
#endif

/* Creates a parser for \p io, whose format has the class \p classCode; null when the
 * factory cannot serve this operation. \p userData is the value given at registration. */
typedef CFileParser* (*ZanParserFactory)(CFileIo* io, uint32_t classCode, void* userData);
/* Called once before the plug-in is unloaded, with the value given to m_SetExitFunction. */
typedef void (*ZanPluginExit)(void* userData);

/* What the host offers a plug-in during its entry call. */
typedef struct ZanPluginHost
{
    uint32_t m_AbiVersion; /* ZAN3D_PLUGIN_ABI_VERSION of the host */
    uint32_t m_StructSize; /* sizeof(ZanPluginHost) as the host knows it */
    uint32_t m_Family;     /* plug-in family being loaded: 0x4000 for 3D formats */
    void* m_HostData;      /* the host's; a plug-in never touches it */

    /* Registers a file type (see CFileExt in files.h): \p extensions is one extension or a
     * ';'-separated list, \p flags the kind and capability bits. Returns 1 when accepted,
     * 0 when refused (malformed, or class or extension already taken). */
    int (*m_RegisterFileType)(struct ZanPluginHost* host, const char* description,
                              const char* extensions, uint32_t classCode, uint32_t flags,
                              uint32_t readPlugin, uint32_t writePlugin);
    /* Registers a parser factory for a class code. Returns 1, or 0 when \p classCode is 0
     * or \p factory is null. */
    int (*m_RegisterParserFactory)(struct ZanPluginHost* host, uint32_t classCode,
                                   ZanParserFactory factory, void* userData);
    /* Sets the function called before the plug-in is unloaded (null: none). */
    void (*m_SetExitFunction)(struct ZanPluginHost* host, ZanPluginExit exitFunction,
                              void* userData);
    /* Names the plug-in in lists and messages (copied; the file name serves otherwise). */
    void (*m_SetPluginName)(struct ZanPluginHost* host, const char* name);
} ZanPluginHost;

/* The type of the entry point. */
typedef int (*ZanPluginEntry)(ZanPluginHost* host);

/* Whether \p host speaks the interface this plug-in was built for. */
static inline int ZanPluginHostMatches(const ZanPluginHost* host)
{
    return host != 0 && host->m_AbiVersion == ZAN3D_PLUGIN_ABI_VERSION &&
           host->m_StructSize >= sizeof(ZanPluginHost);
}

#endif /* ZAN3D_FOUNDATION_PLUGIN_ABI_H */
