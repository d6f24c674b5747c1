#include "driver/host/WinDriverServices.h"

#include <objbase.h>

#include <stdexcept>

#include "driver/capture/WinCapturePlatform.h"
#include "driver/diagnostics/ModuleInfo.h"
#include "driver/diagnostics/fmuDeviceTest.h"

namespace wedgecard {

namespace {

class TSystemGuids final : public IGuidSource {
public:
    TGuid NewGuid() override {
        GUID guid;
        const HRESULT status = CoCreateGuid(&guid);
        if (FAILED(status)) {
            throw std::runtime_error(SystemErrorText(static_cast<unsigned long>(status)));
        }
        TGuid result;
        result.Data1 = guid.Data1;
        result.Data2 = guid.Data2;
        result.Data3 = guid.Data3;
        for (std::size_t i = 0; i < result.Data4.size(); ++i) {
            result.Data4[i] = guid.Data4[i];
        }
        return result;
    }
};

class TThisModule final : public IModuleInfo {
public:
    std::string GetFileVersionText() override { return wedgecard::GetFileVersionText(); }
    std::string GetModulePath() override { return wedgecard::GetModulePath(); }
};

}  // namespace

const TDriverServices& WindowsDriverServices() {
    static TSystemGuids guids;
    static TThisModule module;
    static TWinDeviceTestDialog dialog;
    static const TDriverServices services{WindowsCapturePlatform(), guids, module, dialog};
    return services;
}

}  // namespace wedgecard
