// The automation members' arguments read once: texts, an expected size, a list of sources in each form a
// script gives one; and the platform strings and arrays their answers become.
#include "automation/ScriptArguments.h"

#include "agent/Sha256.h"
#include "base/Result.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace tamsel::automation {
namespace {

// Sizes travel as doubles, which hold every whole number up to 2^53 exactly.
constexpr double LARGEST_EXACT_SIZE = 9007199254740992.0;
const wchar_t* const SOURCES = L"sources";

// The refusal of a text, or none: a NUL anywhere; in a text that is sent, anything but printable ASCII,
// which would need an encoding that the service and the lookup pages do not agree on.
std::optional<Outcome> Refused(const wchar_t* text, size_t length, const wchar_t* name, bool sent) {
    const std::wstring argument = std::wstring(L"the argument ") + name;
    if (length != 0 && std::wmemchr(text, L'\0', length) != nullptr) {
        return Failure(E_INVALIDARG, argument + L" holds a NUL character, which would cut it short");
    }
    if (sent && std::any_of(text, text + length, [](wchar_t c) { return c < 0x20 || c > 0x7E; })) {
        return Failure(E_INVALIDARG, argument + L" holds a character other than printable ASCII");
    }
    return std::nullopt;
}

Outcome SourcesRefused(const std::wstring& why) {
    return Failure(E_INVALIDARG, std::wstring(L"the argument ") + SOURCES + L" " + why);
}

Outcome NoList() {
    return SourcesRefused(L"is not a URL, URLs separated by line breaks, an array of them or a script's array");
}

std::optional<Outcome> Counted(size_t count) {
    if (count == 0) return SourcesRefused(L"holds no URL");
    if (count > MAX_SCRIPT_SOURCES) {
        return SourcesRefused(L"holds more than " + std::to_wstring(MAX_SCRIPT_SOURCES) + L" URLs");
    }
    return std::nullopt;
}

std::optional<Outcome> AddSource(const wchar_t* text, size_t length, std::vector<std::string>& out) {
    std::string source;
    if (auto failure = ReadText(text, length, SOURCES, source)) return failure;
    if (source.empty()) return SourcesRefused(L"holds an empty URL at position " + std::to_wstring(out.size() + 1));
    out.push_back(std::move(source));
    return std::nullopt;
}

// URLs separated by CR, LF or CRLF; a break at the very end ends the last URL, no empty one after it.
std::optional<Outcome> ReadLines(BSTR text, std::vector<std::string>& out) {
    std::wstring whole;
    if (auto failure = ReadText(text, SOURCES, whole)) return failure;
    for (size_t start = 0; start < whole.size();) {
        const size_t stop = std::min(whole.find_first_of(L"\r\n", start), whole.size());
        if (auto failure = AddSource(whole.data() + start, stop - start, out)) return failure;
        if (out.size() > MAX_SCRIPT_SOURCES) break;
        start = stop + (whole.compare(stop, 2, L"\r\n") == 0 ? 2 : 1);
    }
    return Counted(out.size());
}

// An element of an array: a string, or a VARIANT holding one (by value or, as a script's variable, by
// reference). Null when it is neither.
const BSTR* StringElement(void* item, VARTYPE type) noexcept {
    if (type == VT_BSTR) return static_cast<BSTR*>(item);
    const VARIANT& element = *static_cast<const VARIANT*>(item);
    if (element.vt == VT_BSTR) return &element.bstrVal;
    if (element.vt == (VT_BYREF | VT_BSTR) && element.pbstrVal != nullptr) return element.pbstrVal;
    return nullptr;
}

// A one-dimensional SAFEARRAY of BSTRs or of VARIANTs, whatever its lower bound.
std::optional<Outcome> ReadArray(SAFEARRAY* array, VARTYPE type, std::vector<std::string>& out) {
    LONG lower = 0, upper = -1;
    if (array == nullptr || ::SafeArrayGetDim(array) != 1 || FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(::SafeArrayGetUBound(array, 1, &upper))) {
        return NoList();
    }
    if (auto failure = Counted(upper < lower ? 0 : static_cast<size_t>(upper - lower) + 1)) return failure;
    for (LONG index = lower; index <= upper; ++index) {
        void* item = nullptr;
        const BSTR* element = SUCCEEDED(::SafeArrayPtrOfIndex(array, &index, &item)) ? StringElement(item, type) : nullptr;
        if (element == nullptr) return SourcesRefused(L"holds an element that is not a string");
        if (auto failure = AddSource(*element, ::SysStringLen(*element), out)) return failure;
    }
    return std::nullopt;
}

// A property of a script's object, got through IDispatch as any late-bound caller gets it.
HRESULT GetProperty(IDispatch* object, const wchar_t* name, VARIANT& value) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID member = DISPID_UNKNOWN;
    RETURN_IF_FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
}

// A VARIANT cleared when it goes.
struct HeldVariant {
    VARIANT value;
    HeldVariant() noexcept { ::VariantInit(&value); }
    ~HeldVariant() { ::VariantClear(&value); }
    HeldVariant(const HeldVariant&) = delete;
    HeldVariant& operator=(const HeldVariant&) = delete;
};

// A JScript array: its length, then its members "0", "1", ... one by one.
std::optional<Outcome> ReadScriptArray(IDispatch* array, std::vector<std::string>& out) {
    HeldVariant length;
    if (array == nullptr || FAILED(GetProperty(array, L"length", length.value)) ||
        FAILED(::VariantChangeType(&length.value, &length.value, 0, VT_I4)) || length.value.lVal < 0) {
        return NoList();
    }
    if (auto failure = Counted(static_cast<size_t>(length.value.lVal))) return failure;
    for (LONG index = 0; index < length.value.lVal; ++index) {
        HeldVariant element;
        if (FAILED(GetProperty(array, std::to_wstring(index).c_str(), element.value)) || element.value.vt != VT_BSTR) {
            return SourcesRefused(L"holds an element that is not a string");
        }
        if (auto failure = AddSource(element.value.bstrVal, ::SysStringLen(element.value.bstrVal), out)) return failure;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Outcome> ReadText(const wchar_t* text, size_t length, const wchar_t* name, std::string& out) {
    if (auto failure = Refused(text, length, name, true)) return failure;
    out.assign(text, text + length);
    return std::nullopt;
}

std::optional<Outcome> ReadText(BSTR text, const wchar_t* name, std::string& out) {
    return ReadText(text, ::SysStringLen(text), name, out);
}

std::optional<Outcome> ReadText(BSTR text, const wchar_t* name, std::wstring& out) {
    const UINT length = ::SysStringLen(text);
    if (auto failure = Refused(text, length, name, false)) return failure;
    out.assign(text, text + length);
    return std::nullopt;
}

std::optional<Outcome> ReadText(BSTR text, const wchar_t* name, web::SecretText<wchar_t>& out) {
    const UINT length = ::SysStringLen(text);
    if (auto failure = Refused(text, length, name, false)) return failure;
    out = web::SecretText<wchar_t>(text, length);
    return std::nullopt;
}

std::optional<Outcome> NotEmpty(const std::string& text, const wchar_t* name) {
    if (!text.empty()) return std::nullopt;
    return Failure(E_INVALIDARG, std::wstring(L"the argument ") + name + L" is empty");
}

std::optional<Outcome> ToExpectedSize(const VARIANT& argument, LONGLONG& size) {
    size = -1;
    // VBScript passes a variable by reference: the VARIANT it refers to is the argument.
    const bool byReference = argument.vt == (VT_BYREF | VT_VARIANT) && argument.pvarVal != nullptr;
    const VARIANT& given = byReference ? *argument.pvarVal : argument;
    if (given.vt == VT_EMPTY || given.vt == VT_NULL || (given.vt == VT_ERROR && given.scode == DISP_E_PARAMNOTFOUND)) {
        return std::nullopt;
    }
    const bool textByReference = given.vt == (VT_BYREF | VT_BSTR) && given.pbstrVal != nullptr;
    const BSTR text = given.vt == VT_BSTR ? given.bstrVal : textByReference ? *given.pbstrVal : nullptr;
    std::wstring number;
    if (auto failure = ReadText(text, L"expectedSize", number)) return failure;
    VARIANT read;
    ::VariantInit(&read);
    const bool converted = SUCCEEDED(::VariantChangeType(&read, const_cast<VARIANT*>(&given), 0, VT_R8));
    if (!converted || read.dblVal < -1 || read.dblVal > LARGEST_EXACT_SIZE || std::floor(read.dblVal) != read.dblVal) {
        return Failure(E_INVALIDARG, L"the argument expectedSize is not -1 or a whole number of bytes");
    }
    size = static_cast<LONGLONG>(read.dblVal);
    return std::nullopt;
}

std::optional<Outcome> ReadFileArguments(BSTR path, const VARIANT& expectedSize, BSTR sha256, FileArguments& out) {
    for (auto& failure : {ReadText(path, L"path", out.path), ToExpectedSize(expectedSize, out.expectedSize),
                          ReadText(sha256, L"sha256", out.sha256)}) {
        if (failure) return failure;
    }
    if (out.path.empty()) return Failure(E_INVALIDARG, L"the argument path is empty");
    if (!out.sha256.empty() && !agent::ParseDigest(out.sha256)) {
        return Failure(E_INVALIDARG, L"the argument sha256 is not 64 hexadecimal digits");
    }
    return std::nullopt;
}

std::optional<Outcome> ReadSources(const VARIANT& sources, std::vector<std::string>& out) {
    out.clear();
    // A script's variable comes by reference: the VARIANT it refers to is the argument.
    const bool byReference = sources.vt == (VT_BYREF | VT_VARIANT) && sources.pvarVal != nullptr;
    const VARIANT& given = byReference ? *sources.pvarVal : sources;
    const bool reference = (given.vt & VT_BYREF) != 0;
    switch (given.vt & ~VT_BYREF) {
        case VT_BSTR: return ReadLines(reference ? *given.pbstrVal : given.bstrVal, out);
        case VT_ARRAY | VT_VARIANT:
        case VT_ARRAY | VT_BSTR:
            return ReadArray(reference ? *given.pparray : given.parray, given.vt & VT_TYPEMASK, out);
        case VT_DISPATCH: return ReadScriptArray(reference ? *given.ppdispVal : given.pdispVal, out);
        default: return NoList();
    }
}

HRESULT NewString(const std::string& text, BSTR* out) {
    // ASCII or the service's 8-bit text, byte by byte: unsigned, or a byte above 127 would become U+FFxx.
    std::wstring wide(text.size(), L'\0');
    std::transform(text.begin(), text.end(), wide.begin(), [](char c) { return static_cast<unsigned char>(c); });
    *out = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT NewStringArray(const std::vector<std::string>& texts, VARIANT* out) {
    ::VariantInit(out);
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, array);
    VARIANT* elements = nullptr;
    HRESULT hr = ::SafeArrayAccessData(array, reinterpret_cast<void**>(&elements));
    for (size_t index = 0; SUCCEEDED(hr) && index < texts.size(); ++index) {
        elements[index].vt = VT_BSTR;
        hr = NewString(texts[index], &elements[index].bstrVal);
    }
    if (elements != nullptr) ::SafeArrayUnaccessData(array);
    if (FAILED(hr)) {
        ::SafeArrayDestroy(array);  // clears every element, the strings made so far
        return hr;
    }
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
    return S_OK;
}

}  // namespace tamsel::automation
