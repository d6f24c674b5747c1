#include "tests/windows/support/AllocationSpy.h"

#include <objbase.h>
#include <objidl.h>

#include <map>
#include <mutex>
#include <set>

namespace wedgecard::test {

namespace {

// Every block the task allocator hands out while the spy is registered, until it is freed.
class TMallocSpy final : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override {
        if (Object == nullptr) {
            return E_POINTER;
        }
        if (Interface == IID_IUnknown || Interface == IID_IMallocSpy) {
            *Object = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *Object = nullptr;
        return E_NOINTERFACE;
    }
    // A process-wide object that outlives every registration.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T Request) override {
        std::lock_guard lock(FLock);
        if (FFailing.contains(GetCurrentThreadId())) {
            // The allocator answers null for a request the spy makes zero.
            return 0;
        }
        FPending[GetCurrentThreadId()] = Request;
        return Request;
    }
    void* STDMETHODCALLTYPE PostAlloc(void* Actual) override {
        std::lock_guard lock(FLock);
        if (Actual != nullptr) {
            FLive[Actual] = FPending[GetCurrentThreadId()];
        }
        return Actual;
    }
    void* STDMETHODCALLTYPE PreFree(void* Request, BOOL /*Spyed*/) override {
        std::lock_guard lock(FLock);
        FLive.erase(Request);
        return Request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL /*Spyed*/) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* Request, SIZE_T Size, void** NewRequest,
                                        BOOL /*Spyed*/) override {
        std::lock_guard lock(FLock);
        FLive.erase(Request);
        FPending[GetCurrentThreadId()] = Size;
        *NewRequest = Request;
        return Size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* Actual, BOOL /*Spyed*/) override {
        std::lock_guard lock(FLock);
        if (Actual != nullptr) {
            FLive[Actual] = FPending[GetCurrentThreadId()];
        }
        return Actual;
    }
    void* STDMETHODCALLTYPE PreGetSize(void* Request, BOOL /*Spyed*/) override { return Request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T Actual, BOOL /*Spyed*/) override { return Actual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* Request, BOOL /*Spyed*/) override { return Request; }
    int STDMETHODCALLTYPE PostDidAlloc(void* /*Request*/, BOOL /*Spyed*/, int Actual) override {
        return Actual;
    }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

    void FailAllocations(bool Failing) {
        std::lock_guard lock(FLock);
        if (Failing) {
            FFailing.insert(GetCurrentThreadId());
        } else {
            FFailing.erase(GetCurrentThreadId());
        }
    }

    std::size_t LiveBlocksOfAtLeast(std::size_t Bytes) const {
        std::lock_guard lock(FLock);
        std::size_t count = 0;
        for (const auto& [block, size] : FLive) {
            if (size >= Bytes) {
                ++count;
            }
        }
        return count;
    }

private:
    mutable std::mutex FLock;
    std::map<DWORD, SIZE_T> FPending;
    std::map<void*, SIZE_T> FLive;
    std::set<DWORD> FFailing;
};

TMallocSpy& Spy() {
    static TMallocSpy spy;
    return spy;
}

}  // namespace

TAllocationSpy::TAllocationSpy() {
    // Registered once for the process and never revoked: a revocation waits for every block
    // allocated meanwhile, and a later test of the same process could not register again.
    static const HRESULT registration = CoRegisterMallocSpy(&Spy());
    FRegistered = SUCCEEDED(registration);
}

TAllocationSpy::~TAllocationSpy() = default;

std::size_t TAllocationSpy::LiveBlocksOfAtLeast(std::size_t Bytes) const {
    return Spy().LiveBlocksOfAtLeast(Bytes);
}

void TAllocationSpy::FailAllocations(bool Failing) const {
    Spy().FailAllocations(Failing);
}

}  // namespace wedgecard::test
