#include "driver/host/untAddin.h"

#include "DriverMembers.h"
#include "driver/host/ComSupport.h"

namespace wedgecard {

namespace {

// Empty for a member the driver gives no Russian name (those of IUnknown and IDispatch).
std::wstring RussianName(const std::wstring& Name) {
    for (const TDriverMethod& method : DriverMethods) {
        if (method.Name == Name) {
            return std::wstring(method.Alias);
        }
    }
    return {};
}

void AddParams(const FUNCDESC& Function, TAddinParams& Params) {
    for (SHORT p = 0; p < Function.cParams; ++p) {
        const ELEMDESC& declared = Function.lprgelemdescParam[p];
        TAddinParam* param = Params.Add();
        param->ValueType = declared.tdesc.vt;
        if (declared.tdesc.vt == VT_PTR && declared.tdesc.lptdesc != nullptr) {
            param->ByRef = true;
            param->ValueType = declared.tdesc.lptdesc->vt;
        }
        param->Flags = declared.paramdesc.wParamFlags;
        if ((param->Flags & PARAMFLAG_FHASDEFAULT) != 0 &&
            declared.paramdesc.pparamdescex != nullptr) {
            // A copy of its own: the description it comes from is released below.
            VariantCopy(&param->DefaultValue, &declared.paramdesc.pparamdescex->varDefaultValue);
        }
    }
}

}  // namespace

void LoadMembers(ITypeInfo* Info, TAddinProps& Props, TAddinFuncs& Funcs) {
    Props.Clear();
    Funcs.Clear();
    if (Info == nullptr) {
        return;
    }
    TYPEATTR* attributes = nullptr;
    if (FAILED(Info->GetTypeAttr(&attributes)) || attributes == nullptr) {
        return;
    }
    for (UINT i = 0; i < attributes->cFuncs; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(Info->GetFuncDesc(i, &function)) || function == nullptr) {
            continue;
        }
        TBstr name;
        Info->GetDocumentation(function->memid, name.Put(), nullptr, nullptr, nullptr);
        const std::wstring english = WideOf(name.Get());
        switch (function->invkind) {
            case INVOKE_FUNC: {
                TAddinFunc* method = Funcs.Add();
                method->DispID = function->memid;
                method->Name = english;
                method->Alias = RussianName(english);
                method->ResultType = function->elemdescFunc.tdesc.vt;
                method->Restricted = (function->wFuncFlags & FUNCFLAG_FRESTRICTED) != 0;
                AddParams(*function, method->Params);
                break;
            }
            case INVOKE_PROPERTYGET: {
                TAddinProp* property = Props.Add();
                property->DispID = function->memid;
                property->Name = english;
                property->Alias = RussianName(english);
                property->Readable = true;
                property->ValueType = function->elemdescFunc.tdesc.vt;
                break;
            }
            default:
                // A put: the latest property-get of the same member becomes writable.
                for (int p = Props.Count() - 1; p >= 0; --p) {
                    if (Props.Items(p)->DispID == function->memid) {
                        Props.Items(p)->Writable = true;
                        break;
                    }
                }
                break;
        }
        Info->ReleaseFuncDesc(function);
    }
    Info->ReleaseTypeAttr(attributes);
}

}  // namespace wedgecard
