// Everything a host, a script or a careless caller can hand the driver at its COM boundary,
// generated from tables: null pointers, numbers of no member, arrays of every wrong shape,
// arguments of every variant type in every position (early bound, through the language
// extender and through IDispatch::Invoke), strings the code page cannot hold, strings with
// nulls and strings of a megabyte. Every call ends with the documented answer or a failure
// status, leaves the caller's values alone (except where the call writes its [out] string),
// frees what it was given, and the object keeps working.
//
// Each test uses a copy of the module of its own: the megabyte strings go to that copy's log
// only.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/windows/robustness/VariantZoo.h"
#include "tests/windows/support/AllocationSpy.h"
#include "tests/windows/support/ComHost.h"
#include "tests/windows/support/HostArray.h"
#include "tests/windows/support/PrivateDriver.h"
#include "tests/windows/support/UiThread.h"

namespace wedgecard::test {
namespace {

// The driver's methods as the sweep calls them: by number through the extender, by DISPID
// through IDispatch, with arguments that are valid unless the sweep replaces one.
struct TMethodShape {
    const char* Name;
    long Number;
    DISPID Member;
    std::function<std::vector<TValue>(IDispatch* Settings)> Valid;
    // The [out] string parameter the call writes, if any.
    std::optional<LONG> Out;
    // The type of the result of a successful call.
    VARTYPE Result;
    // By position, the kinds of argument the call must take (the others it may take or refuse).
    std::vector<std::set<std::string>> Taken;
};

// Objects for the settings array; the driver, or no object, fail in Open itself.
const std::set<std::string> ObjectSamples = {"VT_DISPATCH object", "VT_DISPATCH null",
                                             "VT_DISPATCH driver", "VT_UNKNOWN object",
                                             "VT_BYREF|VT_DISPATCH"};
const std::set<std::string> StringSamples = {
    "VT_BSTR", "VT_BSTR null", "VT_BSTR with nulls", "VT_BSTR outside 1251", "VT_BSTR 1 MB",
    "VT_I2",   "VT_I4",        "VT_BOOL true",       "VT_BYREF|VT_BSTR"};
const std::set<std::string> FlagSamples = {"VT_BOOL true",  "VT_BOOL false", "VT_I2",
                                           "VT_I4",         "VT_R8",         "VT_BYREF|VT_BOOL",
                                           "VT_BYREF|VT_I4"};
// What an [out] string element of the host's array may hold: nothing yet, or a string.
const std::set<std::string> OutSamples = {
    "VT_EMPTY",    "VT_BSTR", "VT_BSTR null", "VT_BSTR with nulls", "VT_BSTR outside 1251",
    "VT_BSTR 1 MB"};

// Late bound, a variant by reference is read through: it is taken when what it refers to is.
// (Through the extender it is refused: the extender passes each element by reference, and the
// runtime does not follow a reference to a reference.)
bool TakenLateBound(const std::set<std::string>& Taken, const std::string& Name) {
    const std::string reference = "VT_BYREF|VT_VARIANT to ";
    return Taken.contains(Name) ||
           (Name.starts_with(reference) && Taken.contains(Name.substr(reference.size())));
}

std::vector<TMethodShape> MethodShapes() {
    return {
        {"GetVersion",
         mGetVersion,
         member::GetVersion,
         [](IDispatch*) { return std::vector<TValue>{}; },
         std::nullopt,
         VT_BSTR,
         {}},
        {"GetLastError",
         mGetLastError,
         member::GetLastError,
         [](IDispatch*) { return std::vector<TValue>{TValue()}; },
         0,
         VT_I4,
         {OutSamples}},
        {"Open",
         mOpen,
         member::Open,
         [](IDispatch* Settings) {
             return std::vector<TValue>{TValue::Object(Settings), TValue()};
         },
         1,
         VT_BOOL,
         {ObjectSamples, OutSamples}},
        {"Close",
         mClose,
         member::Close,
         [](IDispatch*) { return std::vector<TValue>{TValue(L"no such device")}; },
         std::nullopt,
         VT_BOOL,
         {StringSamples}},
        {"EventProcessed",
         mEventProcessed,
         member::EventProcessed,
         [](IDispatch*) {
             return std::vector<TValue>{TValue(L"id"), TValue(true)};
         },
         std::nullopt,
         VT_BOOL,
         {StringSamples, FlagSamples}},
    };
}

// The documented outcome of a call: a failure, or S_OK with a result of the method's type.
::testing::AssertionResult DocumentedOutcome(HRESULT Status, const VARIANT* Result,
                                             VARTYPE Expected) {
    if (FAILED(Status)) {
        return ::testing::AssertionSuccess();
    }
    if (Status != S_OK) {
        return ::testing::AssertionFailure()
               << "success status " << std::hex << static_cast<unsigned long>(Status);
    }
    if (Result != nullptr && Result->vt != Expected) {
        return ::testing::AssertionFailure()
               << "a result of " << Describe(*Result) << ", expected vt " << Expected;
    }
    return ::testing::AssertionSuccess();
}

// The allocation spy watches the task allocator from before the first test: registered after
// other tests of the same process have used COM, it meets blocks it never saw, which Wine's
// allocator does not survive.
class TSpyFromTheStart : public testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(TAllocationSpy().Registered()); }
};
[[maybe_unused]] testing::Environment* const SpyFromTheStart =
    testing::AddGlobalTestEnvironment(new TSpyFromTheStart);

class BoundarySweep : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(Apartment.Status());
        ASSERT_TRUE(Module.Loaded());
        ASSERT_TRUE(Spy.Registered());
        Driver = Module.Create();
        Extender = ExtenderOf(Driver.Get());
        ASSERT_EQ(InitDoneOf(Driver.Get())->Init(Sink.Get()), S_OK);
        HugeBlocks = Spy.LiveBlocksOfAtLeast(HugeLength * sizeof(wchar_t));
    }

    void TearDown() override {
        Extender.Reset();
        Driver.Reset();
    }

    // The calls a host makes next still work: the version, and a device opened and closed both
    // early bound and through the extender.
    void ExpectStillWorking() {
        EXPECT_EQ(VersionOf(Driver.Get()), DriverVersion);
        std::wstring id;
        EXPECT_TRUE(OpenDevice(Driver.Get(), Settings.Get(), id));
        EXPECT_TRUE(CloseDevice(Driver.Get(), id));

        THostArray open({TValue::Object(Settings.Get()), TValue()});
        TValue result;
        EXPECT_EQ(Extender->CallAsFunc(mOpen, result.Address(), open.Put()), S_OK);
        EXPECT_TRUE(IsBool(result.Get(), true));
        ASSERT_TRUE(IsDeviceID(open[1]));
        EXPECT_TRUE(CloseDevice(Driver.Get(), WideOf(open[1].bstrVal)));
    }

    // No string of a megabyte is left alive by the driver.
    ::testing::AssertionResult NoHugeStringKept() const {
        const std::size_t live = Spy.LiveBlocksOfAtLeast(HugeLength * sizeof(wchar_t));
        if (live == HugeBlocks) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << live - HugeBlocks << " strings of a megabyte were not freed";
    }

    TComApartment Apartment;
    TAllocationSpy Spy;
    TPrivateDriver Module{WindowsPath(WEDGECARD_DRIVER_DLL)};
    ComPtr<TEventSink> Sink = TEventSink::Create();
    ComPtr<TSettingsArray> Settings = TSettingsArray::Bench();
    ComPtr<ILumMSRKBD1C> Driver;
    ComPtr<ILanguageExtender> Extender;
    std::size_t HugeBlocks = 0;
};

TEST_F(BoundarySweep, EveryOperationRefusesNullPointers) {
    const TBstrArg name(L"Open");
    const TBstrArg id(L"id");
    BSTR text = nullptr;
    LONG number = 0;
    VARIANT_BOOL result = VARIANT_FALSE;
    TValue value;
    THostArray none;
    SAFEARRAY* noArray = nullptr;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Open")};
    DISPID member = 0;
    DISPPARAMS noArguments{nullptr, nullptr, 1, 0};

    struct TCase {
        std::string Call;
        std::function<HRESULT()> Run;
    };
    std::vector<TCase> cases = {
        {"RegisterExtensionAs", [&] { return Extender->RegisterExtensionAs(nullptr); }},
        {"GetNProps", [&] { return Extender->GetNProps(nullptr); }},
        {"FindProp", [&] { return Extender->FindProp(name, nullptr); }},
        {"GetPropName", [&] { return Extender->GetPropName(0, 0, nullptr); }},
        {"GetPropVal", [&] { return Extender->GetPropVal(0, nullptr); }},
        {"SetPropVal", [&] { return Extender->SetPropVal(0, nullptr); }},
        {"IsPropReadable", [&] { return Extender->IsPropReadable(0, nullptr); }},
        {"IsPropWritable", [&] { return Extender->IsPropWritable(0, nullptr); }},
        {"GetNMethods", [&] { return Extender->GetNMethods(nullptr); }},
        {"FindMethod", [&] { return Extender->FindMethod(name, nullptr); }},
        {"GetMethodName", [&] { return Extender->GetMethodName(mOpen, 0, nullptr); }},
        {"GetNParams", [&] { return Extender->GetNParams(mOpen, nullptr); }},
        {"GetParamDefValue", [&] { return Extender->GetParamDefValue(mOpen, 0, nullptr); }},
        {"HasRetVal", [&] { return Extender->HasRetVal(mOpen, nullptr); }},
        {"GetVersion", [&] { return Driver->GetVersion(nullptr); }},
        {"GetLastError(text)", [&] { return Driver->GetLastError(nullptr, &number); }},
        {"GetLastError(code)", [&] { return Driver->GetLastError(&text, nullptr); }},
        {"Open(DeviceID)", [&] { return Driver->Open(Settings.Get(), nullptr, &result); }},
        {"Open(Res)", [&] { return Driver->Open(Settings.Get(), &text, nullptr); }},
        {"Close", [&] { return Driver->Close(id, nullptr); }},
        {"EventProcessed", [&] { return Driver->EventProcessed(id, VARIANT_TRUE, nullptr); }},
        {"DeviceTest(AdditionalDescription)",
         [&] { return Driver->DeviceTest(Settings.Get(), nullptr, &result); }},
        {"DeviceTest(Res)", [&] { return Driver->DeviceTest(Settings.Get(), &text, nullptr); }},
        {"QueryInterface", [&] { return Driver->QueryInterface(IID_IUnknown, nullptr); }},
        {"GetTypeInfoCount", [&] { return Driver->GetTypeInfoCount(nullptr); }},
        {"GetTypeInfo", [&] { return Driver->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr); }},
        {"GetIDsOfNames(names)",
         [&] { return Driver->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, &member); }},
        {"GetIDsOfNames(IDs)",
         [&] { return Driver->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, nullptr); }},
    };
    for (const TMethodShape& method : MethodShapes()) {
        const std::string label = method.Name;
        cases.push_back({"CallAsProc(" + label + ")",
                         [&, method] { return Extender->CallAsProc(method.Number, nullptr); }});
        cases.push_back({"CallAsFunc(" + label + ", result)", [&, method] {
                             return Extender->CallAsFunc(method.Number, nullptr, none.Put());
                         }});
        cases.push_back({"CallAsFunc(" + label + ", array)", [&, method] {
                             return Extender->CallAsFunc(method.Number, value.Address(), nullptr);
                         }});
        cases.push_back({"CallAsFunc(" + label + ", both)", [&, method] {
                             return Extender->CallAsFunc(method.Number, nullptr, nullptr);
                         }});
        cases.push_back({"Invoke(" + label + ", DISPPARAMS)", [&, method] {
                             return Driver->Invoke(method.Member, IID_NULL, LOCALE_USER_DEFAULT,
                                                   DISPATCH_METHOD, nullptr, value.Put(), nullptr,
                                                   nullptr);
                         }});
        cases.push_back({"Invoke(" + label + ", arguments)", [&, method] {
                             return Driver->Invoke(method.Member, IID_NULL, LOCALE_USER_DEFAULT,
                                                   DISPATCH_METHOD, &noArguments, value.Put(),
                                                   nullptr, nullptr);
                         }});
    }
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Call);
        EXPECT_EQ(c.Run(), E_POINTER);
    }
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(noArray, nullptr);
    EXPECT_TRUE(none.Intact());
    EXPECT_TRUE(Settings->Reads.empty()) << "no device was opened";
    EXPECT_TRUE(Sink->Events.empty()) << "no acknowledgement was handled";

    // The host connection answers S_OK whatever it is given.
    EXPECT_EQ(InitDoneOf(Driver.Get())->GetInfo(nullptr), S_OK);
    EXPECT_EQ(InitDoneOf(Driver.Get())->GetInfo(&noArray), S_OK);
    ExpectStillWorking();
    EXPECT_EQ(InitDoneOf(Driver.Get())->Init(nullptr), S_OK);
    ExpectStillWorking();
}

// A process short of memory: no string the driver makes can be allocated. The call answers the
// extender's failure with its error information instead of letting the allocation's exception
// into the host, hands the host no string, and leaves the host's own string where it was.
TEST_F(BoundarySweep, AStringThatCannotBeAllocatedFailsTheCallAndLeavesTheHostsString) {
    BSTR name = nullptr;
    BSTR extension = SysAllocString(L"host's");
    ComPtr<IErrorInfo> info;
    Spy.FailAllocations(true);
    const HRESULT named = Extender->GetMethodName(mOpen, 1, &name);
    const HRESULT reported = GetErrorInfo(0, &info);
    const HRESULT registered = Extender->RegisterExtensionAs(&extension);
    Spy.FailAllocations(false);

    EXPECT_EQ(named, E_UNEXPECTED);
    EXPECT_EQ(name, nullptr);
    ASSERT_EQ(reported, S_OK);
    GUID source{};
    ASSERT_HRESULT_SUCCEEDED(info->GetGUID(&source));
    EXPECT_TRUE(IsEqualGUID(source, IID_ILanguageExtender));
    EXPECT_EQ(registered, E_UNEXPECTED);
    EXPECT_EQ(WideOf(extension), L"host's");
    SysFreeString(extension);
    ExpectStillWorking();
}

TEST_F(BoundarySweep, NumbersOfNoMemberGetTheDocumentedAnswer) {
    constexpr long Untouched = 0x1234;
    // The driver has methods 0 to 12 and no property at all.
    std::vector<long> noMethod = {-1, 13, 0x7FFFFFFF, LONG_MIN};
    std::vector<long> noProperty = noMethod;
    noProperty.insert(noProperty.end(), {0, 1, 9});

    for (const long number : noProperty) {
        SCOPED_TRACE("property " + std::to_string(number));
        for (const long alias : {0L, 1L, -1L}) {
            TBstrArg stale(L"stale");
            BSTR name = stale.Get();
            EXPECT_EQ(Extender->GetPropName(number, alias, &name), S_FALSE);
            if (name != stale.Get()) {
                EXPECT_EQ(name, nullptr);
            }
        }
        TValue value = TValue(L"host's");
        EXPECT_HRESULT_FAILED(Extender->GetPropVal(number, value.Address()));
        EXPECT_EQ(value.Get().vt, VT_EMPTY) << "the value is cleared first";
        TValue put = TValue(7);
        EXPECT_HRESULT_FAILED(Extender->SetPropVal(number, put.Address()));
        EXPECT_TRUE(IsInt(put.Get(), 7));
        BOOL flag = Untouched;
        EXPECT_EQ(Extender->IsPropReadable(number, &flag), S_FALSE);
        EXPECT_EQ(Extender->IsPropWritable(number, &flag), S_FALSE);
        EXPECT_EQ(flag, Untouched);
    }
    for (const long number : noMethod) {
        SCOPED_TRACE("method " + std::to_string(number));
        for (const long alias : {0L, 1L, -1L}) {
            TBstrArg stale(L"stale");
            BSTR name = stale.Get();
            EXPECT_EQ(Extender->GetMethodName(number, alias, &name), S_FALSE);
            if (name != stale.Get()) {
                EXPECT_EQ(name, nullptr);
            }
        }
        long count = Untouched;
        EXPECT_EQ(Extender->GetNParams(number, &count), S_FALSE);
        EXPECT_EQ(count, Untouched);
        BOOL has = Untouched;
        EXPECT_EQ(Extender->HasRetVal(number, &has), S_OK);
        EXPECT_EQ(has, Untouched);
        // No method offers a default value, whatever the numbers.
        for (const auto& [method, param] :
             {std::pair{number, 0L}, std::pair{long{mOpen}, number}, std::pair{number, number}}) {
            TValue value = TValue(L"host's");
            EXPECT_EQ(Extender->GetParamDefValue(method, param, value.Address()), S_OK);
            EXPECT_TRUE(IsString(value.Get(), L"host's"));
        }
        THostArray arguments({TValue(L"keep"), TValue()});
        TValue result = TValue(5);
        EXPECT_HRESULT_FAILED(Extender->CallAsFunc(number, result.Address(), arguments.Put()));
        EXPECT_HRESULT_FAILED(Extender->CallAsProc(number, arguments.Put()));
        SAFEARRAY* none = nullptr;
        EXPECT_HRESULT_FAILED(Extender->CallAsFunc(number, result.Address(), &none));
        EXPECT_TRUE(IsString(arguments[0], L"keep"));
        EXPECT_EQ(arguments[1].vt, VT_EMPTY);
        EXPECT_TRUE(arguments.Intact());
    }
    ExpectStillWorking();
}

// A SAFEARRAY made by the runtime, destroyed with the case.
struct TRuntimeArray {
    SAFEARRAY* Array = nullptr;
    TRuntimeArray() = default;
    explicit TRuntimeArray(SAFEARRAY* A) : Array(A) {}
    TRuntimeArray(const TRuntimeArray&) = delete;
    TRuntimeArray& operator=(const TRuntimeArray&) = delete;
    ~TRuntimeArray() { SafeArrayDestroy(Array); }
};

TEST_F(BoundarySweep, ArraysOfEveryWrongShapeAreRefusedOrReadFromTheirBounds) {
    for (const TMethodShape& method : MethodShapes()) {
        SCOPED_TRACE(method.Name);
        const std::vector<TValue> valid = method.Valid(Settings.Get());
        const auto count = static_cast<ULONG>(valid.size());

        // Arrays of the runtime's own that are not one dimension of variants.
        SAFEARRAYBOUND square[2] = {{count + 1, 0}, {2, 0}};
        std::vector<std::pair<std::string, SAFEARRAY*>> foreign = {
            {"2-D", SafeArrayCreate(VT_VARIANT, 2, square)},
            {"VT_BSTR", SafeArrayCreateVector(VT_BSTR, 0, count + 1)},
            {"VT_I4", SafeArrayCreateVector(VT_I4, 0, count + 1)},
            {"VT_DISPATCH", SafeArrayCreateVector(VT_DISPATCH, 0, count + 1)},
        };
        for (auto& [shape, array] : foreign) {
            SCOPED_TRACE(shape);
            ASSERT_NE(array, nullptr);
            const TRuntimeArray owner(array);
            SAFEARRAY* given = array;
            TValue result = TValue(5);
            EXPECT_HRESULT_FAILED(Extender->CallAsFunc(method.Number, result.Address(), &given));
            EXPECT_HRESULT_FAILED(Extender->CallAsProc(method.Number, &given));
            EXPECT_EQ(given, array);
            EXPECT_EQ(array->cLocks, 0u);
        }

        // No array and an empty one: only what needs no [in] argument can run.
        SAFEARRAY* none = nullptr;
        THostArray empty;
        for (SAFEARRAY** array : {&none, empty.Put()}) {
            TValue result;
            const HRESULT status = Extender->CallAsFunc(method.Number, result.Address(), array);
            EXPECT_TRUE(DocumentedOutcome(status, &result.Get(), method.Result));
            const bool needsInput = method.Number == mOpen || method.Number == mClose ||
                                    method.Number == mEventProcessed;
            EXPECT_EQ(FAILED(status), needsInput) << std::hex << status;
        }
        EXPECT_EQ(none, nullptr);
        EXPECT_TRUE(empty.Intact());

        // Arguments from a lower bound other than zero, and more arguments than parameters.
        for (const LONG lower : {1L, -5L, 1000000L, LONG_MIN}) {
            SCOPED_TRACE(lower);
            THostArray arguments(valid, lower);
            TValue result;
            const HRESULT status =
                Extender->CallAsFunc(method.Number, result.Address(), arguments.Put());
            EXPECT_EQ(status, S_OK);
            EXPECT_EQ(result.Get().vt, method.Result);
            EXPECT_TRUE(arguments.Intact());
            if (method.Out) {
                EXPECT_EQ(arguments[lower + *method.Out].vt, VT_BSTR);
            }
        }
        for (const std::size_t extra : {1u, 5u}) {
            SCOPED_TRACE("extra " + std::to_string(extra));
            std::vector<TValue> more = valid;
            more.resize(valid.size() + extra, TValue(L"extra"));
            THostArray arguments(more);
            TValue result = TValue(5);
            EXPECT_EQ(Extender->CallAsFunc(method.Number, result.Address(), arguments.Put()),
                      DISP_E_BADPARAMCOUNT);
            EXPECT_EQ(Extender->CallAsProc(method.Number, arguments.Put()), DISP_E_BADPARAMCOUNT);
            for (LONG i = 0; i < arguments.Count(); ++i) {
                EXPECT_TRUE(SameValue(arguments[i], more[static_cast<std::size_t>(i)].Get()));
            }
            EXPECT_TRUE(arguments.Intact());
        }
        ExpectStillWorking();
    }
}

TEST_F(BoundarySweep, ExtenderArgumentsOfEveryTypeAreTakenOrRefused) {
    for (const TMethodShape& method : MethodShapes()) {
        const std::vector<TValue> valid = method.Valid(Settings.Get());
        for (std::size_t position = 0; position < valid.size(); ++position) {
            for (const bool asProcedure : {false, true}) {
                const std::size_t samples =
                    TVariantZoo(Settings.Get(), Driver.Get()).Samples().size();
                for (std::size_t s = 0; s < samples; ++s) {
                    TVariantZoo zoo(Settings.Get(), Driver.Get());
                    const TVariantZoo::TSample& sample = zoo.Samples()[s];
                    SCOPED_TRACE(std::string(method.Name) + " argument " +
                                 std::to_string(position) + " " + sample.Name +
                                 (asProcedure ? " as a procedure" : ""));
                    std::vector<TValue> given = valid;
                    given[position] = sample.Value;
                    {
                        THostArray arguments(given);
                        TValue result = TValue(5);
                        const HRESULT status =
                            asProcedure ? Extender->CallAsProc(method.Number, arguments.Put())
                                        : Extender->CallAsFunc(method.Number, result.Address(),
                                                               arguments.Put());
                        EXPECT_TRUE(DocumentedOutcome(status, asProcedure ? nullptr : &result.Get(),
                                                      method.Result));
                        if (method.Taken[position].contains(sample.Name)) {
                            EXPECT_EQ(status, S_OK) << "the argument was not taken";
                        } else if (method.Out && *method.Out == static_cast<LONG>(position)) {
                            EXPECT_HRESULT_FAILED(status)
                                << "only a string or nothing goes where the [out] string goes";
                        }
                        EXPECT_TRUE(arguments.Intact());
                        for (std::size_t i = 0; i < given.size(); ++i) {
                            const auto index = static_cast<LONG>(i);
                            const bool written = method.Out && *method.Out == index &&
                                                 arguments[index].vt == VT_BSTR;
                            if (written) {
                                // The [out] string goes into an element that is empty or holds
                                // a string, also when the call fails after all.
                                EXPECT_TRUE(given[i].Get().vt == VT_EMPTY ||
                                            given[i].Get().vt == VT_BSTR)
                                    << "an element of another type became the string";
                            } else {
                                EXPECT_TRUE(SameValue(arguments[index], given[i].Get()))
                                    << "element " << i << ", status " << std::hex << status;
                            }
                        }
                        if (status == S_OK && method.Out) {
                            EXPECT_EQ(arguments[*method.Out].vt, VT_BSTR);
                        }
                        EXPECT_TRUE(zoo.TargetsUnchanged())
                            << "a call wrote through a reference it was given";
                    }
                }
                EXPECT_EQ(VersionOf(Driver.Get()), DriverVersion);
                EXPECT_TRUE(NoHugeStringKept());
            }
            ExpectStillWorking();
        }
    }
}

// The runtime's argument array for Invoke: the caller's values, last first, borrowed.
std::vector<VARIANTARG> Reversed(const std::vector<TValue>& Arguments) {
    std::vector<VARIANTARG> reversed;
    for (auto argument = Arguments.rbegin(); argument != Arguments.rend(); ++argument) {
        reversed.push_back(argument->Get());
    }
    return reversed;
}

TEST_F(BoundarySweep, LateBoundCallsOfAnyMemberFlagsAndCountFailOrAnswerAsDocumented) {
    const std::vector<TMethodShape> methods = MethodShapes();
    std::vector<DISPID> members = {202, -1, 0, 13, 0x7FFFFFFF, INT_MIN, DISPID_NEWENUM};
    for (const TMethodShape& method : methods) {
        members.push_back(method.Member);
    }
    for (const DISPID member : members) {
        const TMethodShape* method = nullptr;
        for (const TMethodShape& shape : methods) {
            if (shape.Member == member) {
                method = &shape;
            }
        }
        for (const WORD flags :
             {WORD{0}, WORD{DISPATCH_METHOD}, WORD{DISPATCH_PROPERTYGET},
              WORD{DISPATCH_METHOD | DISPATCH_PROPERTYGET}, WORD{DISPATCH_PROPERTYPUT},
              WORD{DISPATCH_PROPERTYPUTREF}, WORD{0xFFFF}}) {
            for (std::size_t count = 0; count <= 3; ++count) {
                SCOPED_TRACE("member " + std::to_string(member) + " flags " +
                             std::to_string(flags) + " arguments " + std::to_string(count));
                std::vector<TValue> arguments =
                    method != nullptr ? method->Valid(Settings.Get()) : std::vector<TValue>{};
                arguments.resize(count);
                std::vector<VARIANTARG> reversed = Reversed(arguments);
                DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(count), 0};
                TValue result = TValue(5);
                EXCEPINFO exception{};
                UINT argumentError = 77;
                const HRESULT status =
                    Driver->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                                   result.Put(), &exception, &argumentError);
                SysFreeString(exception.bstrSource);
                SysFreeString(exception.bstrDescription);
                SysFreeString(exception.bstrHelpFile);
                if (method == nullptr) {
                    EXPECT_HRESULT_FAILED(status);
                } else {
                    EXPECT_TRUE(DocumentedOutcome(status, &result.Get(), method->Result));
                }
                for (std::size_t i = 0; i < count; ++i) {
                    EXPECT_TRUE(SameValue(reversed[count - 1 - i], arguments[i].Get()));
                }
            }
        }
    }

    // Named arguments the caller does not name, names for more arguments than there are, and
    // an interface identifier other than none.
    DISPID named[] = {DISPID_PROPERTYPUT, 0, 1};
    for (const TMethodShape& method : methods) {
        SCOPED_TRACE(method.Name);
        std::vector<TValue> arguments = method.Valid(Settings.Get());
        std::vector<VARIANTARG> reversed = Reversed(arguments);
        const auto count = static_cast<UINT>(reversed.size());
        TValue result;
        for (DISPPARAMS parameters : {DISPPARAMS{reversed.data(), nullptr, count, 1},
                                      DISPPARAMS{reversed.data(), named, count, count + 2},
                                      DISPPARAMS{reversed.data(), named, count, count}}) {
            const HRESULT status =
                Driver->Invoke(method.Member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                               &parameters, result.Put(), nullptr, nullptr);
            EXPECT_TRUE(DocumentedOutcome(status, &result.Get(), method.Result));
        }
        DISPPARAMS parameters{reversed.data(), nullptr, count, 0};
        EXPECT_HRESULT_FAILED(Driver->Invoke(method.Member, IID_ILumMSRKBD1C, LOCALE_USER_DEFAULT,
                                             DISPATCH_METHOD, &parameters, result.Put(), nullptr,
                                             nullptr));
        // No place for the result, the exception or the argument's position is no fault.
        EXPECT_TRUE(DocumentedOutcome(
            Driver->Invoke(method.Member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                           &parameters, nullptr, nullptr, nullptr),
            nullptr, method.Result));
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            EXPECT_TRUE(SameValue(reversed[arguments.size() - 1 - i], arguments[i].Get()));
        }
    }

    // Names the type information does not know, or does not get.
    for (const std::wstring& name :
         {std::wstring(), ForeignText, TextWithNulls, std::wstring(HugeLength, L'x'),
          std::wstring(L"\xFF2F"
                       L"pen")}) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
        DISPID id = 5;
        EXPECT_HRESULT_FAILED(Driver->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    }
    LPOLESTR nullName[] = {nullptr};
    DISPID id = 5;
    EXPECT_HRESULT_FAILED(Driver->GetIDsOfNames(IID_NULL, nullName, 1, LOCALE_USER_DEFAULT, &id));
    ExpectStillWorking();
}

TEST_F(BoundarySweep, LateBoundArgumentsOfEveryTypeAreTakenOrRefused) {
    for (const TMethodShape& method : MethodShapes()) {
        const std::vector<TValue> valid = method.Valid(Settings.Get());
        for (std::size_t position = 0; position < valid.size(); ++position) {
            const std::size_t samples = TVariantZoo(Settings.Get(), Driver.Get()).Samples().size();
            for (std::size_t s = 0; s < samples; ++s) {
                TVariantZoo zoo(Settings.Get(), Driver.Get());
                const TVariantZoo::TSample& sample = zoo.Samples()[s];
                SCOPED_TRACE(std::string(method.Name) + " argument " + std::to_string(position) +
                             " " + sample.Name);
                std::vector<TValue> given = valid;
                given[position] = sample.Value;
                std::vector<VARIANTARG> reversed = Reversed(given);
                DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(given.size()), 0};
                TValue result = TValue(5);
                EXCEPINFO exception{};
                UINT argumentError = 77;
                const HRESULT status =
                    Driver->Invoke(method.Member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                   &parameters, result.Put(), &exception, &argumentError);
                SysFreeString(exception.bstrSource);
                SysFreeString(exception.bstrDescription);
                SysFreeString(exception.bstrHelpFile);
                EXPECT_TRUE(DocumentedOutcome(status, &result.Get(), method.Result));
                const bool out = method.Out && *method.Out == static_cast<LONG>(position);
                // Late bound, whatever stands where the [out] string goes is replaced by a
                // string of the call's own, unless it refers to a string or a variable.
                if (TakenLateBound(method.Taken[position], sample.Name) ||
                    (out && sample.Name.find("to nothing") == std::string::npos)) {
                    EXPECT_EQ(status, S_OK) << "the argument was not taken";
                }
                for (std::size_t i = 0; i < given.size(); ++i) {
                    EXPECT_TRUE(SameValue(reversed[given.size() - 1 - i], given[i].Get()))
                        << "argument " << i;
                }
                if (!out) {
                    EXPECT_TRUE(zoo.TargetsUnchanged())
                        << "a call wrote through a reference it was given";
                }
            }
            EXPECT_EQ(VersionOf(Driver.Get()), DriverVersion);
            EXPECT_TRUE(NoHugeStringKept());
            ExpectStillWorking();
        }
    }
}

TEST_F(BoundarySweep, SettingsOfEveryTypeOpenADeviceOrFailWithTheDriversOwnError) {
    for (std::int32_t index = 0; index < 8; ++index) {
        const std::size_t samples = TVariantZoo(Settings.Get(), Driver.Get()).Samples().size();
        for (std::size_t s = 0; s < samples; ++s) {
            TVariantZoo zoo(Settings.Get(), Driver.Get());
            const TVariantZoo::TSample& sample = zoo.Samples()[s];
            SCOPED_TRACE("setting " + std::to_string(index) + " " + sample.Name);
            ComPtr<TSettingsArray> settings = TSettingsArray::Bench();
            settings->Values[static_cast<std::size_t>(index)] = sample.Value;
            std::wstring id;
            if (OpenDevice(Driver.Get(), settings.Get(), id)) {
                EXPECT_TRUE(CloseDevice(Driver.Get(), id));
            } else {
                const TLastError error = LastErrorOf(Driver.Get());
                EXPECT_TRUE(error.Code == 2 || error.Code == 6)
                    << error.Code << " " << Utf8(error.Text.substr(0, 200));
            }
            EXPECT_TRUE(zoo.TargetsUnchanged());
        }
        // A settings array that raises an error on this index.
        ComPtr<TSettingsArray> failing = TSettingsArray::Bench();
        failing->FailingReads[index] = ForeignText + TextWithNulls;
        std::wstring id;
        EXPECT_FALSE(OpenDevice(Driver.Get(), failing.Get(), id));
        EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 2);
        EXPECT_TRUE(NoHugeStringKept());
    }
    ExpectStillWorking();
}

TEST_F(BoundarySweep, NamesAndIdentifiersThatOnlyLookAlikeMatchNothing) {
    std::wstring id;
    ASSERT_TRUE(OpenDevice(Driver.Get(), Settings.Get(), id));
    ASSERT_EQ(id.size(), 36u);

    // The code page has no full-width letters; a conversion that picks look-alikes would turn
    // them into the plain ones.
    std::wstring fullWidth = id;
    fullWidth[0] = static_cast<wchar_t>(fullWidth[0] - L'0' < 10 ? 0xFF10 + (fullWidth[0] - L'0')
                                                                 : 0xFF21 + (fullWidth[0] - L'A'));
    const std::vector<std::pair<std::string, std::wstring>> identifiers = {
        {"full-width first character", fullWidth},
        {"with a foreign tail", id + ForeignText},
        {"with a null and a tail", id + std::wstring(1, L'\0') + L"tail"},
        {"cut at a null", id.substr(0, 10) + std::wstring(1, L'\0') + id.substr(11)},
        {"a megabyte long", id + std::wstring(HugeLength, L'0')},
        {"foreign", ForeignText},
        {"null", std::wstring()},
    };
    for (const auto& [what, wrong] : identifiers) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(CloseDevice(Driver.Get(), wrong));
        EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 1);
        THostArray close({TValue(wrong)});
        TValue result;
        EXPECT_EQ(Extender->CallAsFunc(mClose, result.Address(), close.Put()), S_OK);
        EXPECT_TRUE(IsBool(result.Get(), false));
        EXPECT_TRUE(IsString(close[0], wrong));
        EXPECT_TRUE(close.Intact());
    }
    EXPECT_TRUE(NoHugeStringKept());
    EXPECT_TRUE(CloseDevice(Driver.Get(), id)) << "the device stayed open through all of that";

    const std::vector<std::pair<std::string, std::wstring>> names = {
        {"full-width", L"\xFF2F\xFF50\xFF45\xFF4E"},
        {"Cyrillic O", L"\x041Epen"},
        {"with a null and a tail", std::wstring(L"Open\0x", 6)},
        {"foreign", ForeignText},
        {"a megabyte long", std::wstring(HugeLength, L'O')},
        {"Russian name with a foreign letter",
         L"\x041F\x043E\x0434\x043A\x043B\x044E\x0447\x0438"
         L"\x0442\x044C\x4E2D"},
    };
    for (const auto& [what, name] : names) {
        SCOPED_TRACE(what);
        const TBstrArg text(name);
        long number = 77;
        EXPECT_EQ(Extender->FindMethod(text, &number), S_FALSE);
        EXPECT_EQ(number, -1);
        number = 77;
        EXPECT_EQ(Extender->FindProp(text, &number), S_FALSE);
        EXPECT_EQ(number, -1);

        // The name the host offers is replaced, and the host's own string freed.
        BSTR offered = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
        EXPECT_EQ(Extender->RegisterExtensionAs(&offered), S_OK);
        EXPECT_EQ(TakeString(offered), L"LumMSRKBD1C");
    }
    EXPECT_TRUE(NoHugeStringKept());
    ExpectStillWorking();
}

TEST_F(BoundarySweep, FlagsOfAnyValueAcknowledgeAsTrueOrFalse) {
    // Nothing is outstanding: each call fails, and its error event is the next one to settle.
    for (const VARIANT_BOOL flag : {VARIANT_BOOL{0}, VARIANT_BOOL{-1}, VARIANT_BOOL{1},
                                    VARIANT_BOOL{2}, VARIANT_BOOL{0x7FFF}, VARIANT_BOOL{-32768}}) {
        SCOPED_TRACE(flag);
        for (const std::wstring& id :
             {std::wstring(L"id"), ForeignText, TextWithNulls, std::wstring(HugeLength, L'i')}) {
            VARIANT_BOOL result = 5;
            const TBstrArg text(id);
            ASSERT_EQ(Driver->EventProcessed(text, flag, &result), S_OK);
            EXPECT_TRUE(result == VARIANT_TRUE || result == VARIANT_FALSE) << result;
        }
    }
    // Whatever happened, one positive acknowledgement per outstanding event settles it.
    while (Acknowledge(Driver.Get(), L"", true)) {
    }
    EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 3);
    EXPECT_TRUE(NoHugeStringKept());
    ExpectStillWorking();
}

// DeviceTest shows its dialog modally whenever its arguments are taken; a thread timer plays
// the user who closes it. The dialog takes the foreground, so these cases have the display's
// input to themselves.
class DialogSweep : public BoundarySweep {
protected:
    TDialogCloser User;
};

TEST_F(DialogSweep, DeviceTestTakesAnyArgumentsAndReturnsOnceTheDialogIsClosed) {
    const std::vector<TValue> valid = {TValue::Object(Settings.Get()), TValue()};
    int accepted = 0;
    for (std::size_t position = 0; position < valid.size(); ++position) {
        const std::size_t samples = TVariantZoo(Settings.Get(), Driver.Get()).Samples().size();
        for (std::size_t s = 0; s < samples; ++s) {
            for (const bool lateBound : {false, true}) {
                TVariantZoo zoo(Settings.Get(), Driver.Get());
                const TVariantZoo::TSample& sample = zoo.Samples()[s];
                SCOPED_TRACE("argument " + std::to_string(position) + " " + sample.Name +
                             (lateBound ? " through Invoke" : " through CallAsFunc"));
                std::vector<TValue> given = valid;
                given[position] = sample.Value;
                TValue result = TValue(5);
                HRESULT status = E_FAIL;
                if (lateBound) {
                    std::vector<VARIANTARG> reversed = Reversed(given);
                    DISPPARAMS parameters{reversed.data(), nullptr, 2, 0};
                    status = Driver->Invoke(member::DeviceTest, IID_NULL, LOCALE_USER_DEFAULT,
                                            DISPATCH_METHOD, &parameters, result.Put(), nullptr,
                                            nullptr);
                    for (std::size_t i = 0; i < given.size(); ++i) {
                        EXPECT_TRUE(SameValue(reversed[1 - i], given[i].Get()));
                    }
                } else {
                    THostArray arguments(given);
                    status = Extender->CallAsFunc(mDeviceTest, result.Address(), arguments.Put());
                    EXPECT_TRUE(arguments.Intact());
                    EXPECT_TRUE(SameValue(arguments[0], given[0].Get()));
                    if (SUCCEEDED(status)) {
                        EXPECT_TRUE(IsString(arguments[1], L"Ошибок нет"));
                    } else if (arguments[1].vt != VT_BSTR) {
                        // Written or not: the [out] element may take a string either way.
                        EXPECT_TRUE(SameValue(arguments[1], given[1].Get()));
                    }
                }
                EXPECT_TRUE(DocumentedOutcome(status, &result.Get(), VT_BOOL));
                if (SUCCEEDED(status)) {
                    EXPECT_TRUE(IsBool(result.Get(), true));
                    ++accepted;
                }
                if (position == 0) {
                    EXPECT_TRUE(zoo.TargetsUnchanged());
                }
            }
        }
        EXPECT_TRUE(NoHugeStringKept());
    }
    EXPECT_EQ(TDialogCloser::Closed(), accepted) << "each accepted call showed the dialog once";
    EXPECT_GT(accepted, 0);

    // Early bound, with any object or none.
    for (IDispatch* settings :
         {static_cast<IDispatch*>(nullptr), static_cast<IDispatch*>(Settings.Get()),
          static_cast<IDispatch*>(Sink.Get()), static_cast<IDispatch*>(Driver.Get())}) {
        BSTR description = nullptr;
        VARIANT_BOOL result = VARIANT_FALSE;
        EXPECT_EQ(Driver->DeviceTest(settings, &description, &result), S_OK);
        EXPECT_EQ(result, VARIANT_TRUE);
        EXPECT_EQ(TakeString(description), L"Ошибок нет");
    }
    ExpectStillWorking();
}

}  // namespace
}  // namespace wedgecard::test
