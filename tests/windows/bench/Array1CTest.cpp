#include <gtest/gtest.h>

#include <string>

#include "Benchpad_TLB.h"
#include "bench/oleArray1C.h"
#include "tests/windows/bench/ComTestSupport.h"

namespace benchpad::test {
namespace {

class Array1C : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_HRESULT_SUCCEEDED(TArray1C::Create(IID_IArray1C, &FArray));
    }
    void TearDown() override {
        FArray.Reset();
        ComTest::TearDown();
    }

    [[nodiscard]] LONG Count() {
        LONG count = -1;
        EXPECT_HRESULT_SUCCEEDED(FArray->get_Count(&count));
        return count;
    }
    void Add(const TVariant& Value) { ASSERT_HRESULT_SUCCEEDED(FArray->Add(Value.Get())); }
    [[nodiscard]] TVariant Get(LONG Index) {
        TVariant value;
        EXPECT_HRESULT_SUCCEEDED(FArray->Get(Index, value.Put()));
        return value;
    }
    // Get of an index that must fail: what the caller observes.
    struct TFailedGet {
        HRESULT Result;
        VARTYPE ResultType;
        std::wstring Description;
    };
    [[nodiscard]] TFailedGet FailingGet(LONG Index) {
        VARIANT result;
        V_VT(&result) = VT_I4;  // what an uninitialised result may hold
        V_I4(&result) = 123;
        const HRESULT hr = FArray->Get(Index, &result);
        const TFailedGet failed{hr, V_VT(&result), TakeErrorDescription()};
        VariantClear(&result);
        return failed;
    }

    ComPtr<IArray1C> FArray;
};

void ExpectInvalidIndex(const char* What, HRESULT Result, const std::wstring& Description) {
    EXPECT_EQ(Result, DISP_E_BADINDEX) << What;
    EXPECT_EQ(Description, L"Invalid array index") << What;
}

void ExpectInvalidIndex(const char* What, HRESULT Result) {
    ExpectInvalidIndex(What, Result, TakeErrorDescription());
}

TEST_F(Array1C, AddedValuesComeBackWithTheirTypes) {
    Add(Int(42));
    Add(Bool(true));
    Add(Text(L"Префикс #9"));
    Add(TVariant());

    ASSERT_EQ(Count(), 4);
    const TVariant integer = Get(0);
    EXPECT_EQ(V_VT(&integer.Get()), VT_I4);
    EXPECT_EQ(V_I4(&integer.Get()), 42);
    const TVariant boolean = Get(1);
    EXPECT_EQ(V_VT(&boolean.Get()), VT_BOOL);
    EXPECT_EQ(V_BOOL(&boolean.Get()), VARIANT_TRUE);
    const TVariant text = Get(2);
    ASSERT_EQ(V_VT(&text.Get()), VT_BSTR);
    EXPECT_EQ(WideOf(V_BSTR(&text.Get())), L"Префикс #9");
    EXPECT_EQ(V_VT(&Get(3).Get()), VT_EMPTY);
}

TEST_F(Array1C, StoresCopiesThatOutliveTheCallersValues) {
    {
        const TVariant text = Text(L"#13");
        Add(text);
    }
    LONG original = 100;
    VARIANT reference;
    V_VT(&reference) = VT_I4 | VT_BYREF;
    V_I4REF(&reference) = &original;
    ASSERT_HRESULT_SUCCEEDED(FArray->Add(reference));
    original = 5;

    EXPECT_EQ(WideOf(V_BSTR(&Get(0).Get())), L"#13");
    // A reference is stored as the value it pointed at: the caller's variable may be gone when
    // the driver reads the array.
    const TVariant stored = Get(1);
    EXPECT_EQ(V_VT(&stored.Get()), VT_I4);
    EXPECT_EQ(V_I4(&stored.Get()), 100);
}

TEST_F(Array1C, HoldsAReferenceToAStoredInterfaceUntilTheElementGoes) {
    ComPtr<IArray1C> other;
    ASSERT_HRESULT_SUCCEEDED(TArray1C::Create(IID_IArray1C, &other));
    const ULONG before = ReferenceCount(other.Get());

    Add(Object(other.Get()));
    Add(Object(other.Get()));
    EXPECT_EQ(ReferenceCount(other.Get()), before + 2);

    ASSERT_HRESULT_SUCCEEDED(FArray->Put(0, Int(1).Get()));
    EXPECT_EQ(ReferenceCount(other.Get()), before + 1);

    ASSERT_HRESULT_SUCCEEDED(FArray->Clear());
    EXPECT_EQ(ReferenceCount(other.Get()), before);
}

TEST_F(Array1C, GetOutsideTheElementsFailsWithAnEmptyResult) {
    for (const LONG index : {0, -1}) {
        const TFailedGet failed = FailingGet(index);
        ExpectInvalidIndex("empty array", failed.Result, failed.Description);
        EXPECT_EQ(failed.ResultType, VT_EMPTY);
    }
    Add(Int(1));
    Add(Int(2));
    for (const LONG index : {-1, 2}) {
        const TFailedGet failed = FailingGet(index);
        ExpectInvalidIndex("two elements", failed.Result, failed.Description);
        EXPECT_EQ(failed.ResultType, VT_EMPTY);
    }

    ComPtr<ISupportErrorInfo> support;
    ASSERT_HRESULT_SUCCEEDED(FArray.As(&support));
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IArray1C), S_OK);
}

TEST_F(Array1C, PutOutsideTheElementsFailsAndChangesNothing) {
    ExpectInvalidIndex("empty array", FArray->Put(0, Int(7).Get()));
    EXPECT_EQ(Count(), 0);

    Add(Text(L"#9"));
    ExpectInvalidIndex("index 1", FArray->Put(1, Int(7).Get()));
    ExpectInvalidIndex("index -1", FArray->Put(-1, Int(7).Get()));

    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(WideOf(V_BSTR(&Get(0).Get())), L"#9");
}

TEST_F(Array1C, PutReplacesAnElementAfterAdd) {
    Add(Int(1));

    ASSERT_HRESULT_SUCCEEDED(FArray->Put(0, Text(L"x").Get()));

    EXPECT_EQ(Count(), 1);
    const TVariant value = Get(0);
    ASSERT_EQ(V_VT(&value.Get()), VT_BSTR);
    EXPECT_EQ(WideOf(V_BSTR(&value.Get())), L"x");
}

TEST_F(Array1C, ClearEmptiesTheArrayAndSucceedsOnAnEmptyOne) {
    ASSERT_HRESULT_SUCCEEDED(FArray->Clear());
    EXPECT_EQ(Count(), 0);

    Add(Int(1));
    Add(Int(2));
    ASSERT_HRESULT_SUCCEEDED(FArray->Clear());

    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(FailingGet(0).Result, DISP_E_BADINDEX);
}

// --- Late bound, as the driver and scripts use it ----------------------------------------------

class Array1CByName : public Array1C {
protected:
    IDispatch* Dispatch() { return FArray.Get(); }
};

TEST_F(Array1CByName, MembersCarryTheLibrarysDispids) {
    const std::pair<const wchar_t*, DISPID> members[] = {{L"Count", 201}, {L"Get", 202},
                                                         {L"Put", 203},   {L"Add", 204},
                                                         {L"Clear", 205}, {L"count", 201}};
    for (const auto& [name, expected] : members) {
        DISPID id = DISPID_UNKNOWN;
        auto* names = const_cast<LPOLESTR>(name);
        ASSERT_HRESULT_SUCCEEDED(Dispatch()->GetIDsOfNames(IID_NULL, &names, 1, 0, &id)) << name;
        EXPECT_EQ(id, expected) << name;
    }
    DISPID id = 0;
    auto* unknown = const_cast<LPOLESTR>(L"Remove");
    EXPECT_EQ(Dispatch()->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(Array1CByName, AddCountGetAndPutWork) {
    const TVariant five = Int(5);
    const TVariant text = Text(L"#35");
    const TVariant zero = Int(0);
    const TVariant one = Int(1);
    const TVariant yes = Bool(true);

    ASSERT_HRESULT_SUCCEEDED(CallByName(Dispatch(), L"Add", DISPATCH_METHOD, {&five}).Result);
    ASSERT_HRESULT_SUCCEEDED(CallByName(Dispatch(), L"Add", DISPATCH_METHOD, {&text}).Result);
    ASSERT_HRESULT_SUCCEEDED(CallByName(Dispatch(), L"Put", DISPATCH_METHOD, {&zero, &yes}).Result);

    const TDispatchCall count = CallByName(Dispatch(), L"Count", DISPATCH_PROPERTYGET);
    ASSERT_HRESULT_SUCCEEDED(count.Result);
    EXPECT_EQ(V_VT(&count.Value.Get()), VT_I4);
    EXPECT_EQ(V_I4(&count.Value.Get()), 2);
    const TDispatchCall first = CallByName(Dispatch(), L"Get", DISPATCH_METHOD, {&zero});
    EXPECT_EQ(V_VT(&first.Value.Get()), VT_BOOL);
    const TDispatchCall second =
        CallByName(Dispatch(), L"Get", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {&one});
    ASSERT_EQ(V_VT(&second.Value.Get()), VT_BSTR);
    EXPECT_EQ(WideOf(V_BSTR(&second.Value.Get())), L"#35");
}

TEST_F(Array1CByName, InvalidIndexArrivesInTheExceptionInformation) {
    const TVariant index = Int(3);

    const TDispatchCall call = CallByName(Dispatch(), L"Get", DISPATCH_METHOD, {&index});

    EXPECT_EQ(call.Result, DISP_E_EXCEPTION);
    EXPECT_EQ(call.Code, DISP_E_BADINDEX);
    EXPECT_EQ(call.Description, L"Invalid array index");
}

// The library as the program carries it: what clients and the registry see.
TEST(BenchpadTypeLibrary, CarriesTheBenchsIdentifiersAndHelpStrings) {
    ComPtr<ITypeLib> library;
    ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(ThisModulePath().c_str(), REGKIND_NONE, &library));
    TLIBATTR* attributes = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetLibAttr(&attributes));
    EXPECT_EQ(attributes->guid, LIBID_Benchpad);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0x409U);
    library->ReleaseTLibAttr(attributes);

    auto helpString = [&](const GUID& Type) {
        ComPtr<ITypeInfo> info;
        TBstr help;
        if (SUCCEEDED(library->GetTypeInfoOfGuid(Type, &info))) {
            static_cast<void>(
                info->GetDocumentation(MEMBERID_NIL, nullptr, help.Put(), nullptr, nullptr));
        }
        return help.Text();
    };
    TBstr libraryName;
    TBstr libraryHelp;
    ASSERT_HRESULT_SUCCEEDED(
        library->GetDocumentation(-1, libraryName.Put(), libraryHelp.Put(), nullptr, nullptr));
    EXPECT_EQ(libraryName.Text(), L"Benchpad");
    EXPECT_EQ(libraryHelp.Text(), L"Benchpad Library");
    EXPECT_EQ(helpString(IID_IArray1C), L"Dispatch interface for Array1C Object");
    EXPECT_EQ(helpString(CLSID_Array1C), L"Array1C Object");
    EXPECT_EQ(helpString(IID_IAsyncEvents), L"Dispatch interface for AsyncEvents Object");
    EXPECT_EQ(helpString(CLSID_AsyncEvents), L"AsyncEvents Object");
}

}  // namespace
}  // namespace benchpad::test
