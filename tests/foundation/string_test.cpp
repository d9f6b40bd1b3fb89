// String formatting, editing, comparison, the string table hook and UTF-8 conversion.
#include <3dzan/foundation/exceptions.h>
#include <3dzan/foundation/xstring.h>

#include <gtest/gtest.h>

#include <map>

TEST(XTString, FormatHandlesLongOutputAndAppends)
{
    CXTString s;
    s.Format("%s=%d", "count", 42);
    EXPECT_EQ(s, "count=42");
    std::string longText(1000, 'x');
    s.Format("[%s]%05.1f", longText.c_str(), 3.14159);
    EXPECT_EQ(s.GetLength(), 1000 + 2 + 5);
    EXPECT_EQ(s.Right(5), "003.1");
    s.AppendFormat(" %u%%", 7u);
    EXPECT_EQ(s.Right(3), " 7%");
}

TEST(XTString, EditingAndSearching)
{
    CXTString s("a.b.c.obj");
    EXPECT_EQ(s.Replace(".", "::"), 3);
    EXPECT_EQ(s, "a::b::c::obj");
    EXPECT_EQ(s.Replace("", "x"), 0);
    EXPECT_EQ(s.Replace(':', '/'), 6);
    EXPECT_EQ(s.Find("//"), 1);
    EXPECT_EQ(s.Find("//", 2), 4);
    EXPECT_EQ(s.Find("zz"), -1);
    EXPECT_EQ(s.Find('o', 100), -1);
    EXPECT_EQ(s.ReverseFind('/'), 8);
    EXPECT_EQ(s.Mid(9), "obj");
    EXPECT_EQ(s.Mid(9, 1), "o");
    EXPECT_EQ(s.Mid(50), "");
    EXPECT_EQ(s.Left(100), s);
    EXPECT_EQ(s.Left(-1), "");
    EXPECT_EQ(s.Right(0), "");
    EXPECT_THROW(s.GetAt(s.GetLength()), CXInvalidArgException);

    CXTString t("  Mixed Case\t\n");
    EXPECT_EQ(t.Trim(), "Mixed Case");
    EXPECT_EQ(CXTString(t).MakeUpper(), "MIXED CASE");
    EXPECT_EQ(t.CompareNoCase("mixed CASE"), 0);
    EXPECT_LT(t.Compare("Mixed Cases"), 0);
    EXPECT_GT(t.Compare(nullptr), 0);
}

TEST(XTString, WideConversionRoundTripsAndRepairsBadBytes)
{
    const char* text = "Scène 3D – 日本 😀";
    CXTString s(text);
    std::wstring wide = s.ToWide();
    EXPECT_EQ(wide.size(), 15u);
    EXPECT_EQ(CXTString(wide.c_str()), s);

    // Truncated sequences, stray continuation bytes, overlong forms and surrogates.
    EXPECT_EQ(ZanUtf8ToWide("a\xC3"), L"a\uFFFD");
    EXPECT_EQ(ZanUtf8ToWide("\x80z"), L"\uFFFDz");
    EXPECT_EQ(ZanUtf8ToWide("\xC0\xAF"), L"\uFFFD");
    EXPECT_EQ(ZanUtf8ToWide("\xED\xA0\x80"), L"\uFFFD");
    EXPECT_EQ(ZanUtf8ToWide("\xE6\x97x"), L"\uFFFDx");
    EXPECT_EQ(ZanWideToUtf8(std::wstring(1, wchar_t(0x110000))), "\xEF\xBF\xBD");
}

namespace
{
class CTestTable : public CStringTable
{
public:
    const char* GetString(unsigned id) const override
    {
        auto it = m_Texts.find(id);
        return it == m_Texts.end() ? nullptr : it->second;
    }
    std::map<unsigned, const char*> m_Texts = {{9376, "Merging files"}, {48002, "Objects: %d"}};
};
} // namespace

TEST(XTString, LoadStringGoesThroughTheInstalledTable)
{
    const CStringTable* previous = CXTString::GetStringTable();
    CXTString::SetStringTable(nullptr);
    CXTString s("old");
    EXPECT_FALSE(s.LoadStringW(9376));
    EXPECT_TRUE(s.IsEmpty());

    CTestTable table;
    CXTString::SetStringTable(&table);
    EXPECT_TRUE(s.LoadStringW(9376));
    EXPECT_EQ(s, "Merging files");
    EXPECT_FALSE(s.LoadStringW(1));
    s.FormatId(48002, 12);
    EXPECT_EQ(s, "Objects: 12");
    EXPECT_EQ(CXTString::FromId(9376), "Merging files");
    CXTString::SetStringTable(previous);
}
