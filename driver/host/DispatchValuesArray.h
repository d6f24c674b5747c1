#pragma once

#include <oaidl.h>

#include "driver/core/LumMSRTypes.h"

namespace wedgecard {

// The host's settings array, read late bound: its method Get called by name with the index,
// the answer converted by the automation runtime (VariantChangeType). Every failure becomes a
// std::runtime_error with the callee's description, or the system's text for the status.
class TDispatchValuesArray final : public IValuesArray {
public:
    // The array is only borrowed for the call that hands it over; it may be null.
    explicit TDispatchValuesArray(IDispatch* Array) noexcept : FArray(Array) {}

    std::int32_t GetInteger(std::int32_t Index) override;
    std::string GetText(std::int32_t Index) override;
    bool GetBoolean(std::int32_t Index) override;

private:
    // The element converted to Type; the caller clears Result.
    void Get(std::int32_t Index, VARTYPE Type, VARIANT& Result);

    IDispatch* FArray;
    DISPID FGet = DISPID_UNKNOWN;
};

}  // namespace wedgecard
