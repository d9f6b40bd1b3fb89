/// \file command.h
/// \brief CZanCommand, the base of every command: identity, parameters and the data it
///        receives and produces. The window side of commands (events, dialogs, menus) comes
///        with the viewer.
#pragma once

#include <3dzan/foundation/customdata.h>

/// \brief Result of applying a command.
enum CommandResult
{
    _CommandDone = 0,      ///< done
    _CommandFailed = 7,    ///< failed, or nothing to work on
    _CommandNoScene = 8,   ///< no scene to work on (no input scene and no frame)
    _CommandCancelled = 11 ///< cancelled by the user
};

/// \brief Identity of a command: six four-character codes.
struct ZAN_API CCommandID
{
    unsigned m_Group = 0;    ///< command group ("3DCO")
    unsigned m_SubGroup = 0; ///< group again, or a finer family
    unsigned m_Kind = 0;     ///< "SIMP" acts at once, "INTE" interactive tool, "DIAL" dialog
    unsigned m_Category = 0; ///< menu category ("FILE", "VIEW", ...)
    unsigned m_Code = 0;     ///< the command's own code
    unsigned m_Version = 1;

    bool operator==(const CCommandID& other) const;
    bool operator!=(const CCommandID& other) const { return !(*this == other); }
    /// \brief The codes as text, "3DCO/3DCO/SIMP/FILE/OPEN/1".
    CXTString ToString() const;
};

/// \brief Base of every command.
///
/// A command keeps its parameters in a property bag; callers set them before applying the
/// command, and the command reads them when it runs. The input and output data are bags
/// too: a scene travels in them as a pointer under a four-character id.
class ZAN_API CZanCommand
{
public:
    CZanCommand() = default;
    virtual ~CZanCommand();
    CZanCommand(const CZanCommand&) = delete;
    CZanCommand& operator=(const CZanCommand&) = delete;

    /// \brief The command's identity; the base has all codes 0.
    virtual CCommandID GetCommandID() const;

    /// \brief The parameters, to read or edit in place.
    CCustomData& GetCustomData() { return m_Parameters; }
    const CCustomData& GetCustomData() const { return m_Parameters; }
    /// \brief Replaces the parameters with a copy of \p parameters.
    /// \return false, leaving the parameters as they were, when AreParametersValid refuses.
    virtual bool SetParameters(const CCustomData& parameters);
    /// \brief Copies the parameters into \p parameters.
    virtual void GetParameters(CCustomData& parameters) const;
    /// \brief Whether \p parameters can be used by this command; the base accepts any bag.
    virtual bool AreParametersValid(const CCustomData& parameters) const;

    /// \brief The data the next application works on (replaced by a copy of \p data).
    void SetInputData(const CCustomData& data) { m_Input = data; }
    CCustomData& GetInputData() { return m_Input; }
    /// \brief What the last application produced.
    CCustomData& GetOutputData() { return m_Output; }
    const CCustomData& GetOutputData() const { return m_Output; }

    /// \brief Data formats the command accepts and produces (2: a scene).
    void SetInputDataFormat(unsigned format) { m_InputFormat = format; }
    void SetOutputDataFormat(unsigned format) { m_OutputFormat = format; }
    unsigned GetInputDataFormat() const { return m_InputFormat; }
    unsigned GetOutputDataFormat() const { return m_OutputFormat; }

private:
    CCustomData m_Parameters;
    CCustomData m_Input;
    CCustomData m_Output;
    unsigned m_InputFormat = 0;
    unsigned m_OutputFormat = 0;
};
