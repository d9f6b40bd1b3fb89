/// \file frame.h
/// \brief The library frame: start-up and shutdown, the string tables and the resource handle.
#pragma once

#include <3dzan/foundation/xstring.h>

#include <vector>

/// \brief Languages of the string tables.
enum _ZanLanguage
{
    _LanguageEnglish = 0,
    _LanguageFrench = 1,
    _LanguageFromEnvironment = -1 ///< for Zan3DSetLanguage: choose from the environment again
};

/// \brief The language the library's texts are shown in.
///
/// Chosen from the environment on first use: `ZAN3D_LANG` when set and not empty, else the
/// first of `LC_ALL`, `LC_MESSAGES`, `LANG` that is set and not empty; French when that
/// value starts with "fr", English otherwise.
ZAN_API int Zan3DGetLanguage();
/// \brief Forces a language, or goes back to the environment's with _LanguageFromEnvironment.
ZAN_API void Zan3DSetLanguage(int language);

/// \brief The text of \p id in the current language; null when the table lacks it.
ZAN_API const char* Zan3DGetString(unsigned id);
/// \brief The text of \p id in \p language; null when that table lacks it.
ZAN_API const char* Zan3DGetStringIn(int language, unsigned id);
/// \brief Every id of a language's table, in increasing order.
ZAN_API std::vector<unsigned> Zan3DGetStringIds(int language);

/// \brief Flags of Init3DZan and Close3DZan.
enum _Init3DZanFlags
{
    _InitNoCommandNames = 0x1, ///< do not name the viewer's command group and categories
    _InitNoPlugins = 0x2,      ///< do not load (at close: free) the format plug-ins nor
                               ///< register the ".xsi" file type
    _InitShareResources = 0x100 ///< make the library's resources reachable from the caller
};

/// \brief Starts the library; calls nest by count and only the first does the start-up work.
///
/// The first call (count 0 to 1) loads the format plug-ins and registers the ".xsi" file type
/// when no plug-in did (unless _InitNoPlugins), then names the viewer's command group and
/// categories (unless _InitNoCommandNames). _InitShareResources is honoured on every call:
/// the calling module is added, once, to the modules that reach the library's resources.
ZAN_API void Init3DZan(unsigned flags);
/// \brief Ends one Init3DZan. The call that brings the count back to 0 saves the preferences
///        and, unless _InitNoPlugins is set, frees the format plug-ins. A close without a
///        matching init is ignored (and logged).
ZAN_API void Close3DZan(unsigned flags);
/// \brief Number of Init3DZan calls not yet matched by Close3DZan.
ZAN_API int Zan3DGetInitCount();

/// \brief The module handle of the library, which is also the handle of its resources
///        (string tables, dialog templates, bitmaps).
ZAN_API void* Zan3DResourceHandle();
/// \brief Whether the module \p module (a handle as dladdr reports it) was given access to
///        the library's resources by Init3DZan with _InitShareResources.
ZAN_API bool Zan3DIsResourceShared(const void* module);
/// \brief Number of modules given access to the library's resources.
ZAN_API int Zan3DGetSharedResourceNbr();
