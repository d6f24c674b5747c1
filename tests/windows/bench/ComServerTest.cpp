#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Benchpad_TLB.h"
#include "bench/ComServer.h"
#include "bench/oleArray1C.h"
#include "tests/windows/bench/ComTestSupport.h"

namespace benchpad::test {
namespace {

// --- Command-line switches ----------------------------------------------------------------------

TEST(ServerSwitches, AreWholeArgumentsInAnyCaseWithOrWithoutSlashOrDash) {
    const TServerSwitches registration = ParseServerSwitches(L"bench.exe /RegServer");
    EXPECT_TRUE(registration.RegServer);
    EXPECT_FALSE(registration.UnregServer || registration.StartedByCom());

    EXPECT_TRUE(ParseServerSwitches(L"bench.exe -UNREGSERVER").UnregServer);
    EXPECT_TRUE(ParseServerSwitches(L"bench.exe regserver").RegServer);
    EXPECT_TRUE(ParseServerSwitches(L"bench.exe /automation").Automation);
    EXPECT_TRUE(ParseServerSwitches(L"bench.exe -Embedding").Embedding);
    EXPECT_TRUE(ParseServerSwitches(L"bench.exe /Automation -Embedding").StartedByCom());

    for (const wchar_t* line : {L"bench.exe", L"bench.exe /RegServer2", L"bench.exe --regserver",
                                L"bench.exe /Reg Server", L"bench.exe Automations"}) {
        const TServerSwitches none = ParseServerSwitches(line);
        EXPECT_FALSE(none.RegServer || none.UnregServer || none.Automation || none.Embedding)
            << testing::PrintToString(std::wstring(line));
    }
    // The program's own name is no switch, even when it reads like one.
    const TServerSwitches named = ParseServerSwitches(L"\"C:\\x\\regserver\" /Embedding");
    EXPECT_FALSE(named.RegServer);
    EXPECT_TRUE(named.Embedding);
}

// --- Class objects in this process --------------------------------------------------------------

class LocalServer : public ComTest {
protected:
    // What a window's thread would do with the quit message: here, find it in the queue.
    static bool QuitPosted() {
        MSG message;
        return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    }
};

TEST_F(LocalServer, EveryActivationGetsANewArray) {
    TLocalServer server(TServerSwitches{});
    ASSERT_HRESULT_SUCCEEDED(server.RegisterClassObjects());

    ComPtr<IArray1C> first;
    ComPtr<IArray1C> second;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_Array1C, nullptr, CLSCTX_LOCAL_SERVER, IID_IArray1C, &first));
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_Array1C, nullptr, CLSCTX_LOCAL_SERVER, IID_IArray1C, &second));
    ASSERT_HRESULT_SUCCEEDED(first->Add(Int(1).Get()));

    LONG count = -1;
    ASSERT_HRESULT_SUCCEEDED(second->get_Count(&count));
    EXPECT_EQ(count, 0);
    ComPtr<IAsyncEvents> events;
    EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_AsyncEvents, nullptr, CLSCTX_LOCAL_SERVER,
                                              IID_IAsyncEvents, &events));
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(CoCreateInstance(CLSID_Array1C, first.Get(), CLSCTX_LOCAL_SERVER, IID_IUnknown,
                               &aggregated),
              CLASS_E_NOAGGREGATION);
}

TEST_F(LocalServer, StartedByComQuitsWhenTheLastObjectAndLockAreGone) {
    TLocalServer server(TServerSwitches{.Automation = true});
    ASSERT_HRESULT_SUCCEEDED(server.RegisterClassObjects());
    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(
        CoGetClassObject(CLSID_Array1C, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, &factory));
    ComPtr<IArray1C> first;
    ComPtr<IArray1C> second;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_IArray1C, &first));
    ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_IArray1C, &second));
    ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));

    first.Reset();
    second.Reset();
    EXPECT_FALSE(QuitPosted()) << "a client's lock still holds the server";

    ASSERT_HRESULT_SUCCEEDED(factory->LockServer(FALSE));
    EXPECT_TRUE(QuitPosted());
}

TEST_F(LocalServer, StartedByTheUserStaysWhenTheLastObjectGoes) {
    TLocalServer server(TServerSwitches{});
    ASSERT_HRESULT_SUCCEEDED(server.RegisterClassObjects());
    ComPtr<IArray1C> array;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_Array1C, nullptr, CLSCTX_LOCAL_SERVER, IID_IArray1C, &array));

    array.Reset();

    EXPECT_FALSE(QuitPosted());
}

TEST_F(LocalServer, WindowMayTakeOverTheEndOfAServerStartedByCom) {
    TLocalServer server(TServerSwitches{.Embedding = true});
    int closed = 0;
    server.OnLastRelease = [&] { ++closed; };
    ASSERT_HRESULT_SUCCEEDED(server.RegisterClassObjects());
    ComPtr<IArray1C> array;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_Array1C, nullptr, CLSCTX_LOCAL_SERVER, IID_IArray1C, &array));

    array.Reset();

    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(QuitPosted());
}

TEST_F(LocalServer, ClassObjectsGoWithTheServer) {
    // Only the class table of this process is asked: no registry entry may start a program.
    auto registered = [] {
        ComPtr<IClassFactory> factory;
        return SUCCEEDED(CoGetClassObject(CLSID_Array1C, CLSCTX_INPROC_SERVER, nullptr,
                                          IID_IClassFactory, &factory));
    };
    {
        TLocalServer server(TServerSwitches{});
        ASSERT_HRESULT_SUCCEEDED(server.RegisterClassObjects());
        EXPECT_TRUE(registered());
    }
    EXPECT_FALSE(registered());
}

// --- Making an object
// -----------------------------------------------------------------------------

// An object that counts its live instances and whose initialisation answers as told.
class TInitialized final : public IUnknown, private TUnknownImpl<TInitialized> {
public:
    enum TOutcome { Succeeds, Fails, Throws };
    static inline TOutcome Outcome = Succeeds;
    static inline int Alive = 0;

    TInitialized() noexcept { ++Alive; }

    HRESULT Initialize() {
        if (Outcome == Throws) {
            throw std::runtime_error("initialisation");
        }
        return Outcome == Fails ? E_FAIL : S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override {
        return QueryFound(FindInTable(Interface, {{IID_IUnknown, this}}), Object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }

private:
    friend TUnknownImpl<TInitialized>;
    ~TInitialized() { --Alive; }
};

HRESULT CreateTInitialized(REFIID Interface, void** Object) noexcept {
    constexpr wedgecard::TComBoundary creation{nullptr, nullptr, E_OUTOFMEMORY};
    return wedgecard::CreateInitialized<TInitialized>(creation, Interface, Object);
}

void NoLock(bool) noexcept {}

TEST(ClassFactory, HandsOutAnInitialisedObjectOnceAndFreesOneWhoseInitialisationFailsOrThrows) {
    TClassFactory<&CreateTInitialized, &NoLock, false> factory;
    for (const auto& [outcome, answer] :
         {std::pair{TInitialized::Fails, E_FAIL}, std::pair{TInitialized::Throws, E_OUTOFMEMORY}}) {
        TInitialized::Outcome = outcome;
        void* object = &object;
        EXPECT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, &object), answer);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(TInitialized::Alive, 0) << "outcome " << outcome;
    }

    TInitialized::Outcome = TInitialized::Succeeds;
    ComPtr<IUnknown> made;
    ASSERT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, &made), S_OK);
    EXPECT_EQ(TInitialized::Alive, 1);
    // The caller's reference is the only one: letting go of it frees the object.
    made.Reset();
    EXPECT_EQ(TInitialized::Alive, 0);
}

}  // namespace
}  // namespace benchpad::test
