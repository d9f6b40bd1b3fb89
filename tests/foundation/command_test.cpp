// The command's parameter bag and identity.
#include <3dzan/foundation/command.h>

#include <gtest/gtest.h>

namespace
{
// A command that needs a positive "SIZE" parameter.
class CSizedCommand : public CZanCommand
{
public:
    CCommandID GetCommandID() const override
    {
        CCommandID id;
        id.m_Group = id.m_SubGroup = ZanTag("3DCO");
        id.m_Kind = ZanTag("SIMP");
        id.m_Category = ZanTag("VIEW");
        id.m_Code = ZanTag("SIZE");
        return id;
    }
    bool AreParametersValid(const CCustomData& parameters) const override
    {
        return parameters.GetInt(ZanTag("SIZE"), 0) > 0;
    }
};
} // namespace

TEST(Command, ParametersAreCopiedAndRefusedWhole)
{
    CSizedCommand command;
    CCustomData parameters;
    parameters.SetInt(ZanTag("SIZE"), 4);
    parameters.SetString(ZanTag("NAME"), "four");
    ASSERT_TRUE(command.SetParameters(parameters));
    parameters.SetInt(ZanTag("SIZE"), 9); // the command holds its own copy
    EXPECT_EQ(command.GetCustomData().GetInt(ZanTag("SIZE")), 4);

    CCustomData bad;
    bad.SetInt(ZanTag("SIZE"), -1);
    EXPECT_FALSE(command.SetParameters(bad));
    CCustomData back;
    command.GetParameters(back);
    EXPECT_EQ(back.GetInt(ZanTag("SIZE")), 4);
    EXPECT_EQ(back.GetString(ZanTag("NAME")), "four");
    EXPECT_TRUE(command.SetParameters(command.GetCustomData())); // from itself
    EXPECT_EQ(command.GetCustomData().GetCount(), 2);
}

TEST(Command, IdentityReadsAsCodes)
{
    CSizedCommand command;
    EXPECT_EQ(command.GetCommandID().ToString(), "3DCO/3DCO/SIMP/VIEW/SIZE/1");
    EXPECT_NE(command.GetCommandID(), CZanCommand().GetCommandID());
    int scene = 0;
    command.GetInputData().SetPointer(ZanTag("IOSC"), &scene);
    EXPECT_EQ(command.GetInputData().GetPointer(ZanTag("IOSC")), &scene);
}
