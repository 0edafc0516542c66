// Variant copies and number conversion: what a component may keep of a
// host's value, and what a typed assignment takes.
#include <gtest/gtest.h>

#include <vector>

#include "ComTypes.h"

namespace kcom {
namespace {

VARIANT Of(VARTYPE type) {
    VARIANT v;
    VariantInit(&v);
    v.vt = type;
    return v;
}

TEST(VariantCopy, EveryOfferedTypeIsCopiedWholeAndTheRestRefusedLeavingTheTarget) {
    VARIANT number = Of(VT_I8);
    number.llVal = -1234567890123LL;
    VARIANT single = Of(VT_R4);
    single.fltVal = 2.5f;
    VARIANT money = Of(VT_CY);
    money.cyVal.int64 = 123456;
    VARIANT small = Of(VT_UI1);
    small.bVal = 200;
    for (const VARIANT& source : {number, single, money, small}) {
        VARIANT copy = Of(VT_EMPTY);
        ASSERT_EQ(VariantCopy(&copy, &source), S_OK) << source.vt;
        EXPECT_EQ(copy.vt, source.vt);
        EXPECT_EQ(copy.llVal & 0xFF, source.llVal & 0xFF);
    }

    // A string behind a reference is copied, not pointed at.
    BSTR text = AllocString("kept");
    VARIANT held = Of(VT_BSTR | VT_BYREF);
    held.pbstrVal = &text;
    VARIANT copy = Of(VT_EMPTY);
    ASSERT_EQ(VariantCopyInd(&copy, &held), S_OK);
    SysFreeString(text);
    EXPECT_EQ(ToUtf8(copy.bstrVal), "kept");

    // Arrays, records and decimals are not offered: the target keeps its value.
    int dummy = 0;
    for (VARTYPE refused : {VARTYPE(VT_ARRAY | VT_I4), VARTYPE(VT_ARRAY | VT_BSTR),
                            VARTYPE(VT_RECORD), VARTYPE(VT_DECIMAL), VARTYPE(VT_VARIANT),
                            VARTYPE(VT_ARRAY | VT_I4 | VT_BYREF), VARTYPE(99)}) {
        VARIANT source = Of(refused);
        source.byref = &dummy;
        EXPECT_EQ(VariantCopy(&copy, &source), DISP_E_TYPEMISMATCH) << refused;
        EXPECT_EQ(VariantCopyInd(&copy, &source), DISP_E_TYPEMISMATCH) << refused;
        EXPECT_EQ(copy.vt, VT_BSTR);
        EXPECT_EQ(ToUtf8(copy.bstrVal), "kept");
    }

    // A reference to a reference (here to itself) is refused, not followed.
    VARIANT loop = Of(VT_VARIANT | VT_BYREF);
    loop.pvarVal = &loop;
    EXPECT_EQ(VariantCopyInd(&copy, &loop), E_INVALIDARG);
    VariantClear(&copy);
}

TEST(VariantToInt32, TakesAnythingThatConvertsToANumber) {
    int32_t number = 0;
    VARIANT v = Of(VT_EMPTY);
    EXPECT_EQ(ToInt32(v, number), S_OK);
    EXPECT_EQ(number, 0);
    v = Of(VT_R4);
    v.fltVal = 43.6f;
    EXPECT_EQ(ToInt32(v, number), S_OK);
    EXPECT_EQ(number, 44);
    v = Of(VT_UI1);
    v.bVal = 44;
    EXPECT_EQ(ToInt32(v, number), S_OK);
    EXPECT_EQ(number, 44);
    v = Of(VT_I8);
    v.llVal = -44;
    EXPECT_EQ(ToInt32(v, number), S_OK);
    EXPECT_EQ(number, -44);
    v = Of(VT_CY);
    v.cyVal.int64 = 440000;
    EXPECT_EQ(ToInt32(v, number), S_OK);
    EXPECT_EQ(number, 44);
    for (const char* text : {"44", " 44 ", "+44", "4.4e1"}) {
        v = Of(VT_BSTR);
        v.bstrVal = AllocString(text);
        EXPECT_EQ(ToInt32(v, number), S_OK) << text;
        EXPECT_EQ(number, 44) << text;
        VariantClear(&v);
    }
    for (const char* text : {"", "abc", "44x", "4 4"}) {
        v = Of(VT_BSTR);
        v.bstrVal = AllocString(text);
        EXPECT_EQ(ToInt32(v, number), DISP_E_TYPEMISMATCH) << text;
        VariantClear(&v);
    }
    EXPECT_EQ(ToInt32(Of(VT_NULL), number), DISP_E_TYPEMISMATCH);
    v = Of(VT_I8);
    v.llVal = 1LL << 40;
    EXPECT_EQ(ToInt32(v, number), DISP_E_OVERFLOW);
    int8_t byReference = -5;
    v = Of(VT_I1 | VT_BYREF);
    v.byref = &byReference;
    EXPECT_EQ(ToInt32(v, number), S_OK);
    EXPECT_EQ(number, -5);
}

}  // namespace
}  // namespace kcom
