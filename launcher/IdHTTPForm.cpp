#include "IdHTTPForm.h"

#include "Forms.h"

namespace {

const char* const kMaxLineActions[] = {"maException", "maSplit"};
const char* const kProtocolVersions[] = {"pv1_0", "pv1_1"};
const char* const kHTTPOptions[] = {"hoInProcessAuth", "hoKeepOrigProtocol", "hoForceEncodeParams"};

TIdHTTPOptions OptionSet(const TFormValue& value) {
    TIdHTTPOptions options;
    for (const AnsiString& item : value.AsSet()) options.Include(EnumValue<TIdHTTPOption>(item, kHTTPOptions));
    return options;
}

uint32_t Unsigned(const TFormValue& value) {
    const int32_t v = value.AsInteger();
    if (v < 0) throw EReadError("Invalid property value");
    return static_cast<uint32_t>(v);
}

AnsiString Bool(bool v) { return v ? "True" : "False"; }
template <class P>
AnsiString Assigned(const P& p) {
    return p ? "assigned" : "none";
}

}  // namespace

const std::vector<TIdHTTPPublishedProperty>& IdHTTPPublishedProperties() {
    using V = const TFormValue&;
    static const std::vector<TIdHTTPPublishedProperty> properties = {
        {"OnStatus", nullptr, [](TIdHTTP& h) { return Assigned(h.OnStatus); }},
        {"ASCIIFilter", [](TIdHTTP& h, V v) { h.SetASCIIFilter(v.AsBoolean()); },
         [](TIdHTTP& h) { return Bool(h.ASCIIFilter()); }},
        {"Intercept", nullptr, [](TIdHTTP& h) { return Assigned(h.Intercept()); }},
        {"IOHandler", nullptr, [](TIdHTTP& h) { return Assigned(h.IOHandler()); }},
        {"MaxLineLength", [](TIdHTTP& h, V v) { h.SetMaxLineLength(v.AsInteger()); },
         [](TIdHTTP& h) { return IntToStr(h.MaxLineLength()); }},
        {"MaxLineAction",
         [](TIdHTTP& h, V v) { h.SetMaxLineAction(EnumValue<TIdMaxLineAction>(v.AsIdentifier(), kMaxLineActions)); },
         [](TIdHTTP& h) { return AnsiString(kMaxLineActions[static_cast<int>(h.MaxLineAction())]); }},
        {"ReadTimeout", [](TIdHTTP& h, V v) { h.SetReadTimeout(v.AsInteger()); },
         [](TIdHTTP& h) { return IntToStr(h.ReadTimeout()); }},
        {"RecvBufferSize", [](TIdHTTP& h, V v) { h.SetRecvBufferSize(v.AsInteger()); },
         [](TIdHTTP& h) { return IntToStr(h.RecvBufferSize()); }},
        {"SendBufferSize", [](TIdHTTP& h, V v) { h.SetSendBufferSize(v.AsInteger()); },
         [](TIdHTTP& h) { return IntToStr(h.SendBufferSize()); }},
        {"OnDisconnected", nullptr, [](TIdHTTP& h) { return Assigned(h.OnDisconnected); }},
        {"OnWork", nullptr, [](TIdHTTP& h) { return Assigned(h.OnWork); }},
        {"OnWorkBegin", nullptr, [](TIdHTTP& h) { return Assigned(h.OnWorkBegin); }},
        {"OnWorkEnd", nullptr, [](TIdHTTP& h) { return Assigned(h.OnWorkEnd); }},
        {"BoundIP", [](TIdHTTP& h, V v) { h.SetBoundIP(v.AsString()); }, [](TIdHTTP& h) { return h.BoundIP(); }},
        {"BoundPort", [](TIdHTTP& h, V v) { h.SetBoundPort(v.AsInteger()); },
         [](TIdHTTP& h) { return IntToStr(h.BoundPort()); }},
        {"Host", [](TIdHTTP& h, V v) { h.SetHost(v.AsString()); }, [](TIdHTTP& h) { return h.Host(); }},
        {"OnConnected", nullptr, [](TIdHTTP& h) { return Assigned(h.OnConnected); }},
        {"Port", [](TIdHTTP& h, V v) { h.SetPort(v.AsInteger()); }, [](TIdHTTP& h) { return IntToStr(h.Port()); }},
        {"AuthRetries", [](TIdHTTP& h, V v) { h.SetAuthRetries(v.AsInteger()); },
         [](TIdHTTP& h) { return IntToStr(h.AuthRetries()); }},
        {"AllowCookies", [](TIdHTTP& h, V v) { h.SetAllowCookies(v.AsBoolean()); },
         [](TIdHTTP& h) { return Bool(h.AllowCookies()); }},
        {"HandleRedirects", [](TIdHTTP& h, V v) { h.SetHandleRedirects(v.AsBoolean()); },
         [](TIdHTTP& h) { return Bool(h.HandleRedirects()); }},
        {"ProtocolVersion",
         [](TIdHTTP& h, V v) {
             h.SetProtocolVersion(EnumValue<TIdHTTPProtocolVersion>(v.AsIdentifier(), kProtocolVersions));
         },
         [](TIdHTTP& h) { return AnsiString(kProtocolVersions[static_cast<int>(h.ProtocolVersion())]); }},
        {"RedirectMaximum", [](TIdHTTP& h, V v) { h.SetRedirectMaximum(v.AsInteger()); },
         [](TIdHTTP& h) { return IntToStr(h.RedirectMaximum()); }},
        {"ProxyParams.ProxyPassword", [](TIdHTTP& h, V v) { h.ProxyParams()->SetProxyPassword(v.AsString()); },
         [](TIdHTTP& h) { return h.ProxyParams()->ProxyPassword(); }},
        {"ProxyParams.ProxyPort", [](TIdHTTP& h, V v) { h.ProxyParams()->SetProxyPort(v.AsInteger()); },
         [](TIdHTTP& h) { return IntToStr(h.ProxyParams()->ProxyPort()); }},
        {"ProxyParams.ProxyServer", [](TIdHTTP& h, V v) { h.ProxyParams()->SetProxyServer(v.AsString()); },
         [](TIdHTTP& h) { return h.ProxyParams()->ProxyServer(); }},
        {"ProxyParams.ProxyUsername", [](TIdHTTP& h, V v) { h.ProxyParams()->SetProxyUsername(v.AsString()); },
         [](TIdHTTP& h) { return h.ProxyParams()->ProxyUsername(); }},
        {"ProxyParams.BasicAuthentication",
         [](TIdHTTP& h, V v) { h.ProxyParams()->SetBasicAuthentication(v.AsBoolean()); },
         [](TIdHTTP& h) { return Bool(h.ProxyParams()->BasicAuthentication()); }},
        {"Request.Accept", [](TIdHTTP& h, V v) { h.Request()->SetAccept(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->Accept(); }},
        {"Request.AcceptCharSet", [](TIdHTTP& h, V v) { h.Request()->SetAcceptCharSet(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->AcceptCharSet(); }},
        {"Request.AcceptEncoding", [](TIdHTTP& h, V v) { h.Request()->SetAcceptEncoding(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->AcceptEncoding(); }},
        {"Request.AcceptLanguage", [](TIdHTTP& h, V v) { h.Request()->SetAcceptLanguage(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->AcceptLanguage(); }},
        {"Request.BasicAuthentication", [](TIdHTTP& h, V v) { h.Request()->SetBasicAuthentication(v.AsBoolean()); },
         [](TIdHTTP& h) { return Bool(h.Request()->BasicAuthentication()); }},
        {"Request.ContentLength", [](TIdHTTP& h, V v) { h.Request()->SetContentLength(v.AsInteger()); },
         [](TIdHTTP& h) { return IntToStr(h.Request()->ContentLength()); }},
        {"Request.ContentRangeEnd", [](TIdHTTP& h, V v) { h.Request()->SetContentRangeEnd(Unsigned(v)); },
         [](TIdHTTP& h) { return IntToStr(h.Request()->ContentRangeEnd()); }},
        {"Request.ContentRangeStart", [](TIdHTTP& h, V v) { h.Request()->SetContentRangeStart(Unsigned(v)); },
         [](TIdHTTP& h) { return IntToStr(h.Request()->ContentRangeStart()); }},
        {"Request.ContentType", [](TIdHTTP& h, V v) { h.Request()->SetContentType(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->ContentType(); }},
        {"Request.From", [](TIdHTTP& h, V v) { h.Request()->SetFrom(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->From(); }},
        {"Request.Password", [](TIdHTTP& h, V v) { h.Request()->SetPassword(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->Password(); }},
        {"Request.Referer", [](TIdHTTP& h, V v) { h.Request()->SetReferer(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->Referer(); }},
        {"Request.UserAgent", [](TIdHTTP& h, V v) { h.Request()->SetUserAgent(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->UserAgent(); }},
        {"Request.Username", [](TIdHTTP& h, V v) { h.Request()->SetUsername(v.AsString()); },
         [](TIdHTTP& h) { return h.Request()->Username(); }},
        {"HTTPOptions", [](TIdHTTP& h, V v) { h.SetHTTPOptions(OptionSet(v)); },
         [](TIdHTTP& h) { return IntToStr(h.HTTPOptions().Bits()); }},
        {"OnRedirect", nullptr, [](TIdHTTP& h) { return Assigned(h.OnRedirect); }},
        {"OnSelectAuthorization", nullptr, [](TIdHTTP& h) { return Assigned(h.OnSelectAuthorization); }},
        {"OnSelectProxyAuthorization", nullptr, [](TIdHTTP& h) { return Assigned(h.OnSelectProxyAuthorization); }},
        {"OnAuthorization", nullptr, [](TIdHTTP& h) { return Assigned(h.OnAuthorization); }},
        {"OnProxyAuthorization", nullptr, [](TIdHTTP& h) { return Assigned(h.OnProxyAuthorization); }},
        {"CookieManager", nullptr, [](TIdHTTP& h) { return Assigned(h.CookieManager()); }},
    };
    return properties;
}

void RegisterIdHTTPClass() {
    static const bool registered = [] {
        RegisterComponentClass("TIdHTTP",
                               {[](TComponent* owner) -> TComponent* { return new TIdHTTP(owner); },
                                [](TComponent& component, const AnsiString& property, const TFormValue& value, TForm&) {
                                    for (const TIdHTTPPublishedProperty& p : IdHTTPPublishedProperties()) {
                                        if (!p.set || !SameText(property, p.name)) continue;
                                        p.set(static_cast<TIdHTTP&>(component), value);
                                        return true;
                                    }
                                    return false;
                                }});
        return true;
    }();
    (void)registered;
}
