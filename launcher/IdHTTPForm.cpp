#include "IdHTTPForm.h"

#include <functional>
#include <map>

#include "Forms.h"
#include "IdHTTP.h"

namespace {

using TSetter = std::function<void(TIdHTTP&, const TFormValue&)>;

template <class E, size_t N>
E EnumValue(const TFormValue& value, const char* const (&names)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (SameText(value.AsIdentifier(), names[i])) return static_cast<E>(i);
    throw EReadError("Invalid property value");
}

const char* const kMaxLineActions[] = {"maException", "maSplit"};
const char* const kProtocolVersions[] = {"pv1_0", "pv1_1"};
const char* const kHTTPOptions[] = {"hoInProcessAuth", "hoKeepOrigProtocol", "hoForceEncodeParams"};

TIdHTTPOptions OptionSet(const TFormValue& value) {
    TIdHTTPOptions options;
    for (const AnsiString& item : value.AsSet()) {
        TFormValue one;
        one.kind = TFormValue::Kind::Identifier;
        one.text = item;
        options.Include(EnumValue<TIdHTTPOption>(one, kHTTPOptions));
    }
    return options;
}

uint32_t Unsigned(const TFormValue& value) {
    const int32_t v = value.AsInteger();
    if (v < 0) throw EReadError("Invalid property value");
    return static_cast<uint32_t>(v);
}

// The properties a form description may store for the client, by name.
const std::map<AnsiString, TSetter>& Setters() {
    static const std::map<AnsiString, TSetter> setters = {
        {"ASCIIFILTER", [](TIdHTTP& h, const TFormValue& v) { h.SetASCIIFilter(v.AsBoolean()); }},
        {"MAXLINELENGTH", [](TIdHTTP& h, const TFormValue& v) { h.SetMaxLineLength(v.AsInteger()); }},
        {"MAXLINEACTION",
         [](TIdHTTP& h, const TFormValue& v) { h.SetMaxLineAction(EnumValue<TIdMaxLineAction>(v, kMaxLineActions)); }},
        {"READTIMEOUT", [](TIdHTTP& h, const TFormValue& v) { h.SetReadTimeout(v.AsInteger()); }},
        {"RECVBUFFERSIZE", [](TIdHTTP& h, const TFormValue& v) { h.SetRecvBufferSize(v.AsInteger()); }},
        {"SENDBUFFERSIZE", [](TIdHTTP& h, const TFormValue& v) { h.SetSendBufferSize(v.AsInteger()); }},
        {"BOUNDIP", [](TIdHTTP& h, const TFormValue& v) { h.SetBoundIP(v.AsString()); }},
        {"BOUNDPORT", [](TIdHTTP& h, const TFormValue& v) { h.SetBoundPort(v.AsInteger()); }},
        {"HOST", [](TIdHTTP& h, const TFormValue& v) { h.SetHost(v.AsString()); }},
        {"PORT", [](TIdHTTP& h, const TFormValue& v) { h.SetPort(v.AsInteger()); }},
        {"AUTHRETRIES", [](TIdHTTP& h, const TFormValue& v) { h.SetAuthRetries(v.AsInteger()); }},
        {"ALLOWCOOKIES", [](TIdHTTP& h, const TFormValue& v) { h.SetAllowCookies(v.AsBoolean()); }},
        {"HANDLEREDIRECTS", [](TIdHTTP& h, const TFormValue& v) { h.SetHandleRedirects(v.AsBoolean()); }},
        {"PROTOCOLVERSION",
         [](TIdHTTP& h, const TFormValue& v) {
             h.SetProtocolVersion(EnumValue<TIdHTTPProtocolVersion>(v, kProtocolVersions));
         }},
        {"REDIRECTMAXIMUM", [](TIdHTTP& h, const TFormValue& v) { h.SetRedirectMaximum(v.AsInteger()); }},
        {"HTTPOPTIONS", [](TIdHTTP& h, const TFormValue& v) { h.SetHTTPOptions(OptionSet(v)); }},
        {"PROXYPARAMS.BASICAUTHENTICATION",
         [](TIdHTTP& h, const TFormValue& v) { h.ProxyParams()->SetBasicAuthentication(v.AsBoolean()); }},
        {"PROXYPARAMS.PROXYPASSWORD",
         [](TIdHTTP& h, const TFormValue& v) { h.ProxyParams()->SetProxyPassword(v.AsString()); }},
        {"PROXYPARAMS.PROXYPORT", [](TIdHTTP& h, const TFormValue& v) { h.ProxyParams()->SetProxyPort(v.AsInteger()); }},
        {"PROXYPARAMS.PROXYSERVER",
         [](TIdHTTP& h, const TFormValue& v) { h.ProxyParams()->SetProxyServer(v.AsString()); }},
        {"PROXYPARAMS.PROXYUSERNAME",
         [](TIdHTTP& h, const TFormValue& v) { h.ProxyParams()->SetProxyUsername(v.AsString()); }},
        {"REQUEST.ACCEPT", [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetAccept(v.AsString()); }},
        {"REQUEST.ACCEPTCHARSET", [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetAcceptCharSet(v.AsString()); }},
        {"REQUEST.ACCEPTENCODING",
         [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetAcceptEncoding(v.AsString()); }},
        {"REQUEST.ACCEPTLANGUAGE",
         [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetAcceptLanguage(v.AsString()); }},
        {"REQUEST.BASICAUTHENTICATION",
         [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetBasicAuthentication(v.AsBoolean()); }},
        {"REQUEST.CONTENTLENGTH", [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetContentLength(v.AsInteger()); }},
        {"REQUEST.CONTENTRANGEEND",
         [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetContentRangeEnd(Unsigned(v)); }},
        {"REQUEST.CONTENTRANGESTART",
         [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetContentRangeStart(Unsigned(v)); }},
        {"REQUEST.CONTENTTYPE", [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetContentType(v.AsString()); }},
        {"REQUEST.FROM", [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetFrom(v.AsString()); }},
        {"REQUEST.PASSWORD", [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetPassword(v.AsString()); }},
        {"REQUEST.REFERER", [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetReferer(v.AsString()); }},
        {"REQUEST.USERAGENT", [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetUserAgent(v.AsString()); }},
        {"REQUEST.USERNAME", [](TIdHTTP& h, const TFormValue& v) { h.Request()->SetUsername(v.AsString()); }},
    };
    return setters;
}

}  // namespace

void RegisterIdHTTPClass() {
    static const bool registered = [] {
        RegisterComponentClass(
            "TIdHTTP", {[](TComponent* owner) -> TComponent* { return new TIdHTTP(owner); },
                        [](TComponent& component, const AnsiString& property, const TFormValue& value, TForm&) {
                            const auto it = Setters().find(UpperCase(property));
                            if (it == Setters().end()) return false;
                            it->second(static_cast<TIdHTTP&>(component), value);
                            return true;
                        }});
        return true;
    }();
    (void)registered;
}
