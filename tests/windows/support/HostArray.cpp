#include "tests/windows/support/HostArray.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace wedgecard::test {

namespace {

constexpr LONG GuardValue = 0x5AFE;

}  // namespace

std::string Describe(const VARIANT& Value) {
    char type[16];
    std::snprintf(type, sizeof type, "vt 0x%04X", Value.vt);
    std::string text = type;
    switch (Value.vt) {
        case VT_BSTR: {
            const std::wstring string = WideOf(Value.bstrVal);
            if (string.size() > 80) {
                return text + " (" + std::to_string(string.size()) + " characters)";
            }
            return text + " \"" + Utf8(string) + "\"";
        }
        case VT_I4:
            return text + " " + std::to_string(Value.lVal);
        case VT_BOOL:
            return text + " " + std::to_string(Value.boolVal);
        default:
            return text;
    }
}

::testing::AssertionResult IsString(const VARIANT& Value, const std::wstring& Expected) {
    if (Value.vt == VT_BSTR && WideOf(Value.bstrVal) == Expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << Describe(Value) << ", expected VT_BSTR \"" << Utf8(Expected) << "\"";
}

::testing::AssertionResult IsBool(const VARIANT& Value, bool Expected) {
    if (Value.vt == VT_BOOL && Value.boolVal == (Expected ? VARIANT_TRUE : VARIANT_FALSE)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << Describe(Value) << ", expected VT_BOOL " << (Expected ? VARIANT_TRUE : VARIANT_FALSE);
}

::testing::AssertionResult IsInt(const VARIANT& Value, LONG Expected) {
    if (Value.vt == VT_I4 && Value.lVal == Expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << Describe(Value) << ", expected VT_I4 " << Expected;
}

::testing::AssertionResult IsDeviceID(const VARIANT& Value) {
    const std::wstring text = Value.vt == VT_BSTR ? WideOf(Value.bstrVal) : L"";
    bool valid = text.size() == 36;
    for (std::size_t i = 0; valid && i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        valid = dash ? text[i] == L'-'
                     : (text[i] >= L'0' && text[i] <= L'9') || (text[i] >= L'A' && text[i] <= L'F');
    }
    if (Value.vt == VT_BSTR && valid) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << Describe(Value) << ", expected a device identifier";
}

namespace {

// Copies of an array (VariantCopy makes them) are alike in shape and element type.
bool SameShape(SAFEARRAY* A, SAFEARRAY* B) {
    if (A == nullptr || B == nullptr) {
        return A == B;
    }
    VARTYPE typeA = VT_EMPTY;
    VARTYPE typeB = VT_EMPTY;
    if (SafeArrayGetDim(A) != SafeArrayGetDim(B) || FAILED(SafeArrayGetVartype(A, &typeA)) ||
        FAILED(SafeArrayGetVartype(B, &typeB)) || typeA != typeB) {
        return false;
    }
    for (UINT d = 0; d < SafeArrayGetDim(A); ++d) {
        if (A->rgsabound[d].cElements != B->rgsabound[d].cElements ||
            A->rgsabound[d].lLbound != B->rgsabound[d].lLbound) {
            return false;
        }
    }
    return true;
}

}  // namespace

::testing::AssertionResult SameValue(const VARIANT& Actual, const VARIANT& Expected) {
    bool same = Actual.vt == Expected.vt;
    if (same && (Actual.vt & (VT_ARRAY | VT_BYREF)) == VT_ARRAY) {
        same = SameShape(Actual.parray, Expected.parray);
    } else if (same) {
        switch (Actual.vt) {
            case VT_EMPTY:
            case VT_NULL:
                break;
            case VT_BSTR:
                same = WideOf(Actual.bstrVal) == WideOf(Expected.bstrVal);
                break;
            case VT_I4:
                same = Actual.lVal == Expected.lVal;
                break;
            case VT_BOOL:
                same = Actual.boolVal == Expected.boolVal;
                break;
            case VT_DECIMAL:
                same = std::memcmp(&Actual.decVal, &Expected.decVal, sizeof(DECIMAL)) == 0;
                break;
            default:
                same = Actual.llVal == Expected.llVal;
                break;
        }
    }
    if (same) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << Describe(Actual) << ", expected " << Describe(Expected);
}

THostArray::THostArray(const std::vector<TValue>& Elements, LONG Lower)
    : FStorage(Elements.size() + 2), FLower(Lower) {
    for (VARIANT& element : FStorage) {
        VariantInit(&element);
    }
    for (VARIANT* guard : {&FStorage.front(), &FStorage.back()}) {
        guard->vt = VT_I4;
        guard->lVal = GuardValue;
    }
    for (std::size_t i = 0; i < Elements.size(); ++i) {
        VariantCopy(&FStorage[i + 1], const_cast<VARIANT*>(&Elements[i].Get()));
    }
    if (FAILED(SafeArrayAllocDescriptorEx(VT_VARIANT, 1, &FDescriptor))) {
        throw std::runtime_error("SafeArrayAllocDescriptorEx failed");
    }
    // The data is this object's: nothing the callee does may free or move it.
    FDescriptor->fFeatures |= FADF_STATIC;
    FDescriptor->cbElements = sizeof(VARIANT);
    FDescriptor->rgsabound[0].cElements = static_cast<ULONG>(Elements.size());
    FDescriptor->rgsabound[0].lLbound = Lower;
    FDescriptor->pvData = FStorage.data() + 1;
    FArray = FDescriptor;
}

THostArray::~THostArray() {
    for (VARIANT& element : FStorage) {
        VariantClear(&element);
    }
    FDescriptor->pvData = nullptr;
    SafeArrayDestroyDescriptor(FDescriptor);
}

const VARIANT& THostArray::operator[](LONG Index) const {
    return FStorage.at(static_cast<std::size_t>(Index - FLower + 1));
}

VARIANT& THostArray::At(LONG Index) {
    return FStorage.at(static_cast<std::size_t>(Index - FLower + 1));
}

::testing::AssertionResult THostArray::Intact() const {
    for (const VARIANT* guard : {&FStorage.front(), &FStorage.back()}) {
        if (guard->vt != VT_I4 || guard->lVal != GuardValue) {
            return ::testing::AssertionFailure() << "a guard element became " << Describe(*guard);
        }
    }
    if (FArray != FDescriptor) {
        return ::testing::AssertionFailure() << "the array pointer was replaced";
    }
    if (FDescriptor->cLocks != 0) {
        return ::testing::AssertionFailure()
               << "the array is left locked " << FDescriptor->cLocks << " times";
    }
    if (FDescriptor->pvData != FStorage.data() + 1 || FDescriptor->rgsabound[0].lLbound != FLower ||
        FDescriptor->rgsabound[0].cElements != FStorage.size() - 2) {
        return ::testing::AssertionFailure() << "the array descriptor was changed";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace wedgecard::test
