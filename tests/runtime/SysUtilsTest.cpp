#include <gtest/gtest.h>

#include "SysUtils.h"

namespace {

struct IntCase {
    const char* text;
    bool valid;
    int32_t value;
};

const IntCase kIntCases[] = {
    {"0", true, 0},
    {"9080", true, 9080},
    {"   42", true, 42},
    {"+7", true, 7},
    {"-7", true, -7},
    {"2147483647", true, 2147483647},
    {"-2147483648", true, INT32_MIN},
    {"2147483648", false, 0},
    {"-2147483649", false, 0},
    {"$1a", true, 26},
    {"x1A", true, 26},
    {"X1a", true, 26},
    {"0x1a", true, 26},
    {"0X1A", true, 26},
    {"$FFFFFFFF", true, -1},
    {"$80000000", true, INT32_MIN},
    {"$100000000", false, 0},
    {"-$10", true, -16},
    {"  -0x10", true, -16},
    {"", false, 0},
    {" ", false, 0},
    {"$", false, 0},
    {"0x", false, 0},
    {"12 ", false, 0},
    {"1a", false, 0},
    {"abc", false, 0},
    {"\t5", false, 0},
    {"--5", false, 0},
    {"+-5", false, 0},
    {"0xx1", false, 0},
    {"00012", true, 12},
};

TEST(IntegerConversion, TableOfCases) {
    for (const IntCase& c : kIntCases) {
        SCOPED_TRACE(std::string("text '") + c.text + "'");
        int32_t value = 12345;
        EXPECT_EQ(TryStrToInt(c.text, value), c.valid);
        if (c.valid) {
            EXPECT_EQ(value, c.value);
            EXPECT_EQ(StrToInt(c.text), c.value);
            EXPECT_EQ(StrToIntDef(c.text, -99), c.value);
        } else {
            EXPECT_EQ(StrToIntDef(c.text, -99), -99);
            try {
                StrToInt(c.text);
                ADD_FAILURE() << "no EConvertError";
            } catch (const EConvertError& e) {
                EXPECT_EQ(e.Message(), std::string("'") + c.text + "' is not a valid integer value");
                EXPECT_STREQ(e.ClassName(), "EConvertError");
            }
        }
    }
}

TEST(Format, FillsTheSystemsPatterns) {
    EXPECT_EQ(Format("Socket Error # %d\r\n%s", {10061, "Connection refused."}),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(Format("OLE error %.8x", {int32_t(0x80040154)}), "OLE error 80040154");
    EXPECT_EQ(Format("OLE error %.8x", {26}), "OLE error 0000001A");
    EXPECT_EQ(Format("at %p.", {reinterpret_cast<const void*>(uintptr_t(0x1234))}), "at 00001234.");
    EXPECT_EQ(Format("100%% %s", {AnsiString("done")}), "100% done");
    EXPECT_THROW(Format("%d", {"text"}), EConvertError);
    EXPECT_THROW(Format("%s %s", {"one"}), EConvertError);
}

TEST(Exception, CarriesMessageAndZeroHelpContext) {
    Exception e("boom");
    EXPECT_EQ(e.Message(), "boom");
    EXPECT_EQ(e.HelpContext(), 0);
    EOleSysError ole("Class not registered", int32_t(0x80040154));
    EXPECT_EQ(ole.ErrorCode(), int32_t(0x80040154));
    EXPECT_STREQ(EIntfCastError().what(), "Interface not supported");
    EXPECT_STREQ(EOutOfMemory().what(), "Out of memory");
}

}  // namespace
