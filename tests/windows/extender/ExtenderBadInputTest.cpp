// What a careless host may hand the extender: numbers of no member, arrays of the wrong shape,
// elements of the wrong kind. Each call fails with a status (or gives the documented answer),
// touches nothing outside the host's array, and leaves the object working.
#include <limits>

#include "tests/windows/extender/ExtenderHost.h"

namespace wedgecard::test {
namespace {

class ExtenderBadInput : public ExtenderTest {
protected:
    void ExpectStillWorking() {
        EXPECT_EQ(Version(), DriverVersion);
        const auto settings = TSettingsArray::Bench();
        EXPECT_TRUE(Close(Open(settings.Get())));
    }
};

// A SAFEARRAY made by the runtime, destroyed with the test.
struct TRuntimeArray {
    SAFEARRAY* Array = nullptr;
    ~TRuntimeArray() { SafeArrayDestroy(Array); }
};

TEST_F(ExtenderBadInput, NumbersOfNoMemberAreNotCalled) {
    for (const long number : {-1L, 13L, 1L << 30, std::numeric_limits<long>::min()}) {
        SCOPED_TRACE(number);
        THostArray arguments({TValue::Text(L"keep")});
        TValue result = TValue::Int(5);
        EXPECT_EQ(Call(number, arguments, result), DISP_E_MEMBERNOTFOUND);
        EXPECT_EQ(Extender->CallAsProc(number, arguments.Put()), DISP_E_MEMBERNOTFOUND);
        EXPECT_TRUE(IsString(arguments[0], L"keep"));
        EXPECT_TRUE(arguments.Intact());

        TValue value = TValue::Text(L"host's");
        EXPECT_EQ(Extender->GetPropVal(number, value.Address()), DISP_E_MEMBERNOTFOUND);
        TValue put = TValue::Int(7);
        EXPECT_EQ(Extender->SetPropVal(number, put.Address()), DISP_E_MEMBERNOTFOUND);
        EXPECT_TRUE(IsInt(put.Get(), 7));
    }
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, TheInheritedFunctionsCannotBeCalled) {
    // Numbers 0 to 6 are QueryInterface to Invoke: a host script must not reach the object's
    // reference count or interfaces through them.
    for (long number = 0; number < 7; ++number) {
        SCOPED_TRACE(number);
        long params = 0;
        ASSERT_EQ(Extender->GetNParams(number, &params), S_OK);
        THostArray arguments(std::vector<TValue>(static_cast<std::size_t>(params)));
        TValue result;
        Extender->AddRef();
        const ULONG references = Extender->Release();
        EXPECT_HRESULT_FAILED(Call(number, arguments, result));
        EXPECT_HRESULT_FAILED(Extender->CallAsProc(number, arguments.Put()));
        Extender->AddRef();
        EXPECT_EQ(Extender->Release(), references);
        EXPECT_TRUE(arguments.Intact());
    }
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, ArraysThatAreNotOneDimensionOfVariantsAreRefused) {
    SAFEARRAYBOUND square[2] = {{1, 0}, {1, 0}};
    TRuntimeArray twoDimensions{SafeArrayCreate(VT_VARIANT, 2, square)};
    TRuntimeArray strings{SafeArrayCreateVector(VT_BSTR, 0, 1)};
    TRuntimeArray numbers{SafeArrayCreateVector(VT_I4, 0, 2)};
    LONG zero = 0;
    TBstrArg id(L"00000000-0000-0000-0000-000000000000");
    ASSERT_EQ(SafeArrayPutElement(strings.Array, &zero, id.Get()), S_OK);

    for (SAFEARRAY* array : {twoDimensions.Array, strings.Array, numbers.Array}) {
        SAFEARRAY* given = array;
        for (const long method : {long{mGetVersion}, long{mClose}, long{mOpen}}) {
            SCOPED_TRACE(method);
            TValue result = TValue::Int(5);
            EXPECT_EQ(Extender->CallAsFunc(method, result.Address(), &given), E_INVALIDARG);
            EXPECT_EQ(Extender->CallAsProc(method, &given), E_INVALIDARG);
            EXPECT_EQ(given, array);
            EXPECT_EQ(array->cLocks, 0u);
        }
    }
    BSTR stored = nullptr;
    ASSERT_EQ(SafeArrayGetElement(strings.Array, &zero, &stored), S_OK);
    EXPECT_EQ(std::wstring(stored), id.Text());
    SysFreeString(stored);
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, MoreElementsThanParametersAreRefusedBeforeTheCall) {
    const auto settings = TSettingsArray::Bench();
    const std::wstring id = Open(settings.Get());

    THostArray closeWithThree({TValue::Text(id), TValue::Bool(true), TValue()});
    TValue result;
    EXPECT_EQ(Call(mClose, closeWithThree, result), DISP_E_BADPARAMCOUNT);
    EXPECT_TRUE(IsString(closeWithThree[0], id));
    EXPECT_EQ(closeWithThree[2].vt, VT_EMPTY);
    EXPECT_TRUE(closeWithThree.Intact());

    THostArray versionWithOne({TValue()});
    EXPECT_EQ(Call(mGetVersion, versionWithOne, result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(versionWithOne[0].vt, VT_EMPTY);
    EXPECT_TRUE(versionWithOne.Intact());

    // The refused Close did not close the device.
    EXPECT_TRUE(Close(id));
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, MissingInputArgumentsFailTheCall) {
    const std::wstring id = Open(TSettingsArray::Bench().Get());
    THostArray none;
    TValue result;
    EXPECT_HRESULT_FAILED(Call(mClose, none, result));
    SAFEARRAY* null = nullptr;
    EXPECT_HRESULT_FAILED(Extender->CallAsFunc(mClose, result.Address(), &null));
    EXPECT_HRESULT_FAILED(Extender->CallAsFunc(mOpen, result.Address(), &null));
    EXPECT_TRUE(none.Intact());
    EXPECT_TRUE(Close(id));
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, AnOutStringElementOfAnotherTypeIsATypeMismatch) {
    const auto settings = TSettingsArray::Bench();
    THostArray open({TValue::Object(settings.Get()), TValue::Int(5)});
    TValue result;
    EXPECT_EQ(Call(mOpen, open, result), DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(IsInt(open[1], 5));
    EXPECT_TRUE(open.Intact());

    THostArray lastError({TValue::Bool(true)});
    EXPECT_EQ(Call(mGetLastError, lastError, result), DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(IsBool(lastError[0], true));
    EXPECT_TRUE(lastError.Intact());

    // A string by reference is not the string itself: the host's string stays as it was.
    TBstrArg referenced(L"host's own");
    THostArray byReference({TValue::Object(settings.Get()), TValue()});
    byReference.At(1).vt = VT_BYREF | VT_BSTR;
    byReference.At(1).pbstrVal = referenced.Address();
    EXPECT_EQ(Call(mOpen, byReference, result), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(referenced.Text(), L"host's own");
    EXPECT_TRUE(byReference.Intact());
    byReference.At(1).vt = VT_EMPTY;
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, ElementsTheRuntimeCannotConvertFailWithItsStatus) {
    const auto settings = TSettingsArray::Bench();
    const std::wstring id = Open(settings.Get());
    TValue result;

    THostArray numberForSettings({TValue::Int(100), TValue()});
    EXPECT_EQ(Call(mOpen, numberForSettings, result), DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(IsInt(numberForSettings[0], 100));
    EXPECT_TRUE(numberForSettings.Intact());

    THostArray objectForIdentifier({TValue::Object(settings.Get())});
    EXPECT_EQ(Call(mClose, objectForIdentifier, result), DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(objectForIdentifier.Intact());

    THostArray textForFlag({TValue::Text(id), TValue::Text(L"not a flag")});
    EXPECT_EQ(Call(mEventProcessed, textForFlag, result), DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(IsString(textForFlag[1], L"not a flag"));
    EXPECT_TRUE(textForFlag.Intact());

    EXPECT_TRUE(Close(id));
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, NoSettingsObjectIsTheDriversOwnFailure) {
    THostArray arguments({TValue::Object(nullptr), TValue()});
    TValue result;
    EXPECT_EQ(Call(mOpen, arguments, result), S_OK);
    EXPECT_TRUE(IsBool(result.Get(), false));
    EXPECT_EQ(LastError().first, 2);
    EXPECT_TRUE(arguments.Intact());
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, ElementsByReferenceAreReadThroughTheReference) {
    const std::wstring id = Open(TSettingsArray::Bench().Get());
    TBstrArg referenced(id);
    THostArray arguments({TValue()});
    arguments.At(0).vt = VT_BYREF | VT_BSTR;
    arguments.At(0).pbstrVal = referenced.Address();
    TValue result;

    EXPECT_EQ(Call(mClose, arguments, result), S_OK);

    EXPECT_TRUE(IsBool(result.Get(), true));
    EXPECT_EQ(referenced.Text(), id);
    EXPECT_EQ(arguments[0].vt, VT_BYREF | VT_BSTR);
    EXPECT_EQ(arguments[0].pbstrVal, referenced.Address());
    EXPECT_TRUE(arguments.Intact());
    arguments.At(0).vt = VT_EMPTY;
    EXPECT_FALSE(Close(id));
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, ElementsThatReferToNothingAreRefused) {
    const std::wstring id = Open(TSettingsArray::Bench().Get());
    VARIANT nullString;
    VariantInit(&nullString);
    nullString.vt = VT_BYREF | VT_BSTR;
    nullString.pbstrVal = nullptr;
    VARIANT referenceToNull;
    VariantInit(&referenceToNull);
    referenceToNull.vt = VT_BYREF | VT_VARIANT;
    referenceToNull.pvarVal = &nullString;
    VARIANT nullObject;
    VariantInit(&nullObject);
    nullObject.vt = VT_BYREF | VT_DISPATCH;
    nullObject.ppdispVal = nullptr;

    for (const VARIANT& nothing : {nullString, referenceToNull, nullObject}) {
        SCOPED_TRACE(Describe(nothing));
        THostArray close({TValue()});
        close.At(0) = nothing;
        TValue result;
        EXPECT_EQ(Call(mClose, close, result), E_INVALIDARG);
        EXPECT_EQ(Extender->CallAsProc(mClose, close.Put()), E_INVALIDARG);
        EXPECT_TRUE(close.Intact());
        close.At(0).vt = VT_EMPTY;

        THostArray open({TValue(), TValue()});
        open.At(0) = nothing;
        EXPECT_EQ(Call(mOpen, open, result), E_INVALIDARG);
        EXPECT_EQ(open[1].vt, VT_EMPTY);
        EXPECT_TRUE(open.Intact());
        open.At(0).vt = VT_EMPTY;
    }
    EXPECT_TRUE(Close(id));
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, ArraysThatDoNotStartAtZeroAreIndexedFromTheirLowerBound) {
    const auto settings = TSettingsArray::Bench();
    for (const LONG lower : {1L, -3L, 1000L}) {
        SCOPED_TRACE(lower);
        THostArray arguments({TValue::Object(settings.Get()), TValue()}, lower);
        TValue result;
        EXPECT_EQ(Call(mOpen, arguments, result), S_OK);
        EXPECT_TRUE(IsBool(result.Get(), true));
        EXPECT_EQ(arguments[lower].vt, VT_DISPATCH);
        ASSERT_TRUE(IsDeviceID(arguments[lower + 1]));
        EXPECT_TRUE(arguments.Intact());
        EXPECT_TRUE(Close(std::wstring(arguments[lower + 1].bstrVal)));

        THostArray lastError({TValue()}, lower);
        EXPECT_EQ(Call(mGetLastError, lastError, result), S_OK);
        EXPECT_TRUE(IsInt(result.Get(), 0));
        EXPECT_EQ(lastError[lower].vt, VT_BSTR);
        EXPECT_TRUE(lastError.Intact());
    }
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, IdentifiersAreComparedWholeWhateverTheirLengthOrNulls) {
    const std::wstring id = Open(TSettingsArray::Bench().Get());
    std::wstring withNull = id;
    withNull[10] = L'\0';
    const std::wstring withTail = id + std::wstring(1, L'\0') + L"tail";
    const std::wstring huge(std::size_t{1} << 18, L'A');
    for (const std::wstring& wrong : {withNull, withTail, huge, id.substr(0, 10)}) {
        SCOPED_TRACE(wrong.size());
        EXPECT_FALSE(Close(wrong));
        EXPECT_EQ(LastError().first, 1);
    }
    EXPECT_TRUE(Close(id));
    ExpectStillWorking();
}

TEST_F(ExtenderBadInput, NullPointersAreRefused) {
    THostArray none;
    SAFEARRAY* null = nullptr;
    TValue result;
    TBstrArg name(L"Open");
    EXPECT_EQ(Extender->CallAsFunc(mGetVersion, nullptr, none.Put()), E_POINTER);
    EXPECT_EQ(Extender->CallAsFunc(mGetVersion, result.Address(), nullptr), E_POINTER);
    EXPECT_EQ(Extender->CallAsFunc(mGetVersion, nullptr, &null), E_POINTER);
    EXPECT_EQ(Extender->CallAsProc(mGetVersion, nullptr), E_POINTER);
    EXPECT_EQ(Extender->RegisterExtensionAs(nullptr), E_POINTER);
    EXPECT_EQ(Extender->GetNProps(nullptr), E_POINTER);
    EXPECT_EQ(Extender->FindProp(name.Get(), nullptr), E_POINTER);
    EXPECT_EQ(Extender->GetPropName(0, 0, nullptr), E_POINTER);
    EXPECT_EQ(Extender->GetPropVal(0, nullptr), E_POINTER);
    EXPECT_EQ(Extender->SetPropVal(0, nullptr), E_POINTER);
    EXPECT_EQ(Extender->IsPropReadable(0, nullptr), E_POINTER);
    EXPECT_EQ(Extender->IsPropWritable(0, nullptr), E_POINTER);
    EXPECT_EQ(Extender->GetNMethods(nullptr), E_POINTER);
    EXPECT_EQ(Extender->FindMethod(name.Get(), nullptr), E_POINTER);
    EXPECT_EQ(Extender->GetMethodName(mOpen, 0, nullptr), E_POINTER);
    EXPECT_EQ(Extender->GetNParams(mOpen, nullptr), E_POINTER);
    EXPECT_EQ(Extender->GetParamDefValue(mOpen, 0, nullptr), E_POINTER);
    EXPECT_EQ(Extender->HasRetVal(mOpen, nullptr), E_POINTER);

    // A null name is the empty name, and that names no member: not even one of those without
    // a Russian name.
    long fromNull = 77;
    long fromEmpty = 77;
    TBstrArg empty(L"");
    EXPECT_EQ(Extender->FindMethod(nullptr, &fromNull), S_FALSE);
    EXPECT_EQ(Extender->FindMethod(empty.Get(), &fromEmpty), S_FALSE);
    EXPECT_EQ(fromNull, -1);
    EXPECT_EQ(fromEmpty, -1);
    EXPECT_EQ(Extender->FindProp(nullptr, &fromNull), S_FALSE);
    EXPECT_EQ(fromNull, -1);
    EXPECT_EQ(InitDone->Init(nullptr), S_OK);
    ExpectStillWorking();
}

}  // namespace
}  // namespace wedgecard::test
