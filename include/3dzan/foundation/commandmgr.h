/// \file commandmgr.h
/// \brief The command manager's names: the command groups and the menu categories that
///        commands file themselves under.
///
/// Groups and categories are four-character codes named by a string-table id; the text is
/// looked up when asked for, so it follows the current language.
#pragma once

#include <3dzan/foundation/xstring.h>

#include <vector>

/// \brief Finds, stacks and dispatches commands; here, its registry of group and category names.
class ZAN_API CCommandMgr
{
public:
    /// \brief Names a command group. A code registered again takes the new string id.
    static void RegisterGroupName(unsigned code, unsigned stringId);
    /// \brief Names a command category (a menu). A code registered again takes the new id.
    static void RegisterCategoryName(unsigned code, unsigned stringId);

    /// \brief Whether the code has been named.
    static bool IsGroupRegistered(unsigned code);
    static bool IsCategoryRegistered(unsigned code);
    /// \brief The string-table id of a group or category, 0xFFFFFFFF when not registered.
    static unsigned GetGroupNameId(unsigned code);
    static unsigned GetCategoryNameId(unsigned code);
    /// \brief The text of a group or category in the current language; empty when unknown.
    static CXTString GetGroupName(unsigned code);
    static CXTString GetCategoryName(unsigned code);
    /// \brief Codes in the order they were first registered.
    static std::vector<unsigned> GetGroupCodes();
    static std::vector<unsigned> GetCategoryCodes();
    /// \brief Forgets every group and category name (tests, and hosts that unload).
    static void ResetNames();
};
