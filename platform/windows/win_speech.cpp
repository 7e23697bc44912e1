// platform/windows/win_speech.cpp: the SAPI voice and the JAWS API object, through COM.
#include "platform/windows/win_speech.h"

#include <algorithm>

#include "platform/windows/win_platform.h"

#include <objbase.h>
#include <oleauto.h>
#include <sapi.h>

namespace tw {

namespace {

CLSID classFor(const wchar_t* progId, const char* name) {
    CLSID clsid;
    const HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) throw PlatformError(std::string(name) + " cannot be created: " + systemMessage(hr));
    return clsid;
}

// Owns a BSTR for the length of one call.
class Bstr {
public:
    explicit Bstr(const std::wstring& text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
        if (!value_) throw PlatformError("out of memory for a speech text");
    }
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return value_; }

private:
    BSTR value_;
};

}  // namespace

SapiVoice::SapiVoice() {
    const CLSID clsid = classFor(L"SAPI.SpVoice", "SAPI.SpVoice");
    void* object = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, __uuidof(ISpVoice), &object);
    if (FAILED(hr) || !object) throw PlatformError("SAPI.SpVoice cannot be created: " + systemMessage(hr));
    voice_ = static_cast<ISpVoice*>(object);
    long rate = 0;
    if (SUCCEEDED(voice_->GetRate(&rate))) rate_ = static_cast<int>(rate);
    USHORT volume = 100;
    if (SUCCEEDED(voice_->GetVolume(&volume))) volume_ = volume;
}

SapiVoice::~SapiVoice() {
    if (voice_) voice_->Release();
}

long SapiVoice::engineRate(int rate) { return std::clamp(rate, -10, 10); }

unsigned short SapiVoice::engineVolume(int volume) { return static_cast<unsigned short>(std::clamp(volume, 0, 100)); }

void SapiVoice::speak(const std::string& text, int flags) {
    const std::wstring wide = widen(text);
    const auto sapiFlags = static_cast<DWORD>(flags);
    // An empty text only silences the voice; SAPI documents a null text for that.
    const wchar_t* words = wide.empty() && (sapiFlags & SPF_PURGEBEFORESPEAK) ? nullptr : wide.c_str();
    const HRESULT hr = voice_->Speak(words, sapiFlags, nullptr);
    if (FAILED(hr)) throw PlatformError("the voice cannot speak: " + systemMessage(hr));
}

void SapiVoice::setRate(int rate) {
    rate_ = rate;
    voice_->SetRate(engineRate(rate));
}

void SapiVoice::setVolume(int volume) {
    volume_ = volume;
    voice_->SetVolume(engineVolume(volume));
}

JawsApi::JawsApi() {
    const CLSID clsid = classFor(L"FreedomSci.JawsApi", "FreedomSci.JawsApi");
    void* object = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, &object);
    if (FAILED(hr) || !object) throw PlatformError("FreedomSci.JawsApi cannot be created: " + systemMessage(hr));
    api_ = static_cast<IDispatch*>(object);
    wchar_t name[] = L"SayString";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    hr = api_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        api_->Release();
        api_ = nullptr;
        throw PlatformError("FreedomSci.JawsApi has no SayString: " + systemMessage(hr));
    }
    sayString_ = id;
}

JawsApi::~JawsApi() {
    if (api_) api_->Release();
}

void JawsApi::SayString(const std::string& text, bool flush) {
    Bstr words(widen(text));
    // IDispatch takes the arguments last first.
    VARIANTARG args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_BOOL;
    args[0].boolVal = flush ? VARIANT_TRUE : VARIANT_FALSE;
    args[1].vt = VT_BSTR;
    args[1].bstrVal = words.get();
    DISPPARAMS params{};
    params.rgvarg = args;
    params.cArgs = 2;
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr =
        api_->Invoke(sayString_, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    VariantClear(&result);
    if (FAILED(hr)) throw PlatformError("JAWS cannot speak: " + systemMessage(hr));
}

}  // namespace tw
