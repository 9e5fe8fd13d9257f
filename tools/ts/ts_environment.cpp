#include "ts_environment.h"

namespace {

const wchar_t ProgId[] = L"Microsoft.SMS.TSEnvironment";

// A VT_BSTR argument holding a copy of the text; FALSE when there is no memory for it.
BOOL MakeTextArgument(const std::wstring& text, VARIANTARG* argument) {
    VariantInit(argument);
    argument->bstrVal = SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    if (argument->bstrVal == NULL) {
        return FALSE;
    }
    argument->vt = VT_BSTR;
    return TRUE;
}

} // namespace

HRESULT OpenTsEnvironment(TsEnvironment* environment) {
    CLSID classId;
    HRESULT status = CLSIDFromProgID(ProgId, &classId);
    if (FAILED(status)) {
        return status;
    }
    IDispatch* dispatch = NULL;
    status = CoCreateInstance(classId, NULL, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (FAILED(status)) {
        return status;
    }
    wchar_t valueName[] = L"Value";
    LPOLESTR names[] = {valueName};
    DISPID value = DISPID_UNKNOWN;
    status = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &value);
    if (FAILED(status)) {
        dispatch->Release();
        return status;
    }
    environment->dispatch = dispatch;
    environment->value = value;
    return S_OK;
}

void CloseTsEnvironment(TsEnvironment* environment) {
    environment->dispatch->Release();
    environment->dispatch = NULL;
}

HRESULT GetTsVariable(const TsEnvironment& environment, const std::wstring& name,
                      std::wstring* value) {
    VARIANTARG argument;
    if (!MakeTextArgument(name, &argument)) {
        return E_OUTOFMEMORY;
    }
    DISPPARAMS parameters = {&argument, NULL, 1, 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT status =
        environment.dispatch->Invoke(environment.value, IID_NULL, LOCALE_USER_DEFAULT,
                                     DISPATCH_PROPERTYGET, &parameters, &result, NULL, NULL);
    if (SUCCEEDED(status) && result.vt != VT_BSTR) {
        status = DISP_E_TYPEMISMATCH;
    }
    if (SUCCEEDED(status)) {
        value->assign(result.bstrVal, SysStringLen(result.bstrVal));
    }
    VariantClear(&result);
    VariantClear(&argument);
    return status;
}

HRESULT SetTsVariable(const TsEnvironment& environment, const std::wstring& name,
                      const std::wstring& value) {
    // Invoke takes its arguments last first: the new value, then the variable's name.
    VARIANTARG arguments[2];
    if (!MakeTextArgument(value, &arguments[0])) {
        return E_OUTOFMEMORY;
    }
    if (!MakeTextArgument(name, &arguments[1])) {
        VariantClear(&arguments[0]);
        return E_OUTOFMEMORY;
    }
    DISPID putValue = DISPID_PROPERTYPUT;
    DISPPARAMS parameters = {arguments, &putValue, 2, 1};
    const HRESULT status =
        environment.dispatch->Invoke(environment.value, IID_NULL, LOCALE_USER_DEFAULT,
                                     DISPATCH_PROPERTYPUT, &parameters, NULL, NULL, NULL);
    VariantClear(&arguments[1]);
    VariantClear(&arguments[0]);
    return status;
}
