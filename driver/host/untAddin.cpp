#include "driver/host/untAddin.h"

#include "driver/core/untUtils.h"
#include "driver/host/ComSupport.h"

namespace wedgecard {

namespace {

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
        TBstr help;
        Info->GetDocumentation(function->memid, name.Put(), help.Put(), nullptr, nullptr);
        switch (function->invkind) {
            case INVOKE_FUNC: {
                TAddinFunc* method = Funcs.Add();
                method->DispID = function->memid;
                method->Name = Narrow(name.Get());
                method->Alias = Narrow(help.Get());
                method->ResultType = function->elemdescFunc.tdesc.vt;
                method->Restricted = (function->wFuncFlags & FUNCFLAG_FRESTRICTED) != 0;
                AddParams(*function, method->Params);
                break;
            }
            case INVOKE_PROPERTYGET: {
                TAddinProp* property = Props.Add();
                property->DispID = function->memid;
                property->Name = Narrow(name.Get());
                property->Alias = Narrow(help.Get());
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
