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
