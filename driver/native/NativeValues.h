#pragma once

#include <oaidl.h>

#include <string>

#include "driver/host/DispatchValuesArray.h"
#include "driver/native/NativeApi.h"

namespace wedgecard {

// Whether a value from the host can be read at all: a type code the API defines, without the
// array or reference bits, and characters behind a text that claims some. Anything else is the
// host's mistake, which fails the call instead of being guessed at.
[[nodiscard]] bool IsReadable(const native::TNativeVariant& Value) noexcept;

// The automation value the COM binding would have received for a readable host value, so that
// both bindings convert parameters alike. DISP_E_TYPEMISMATCH for a value automation has no
// counterpart for (an object, binary data, a nested array); Result is then empty.
[[nodiscard]] HRESULT ToAutomation(const native::TNativeVariant& Value, VARIANT& Result);

// A readable host value converted as automation converts it; the failing status otherwise.
[[nodiscard]] HRESULT ReadText(const native::TNativeVariant& Value, std::wstring& Result);
[[nodiscard]] HRESULT ReadBoolean(const native::TNativeVariant& Value, bool& Result);
[[nodiscard]] HRESULT ReadInteger(const native::TNativeVariant& Value, std::int32_t& Result);
[[nodiscard]] HRESULT ReadNumber(const native::TNativeVariant& Value, double& Result);

// The eight settings of Open and DeviceTest, which the host passes as eight parameters in the
// order of the COM binding's settings array; each is read as that array's elements are.
class TNativeValuesArray final : public TAutomationValues {
public:
    // Values: eight readable host values, borrowed for the call.
    explicit TNativeValuesArray(const native::TNativeVariant* Values) noexcept : FValues(Values) {}

    static constexpr std::int32_t Count = 8;

protected:
    void GetElement(std::int32_t Index, VARIANT& Element) override;

private:
    const native::TNativeVariant* FValues;
};

}  // namespace wedgecard
