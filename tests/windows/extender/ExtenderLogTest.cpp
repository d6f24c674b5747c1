// The extender's lines in the driver's log file, the trace a support engineer reads when a 1C
// configuration cannot find or call the driver. Texts compared here are CP1251, as written.
#include <algorithm>
#include <memory>

#include "tests/windows/extender/ExtenderHost.h"
#include "tests/windows/support/PrivateDriver.h"

namespace wedgecard::test {
namespace {

using TLine = TLogEntry;

// The expected lines below are narrow literals: they compare with the file only as CP1251.
static_assert(sizeof("Подключить") == 11, "narrow literals must be compiled to CP1251");

TLine Debug(const std::string& Text) {
    return {"DEBUG", "Tole1C", Text};
}

// A copy of the driver module of the test's own, so that its log holds this test's lines alone.
class ExtenderLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(Apartment.Status());
        ASSERT_TRUE(Module.Loaded());
        Driver = Module.Create();
        Extender = ExtenderOf(Driver.Get());
    }
    void TearDown() override {
        Extender.Reset();
        Driver.Reset();
    }

    // The extender's lines written since the test began.
    std::vector<TLine> Lines() const {
        std::vector<TLine> lines = FLog.Entries();
        std::erase_if(lines, [](const TLine& Line) { return Line.Logger != "Tole1C"; });
        return lines;
    }

    HRESULT Call(long Method, THostArray& Arguments, TValue& Result) {
        return Extender->CallAsFunc(Method, Result.Address(), Arguments.Put());
    }

    // The position of the first line from Start on that is Line, or whose text begins with
    // Line's text when Prefix is set; fails the test when there is none.
    static std::size_t Find(const std::vector<TLine>& Lines, const TLine& Line,
                            std::size_t Start = 0, bool Prefix = false) {
        for (std::size_t i = Start; i < Lines.size(); ++i) {
            if (Lines[i] == Line ||
                (Prefix && Lines[i].Level == Line.Level && Lines[i].Logger == Line.Logger &&
                 Lines[i].Text.starts_with(Line.Text))) {
                return i;
            }
        }
        ADD_FAILURE() << "no line " << ::testing::PrintToString(Line) << " from line " << Start
                      << " in\n"
                      << ::testing::PrintToString(Lines);
        return Lines.size();
    }

    TComApartment Apartment;
    TPrivateDriver Module{WindowsPath(WEDGECARD_DRIVER_DLL)};
    ComPtr<ILumMSRKBD1C> Driver;
    ComPtr<ILanguageExtender> Extender;

private:
    TLogTail FLog{Module.LogFileName()};
};

TEST_F(ExtenderLog, LookupsWriteTheirQuestionAndAnswer) {
    long number = 0;
    TBstrArg open(L"Open");
    TBstrArg nothing(L"nothing");
    TBstrArg russian(L"подключить");
    Extender->FindMethod(open.Get(), &number);
    Extender->FindMethod(nothing.Get(), &number);
    Extender->FindMethod(russian.Get(), &number);
    BSTR name = nullptr;
    Extender->GetMethodName(9, 1, &name);
    SysFreeString(name);
    Extender->GetMethodName(13, 0, &name);
    SysFreeString(name);
    Extender->GetNMethods(&number);
    Extender->GetNParams(9, &number);
    Extender->GetNProps(&number);

    EXPECT_EQ(Lines(), (std::vector<TLine>{
                           Debug("FindMethod(Open, 9)=0"),
                           Debug("FindMethod(nothing, -1)=1"),
                           Debug("FindMethod(подключить, 9)=0"),
                           Debug("ToleAddin.GetMethodName(9,1,Подключить)=0"),
                           Debug("ToleAddin.GetMethodName(13,0,)=1"),
                           Debug("ToleAddin.GetNMethods"),
                           Debug("ToleAddin.GetNMethods(13)=0"),
                           Debug("ToleAddin.GetNParams"),
                           Debug("ToleAddin.GetNParams(9, 2)=0"),
                           Debug("ToleAddin.GetNProps"),
                           Debug("ToleAddin.GetNProps(0)=0"),
                       }));
}

TEST_F(ExtenderLog, InitWritesTheEventBufferDepthTheHostReports) {
    const ComPtr<IInitDone> init = InitDoneOf(Driver.Get());
    const auto deep = TEventSink::Create();
    deep->Depth = 100;
    const auto small = TEventSink::Create();
    small->DepthLimit = 2;
    const auto silent = TEventSink::Create();
    silent->ReportsDepth = false;
    const auto plain = TEventSink::Create(false);

    ASSERT_EQ(init->Init(TEventSink::Create().Get()), S_OK);
    ASSERT_EQ(init->Init(deep.Get()), S_OK);
    ASSERT_EQ(init->Init(small.Get()), S_OK);
    ASSERT_EQ(init->Init(silent.Get()), S_OK);
    ASSERT_EQ(init->Init(plain.Get()), S_OK);

    // A host that already keeps more is left as it is.
    EXPECT_EQ(deep->Depth, 100);
    EXPECT_EQ(Lines(), (std::vector<TLine>{
                           Debug("Init(EventBufferDepth:64)"),
                           Debug("Init(EventBufferDepth:100)"),
                           Debug("Init(EventBufferDepth:2)"),
                           Debug("Init(EventBufferDepth:unknown)"),
                       }));
}

TEST_F(ExtenderLog, ACallWritesItsArgumentsTheInvocationAndItsOutcome) {
    const auto settings = TSettingsArray::Bench();
    THostArray open({TValue::Object(settings.Get()), TValue()});
    TValue result;
    ASSERT_EQ(Call(mOpen, open, result), S_OK);
    const std::string id = open[1].vt == VT_BSTR ? Utf8(open[1].bstrVal) : "";
    THostArray close({TValue::Text(std::wstring(id.begin(), id.end()))});
    ASSERT_EQ(Call(mClose, close, result), S_OK);

    const std::vector<TLine> lines = Lines();
    std::size_t at = Find(lines, Debug("ToleAddin.CallAsFunc(9)"));
    EXPECT_EQ(lines.at(at + 1), Debug("CallAsFunc params: VT_DISPATCH:, VT_EMPTY:"));
    EXPECT_EQ(lines.at(at + 2), Debug("Invoke  Open Подключить"));
    // The automation object's own lines come between.
    at = Find(lines, Debug("Open(ValuesArray:{"), at + 3, true);
    at = Find(lines, Debug("RetValue:-1"), at);
    EXPECT_EQ(lines.at(at + 1).Level, "DEBUG");
    EXPECT_TRUE(lines.at(at + 1).Text.starts_with("Invoke: 0x00000000 (")) << lines.at(at + 1).Text;
    EXPECT_TRUE(lines.at(at + 1).Text.ends_with(")"));

    at = Find(lines, Debug("ToleAddin.CallAsFunc(10)"), at);
    EXPECT_EQ(lines.at(at + 1), Debug("CallAsFunc params: VT_BSTR:" + id));
    EXPECT_EQ(lines.at(at + 2), Debug("Invoke  Close Отключить"));
    at = Find(lines, Debug("Close(DeviceID: " + id + ")"), at + 3);
    Find(lines, Debug("RetValue:-1"), at);
}

TEST_F(ExtenderLog, AFailingInvocationIsWrittenAtErrorLevel) {
    THostArray open({TValue::Int(100), TValue()});
    TValue result;
    ASSERT_EQ(Call(mOpen, open, result), DISP_E_TYPEMISMATCH);

    const std::vector<TLine> lines = Lines();
    const std::size_t at = Find(lines, Debug("ToleAddin.CallAsFunc(9)"));
    EXPECT_EQ(lines.at(at + 1), Debug("CallAsFunc params: VT_I4:100, VT_EMPTY:"));
    EXPECT_EQ(lines.at(at + 2), Debug("Invoke  Open Подключить"));
    EXPECT_EQ(lines.at(at + 3), Debug("RetValue:0"));
    EXPECT_EQ(lines.at(at + 4).Level, "ERROR");
    EXPECT_TRUE(lines.at(at + 4).Text.starts_with("Invoke: 0x80020005 (")) << lines.at(at + 4).Text;
}

TEST_F(ExtenderLog, AnEmptyArrayLosesTheColonAndNoArrayLeavesAnEmptyLine) {
    THostArray empty;
    TValue result;
    ASSERT_EQ(Call(mGetVersion, empty, result), S_OK);
    SAFEARRAY* none = nullptr;
    ASSERT_EQ(Extender->CallAsFunc(mGetVersion, result.Address(), &none), S_OK);
    ASSERT_EQ(Extender->CallAsProc(mGetVersion, empty.Put()), S_OK);

    const std::vector<TLine> lines = Lines();
    std::size_t at = Find(lines, Debug("ToleAddin.CallAsFunc(7)"));
    EXPECT_EQ(lines.at(at + 1), Debug("CallAsFunc params"));
    EXPECT_EQ(lines.at(at + 2), Debug("Invoke  GetVersion ПолучитьНомерВерсии"));
    at = Find(lines, Debug("RetValue:1.0.0.8"), at);

    at = Find(lines, Debug("ToleAddin.CallAsFunc(7)"), at);
    EXPECT_EQ(lines.at(at + 1), Debug(""));
    EXPECT_EQ(lines.at(at + 2), Debug("Invoke  GetVersion ПолучитьНомерВерсии"));

    at = Find(lines, Debug("ToleAddin.CallAsFunc(7)"), at + 1);
    at = Find(lines, Debug("RetValue:1.0.0.8"), at);
    EXPECT_TRUE(lines.at(at + 1).Text.starts_with("Invoke: 0x00000000 ("));
    EXPECT_EQ(lines.at(at + 2), Debug("ToleAddin.CallAsProc(7)=0"));
}

TEST_F(ExtenderLog, NumericFlagsReachTheDriverAsBooleans) {
    const auto settings = TSettingsArray::Bench();
    THostArray open({TValue::Object(settings.Get()), TValue()});
    TValue result;
    ASSERT_EQ(Call(mOpen, open, result), S_OK);
    const std::string id = open[1].vt == VT_BSTR ? Utf8(open[1].bstrVal) : "";
    const std::wstring wideID(id.begin(), id.end());

    THostArray one({TValue::Text(wideID), TValue::Int(1)});
    ASSERT_EQ(Call(mEventProcessed, one, result), S_OK);
    THostArray zero({TValue::Text(wideID), TValue::Int(0)});
    ASSERT_EQ(Call(mEventProcessed, zero, result), S_OK);

    const std::vector<TLine> lines = Lines();
    std::size_t at = Find(lines, Debug("CallAsFunc params: VT_BSTR:" + id + ", VT_I4:1"));
    at = Find(lines, Debug("EventProcessed(DeviceID:" + id + ", StateFlag:True)"), at);
    at = Find(lines, Debug("CallAsFunc params: VT_BSTR:" + id + ", VT_I4:0"), at);
    Find(lines, Debug("EventProcessed(DeviceID:" + id + ", StateFlag:False)"), at);
}

}  // namespace
}  // namespace wedgecard::test
