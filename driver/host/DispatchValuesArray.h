#pragma once

#include <oaidl.h>

#include "driver/core/LumMSRTypes.h"

namespace wedgecard {

// A settings array whose elements are automation values, converted as the automation runtime
// converts them (VariantChangeTypeEx in the user's locale), so that the sensitivity given as the
// text "250" reads as 250 whichever binding it came through. Every failure becomes a
// std::runtime_error with the callee's description, or the system's text for the status.
class TAutomationValues : public IValuesArray {
public:
    std::int32_t GetInteger(std::int32_t Index) final;
    std::string GetText(std::int32_t Index) final;
    bool GetBoolean(std::int32_t Index) final;

protected:
    // The element as the host holds it; the caller clears Element. Raises when there is none.
    virtual void GetElement(std::int32_t Index, VARIANT& Element) = 0;

private:
    // The element converted to Type; the caller clears Result.
    void Get(std::int32_t Index, VARTYPE Type, VARIANT& Result);
};

// The host's settings array, read late bound: its method Get called by name with the index.
class TDispatchValuesArray final : public TAutomationValues {
public:
    // The array is only borrowed for the call that hands it over; it may be null.
    explicit TDispatchValuesArray(IDispatch* Array) noexcept : FArray(Array) {}

protected:
    void GetElement(std::int32_t Index, VARIANT& Element) override;

private:
    IDispatch* FArray;
    DISPID FGet = DISPID_UNKNOWN;
};

// std::runtime_error with the system's text for Status.
[[noreturn]] void RaiseStatus(HRESULT Status);

}  // namespace wedgecard
