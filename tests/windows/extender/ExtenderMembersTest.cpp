// What the 1C host learns of the driver before it calls anything: its name, its members by
// number and by English or Russian name, their parameters and results.
#include <array>

#include "tests/windows/extender/ExtenderHost.h"

namespace wedgecard::test {
namespace {

class ExtenderMembers : public ExtenderTest {
protected:
    // GetMethodName's answer: status and name. The name is an [out] string: what it held
    // before stays the caller's, and a number out of range must still empty it.
    std::pair<HRESULT, std::wstring> MethodName(long Number, long Alias) {
        TBstrArg stale(L"stale");
        BSTR name = stale.Get();
        const HRESULT status = Extender->GetMethodName(Number, Alias, &name);
        if (name == stale.Get()) {
            return {status, L"(left as it was)"};
        }
        std::wstring text = name == nullptr ? L"" : std::wstring(name, SysStringLen(name));
        SysFreeString(name);
        return {status, text};
    }

    std::pair<HRESULT, long> FindMethod(const std::wstring& Name) {
        TBstrArg name(Name);
        long number = 77;
        const HRESULT status = Extender->FindMethod(name.Get(), &number);
        return {status, number};
    }
};

struct TDriverMethod {
    long Number;
    const wchar_t* Name;
    const wchar_t* Alias;
    long Params;
};

constexpr std::array<TDriverMethod, 6> DriverMethods{{
    {mGetVersion, L"GetVersion", L"ПолучитьНомерВерсии", 0},
    {mGetLastError, L"GetLastError", L"ПолучитьОшибку", 1},
    {mOpen, L"Open", L"Подключить", 2},
    {mClose, L"Close", L"Отключить", 1},
    {mEventProcessed, L"EventProcessed", L"СобытиеОбработано", 2},
    {mDeviceTest, L"DeviceTest", L"ТестУстройства", 2},
}};

TEST_F(ExtenderMembers, ListsTheSevenInheritedFunctionsThenTheSixMethods) {
    long count = 0;
    ASSERT_EQ(Extender->GetNMethods(&count), S_OK);
    EXPECT_EQ(count, 13);

    constexpr std::array<const wchar_t*, 7> inherited{
        L"QueryInterface", L"AddRef",        L"Release", L"GetTypeInfoCount",
        L"GetTypeInfo",    L"GetIDsOfNames", L"Invoke"};
    for (long number = 0; number < 7; ++number) {
        SCOPED_TRACE(number);
        EXPECT_EQ(MethodName(number, 0),
                  std::make_pair(S_OK, std::wstring(inherited[static_cast<std::size_t>(number)])));
        EXPECT_EQ(MethodName(number, 1), std::make_pair(S_OK, std::wstring()));
    }
    for (const TDriverMethod& method : DriverMethods) {
        SCOPED_TRACE(Utf8(method.Name));
        EXPECT_EQ(MethodName(method.Number, 0), std::make_pair(S_OK, std::wstring(method.Name)));
        EXPECT_EQ(MethodName(method.Number, 1), std::make_pair(S_OK, std::wstring(method.Alias)));
        // Any non-zero alias selects the Russian name.
        EXPECT_EQ(MethodName(method.Number, -7), std::make_pair(S_OK, std::wstring(method.Alias)));
        long params = -1;
        EXPECT_EQ(Extender->GetNParams(method.Number, &params), S_OK);
        EXPECT_EQ(params, method.Params);
        BOOL hasValue = 77;
        EXPECT_EQ(Extender->HasRetVal(method.Number, &hasValue), S_OK);
        EXPECT_EQ(hasValue, 1);
    }
}

TEST_F(ExtenderMembers, NumbersOutsideTheTableAnswerWithoutAValue) {
    for (const long number : {13L, -1L, 1L << 30}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(MethodName(number, 0), std::make_pair(S_FALSE, std::wstring()));
        EXPECT_EQ(MethodName(number, 1), std::make_pair(S_FALSE, std::wstring()));
        long params = 77;
        EXPECT_EQ(Extender->GetNParams(number, &params), S_FALSE);
        EXPECT_EQ(params, 77);
        // HasRetVal reports success even here, and leaves the answer alone.
        BOOL hasValue = 77;
        EXPECT_EQ(Extender->HasRetVal(number, &hasValue), S_OK);
        EXPECT_EQ(hasValue, 77);
    }
}

TEST_F(ExtenderMembers, FindsMethodsByEitherNameInAnyLetterCase) {
    EXPECT_EQ(FindMethod(L"Open"), std::make_pair(S_OK, 9L));
    EXPECT_EQ(FindMethod(L"oPeN"), std::make_pair(S_OK, 9L));
    EXPECT_EQ(FindMethod(L"OPEN"), std::make_pair(S_OK, 9L));
    EXPECT_EQ(FindMethod(L"Подключить"), std::make_pair(S_OK, 9L));
    EXPECT_EQ(FindMethod(L"ПОДКЛЮЧИТЬ"), std::make_pair(S_OK, 9L));
    EXPECT_EQ(FindMethod(L"подключить"), std::make_pair(S_OK, 9L));
    EXPECT_EQ(FindMethod(L"пОДКлючить"), std::make_pair(S_OK, 9L));
    for (const TDriverMethod& method : DriverMethods) {
        SCOPED_TRACE(Utf8(method.Name));
        EXPECT_EQ(FindMethod(method.Name), std::make_pair(S_OK, method.Number));
        EXPECT_EQ(FindMethod(method.Alias), std::make_pair(S_OK, method.Number));
    }
    EXPECT_EQ(FindMethod(L"QueryInterface"), std::make_pair(S_OK, 0L));
    EXPECT_EQ(FindMethod(L"invoke"), std::make_pair(S_OK, 6L));
}

TEST_F(ExtenderMembers, NamesOfNoMethodAreNotFound) {
    for (const wchar_t* name : {L"nothing", L"Ope", L"Open ", L"Подключит", L"Подключить1",
                                // Look-alikes: a Cyrillic O, and full-width letters that a best-fit
                                // narrowing would turn into "Open".
                                L"\u041Epen", L"\uFF2F\uFF50\uFF45\uFF4E"}) {
        SCOPED_TRACE(Utf8(name));
        EXPECT_EQ(FindMethod(name), std::make_pair(S_FALSE, -1L));
    }
    // A name with a null inside is not the name before the null.
    EXPECT_EQ(FindMethod(std::wstring(L"Open\0Close", 10)), std::make_pair(S_FALSE, -1L));
}

TEST_F(ExtenderMembers, HasNoProperties) {
    long count = 77;
    EXPECT_EQ(Extender->GetNProps(&count), S_OK);
    EXPECT_EQ(count, 0);
    for (const wchar_t* name : {L"Open", L"", L"Version", L"Подключить"}) {
        TBstrArg bstr(name);
        long number = 77;
        EXPECT_EQ(Extender->FindProp(bstr.Get(), &number), S_FALSE);
        EXPECT_EQ(number, -1);
    }
    for (const long number : {0L, -1L, 13L}) {
        SCOPED_TRACE(number);
        BSTR name = nullptr;
        EXPECT_EQ(Extender->GetPropName(number, 0, &name), S_FALSE);
        EXPECT_EQ(SysStringLen(name), 0u);
        SysFreeString(name);
        BOOL readable = 77;
        BOOL writable = 77;
        EXPECT_EQ(Extender->IsPropReadable(number, &readable), S_FALSE);
        EXPECT_EQ(Extender->IsPropWritable(number, &writable), S_FALSE);
        EXPECT_EQ(readable, 77);
        EXPECT_EQ(writable, 77);
    }
}

TEST_F(ExtenderMembers, OffersNoDefaultValuesAndLeavesTheHostsVariantAlone) {
    for (const auto& [method, param] : {std::pair{9L, 0L}, {9L, 1L}, {12L, 5L}, {-1L, -1L}}) {
        TValue value = TValue::Text(L"host's");
        EXPECT_EQ(Extender->GetParamDefValue(method, param, value.Address()), S_OK);
        EXPECT_TRUE(IsString(value.Get(), L"host's"));
    }
}

TEST_F(ExtenderMembers, RegistersUnderItsOwnNameAndFreesTheHostsString) {
    TAllocationSpy spy;
    ASSERT_TRUE(spy.Registered());
    // Big enough to be seen among the allocator's blocks, and not kept in a string cache.
    constexpr UINT Large = 1u << 20;
    const std::size_t before = spy.LiveBlocksOfAtLeast(Large * sizeof(wchar_t));
    BSTR name = SysAllocStringLen(nullptr, Large);
    ASSERT_EQ(spy.LiveBlocksOfAtLeast(Large * sizeof(wchar_t)), before + 1);

    EXPECT_EQ(Extender->RegisterExtensionAs(&name), S_OK);

    EXPECT_EQ(std::wstring(name, SysStringLen(name)), L"LumMSRKBD1C");
    EXPECT_EQ(spy.LiveBlocksOfAtLeast(Large * sizeof(wchar_t)), before) << "the old name leaked";
    SysFreeString(name);

    BSTR none = nullptr;
    EXPECT_EQ(Extender->RegisterExtensionAs(&none), S_OK);
    EXPECT_EQ(std::wstring(none, SysStringLen(none)), L"LumMSRKBD1C");
    SysFreeString(none);
}

TEST_F(ExtenderMembers, GetInfoWritesTheVersionIntoElementZeroOnly) {
    THostArray info({TValue::Int(5), TValue::Text(L"keep"), TValue::Bool(true)});
    EXPECT_EQ(InitDone->GetInfo(info.Put()), S_OK);
    EXPECT_TRUE(IsString(info[0], L"1000"));
    EXPECT_TRUE(IsString(info[1], L"keep"));
    EXPECT_TRUE(IsBool(info[2], true));
    EXPECT_TRUE(info.Intact());

    THostArray empty({TValue()});
    EXPECT_EQ(InitDone->GetInfo(empty.Put()), S_OK);
    EXPECT_TRUE(IsString(empty[0], L"1000"));
    EXPECT_TRUE(empty.Intact());
}

TEST_F(ExtenderMembers, GetInfoReportsSuccessForArraysWithoutAnElementZero) {
    // An element 0 that does not exist is not written: below, nothing but the guards is there.
    THostArray nothing;
    EXPECT_EQ(InitDone->GetInfo(nothing.Put()), S_OK);
    EXPECT_TRUE(nothing.Intact());
    THostArray fromOne({TValue::Int(5)}, 1);
    EXPECT_EQ(InitDone->GetInfo(fromOne.Put()), S_OK);
    EXPECT_TRUE(IsInt(fromOne[1], 5));
    EXPECT_TRUE(fromOne.Intact());
    SAFEARRAY* null = nullptr;
    EXPECT_EQ(InitDone->GetInfo(&null), S_OK);
    EXPECT_EQ(InitDone->GetInfo(nullptr), S_OK);
    EXPECT_EQ(Version(), DriverVersion);
}

}  // namespace
}  // namespace wedgecard::test
