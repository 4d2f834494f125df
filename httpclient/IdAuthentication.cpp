#include "IdAuthentication.h"

#include "IdURI.h"

AnsiString EncodeBase64(const AnsiString& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    AnsiString out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                           static_cast<uint8_t>(bytes[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
        if (rest == 2) n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

AnsiString TIdBasicAuthentication::Authentication() {
    if (currentStep_ < Steps()) ++currentStep_;
    return "Basic " + EncodeBase64(Username() + ":" + Password());
}

TIdAuthWhatsNext TIdBasicAuthentication::Next() {
    // Credentials come from the program; one request carries them.
    if (Username().empty()) return TIdAuthWhatsNext::wnAskTheProgram;
    return currentStep_ < Steps() ? TIdAuthWhatsNext::wnDoRequest : TIdAuthWhatsNext::wnFail;
}

namespace {

std::unique_ptr<TIdAuthentication> MakeBasic() { return std::make_unique<TIdBasicAuthentication>(); }

struct RegisteredScheme {
    const char* name;
    TIdAuthenticationClass make;
};

const RegisteredScheme kSchemes[] = {{"Basic", &MakeBasic}};

AnsiString UrlKey(TIdURI& url) { return UpperCase(url.Host()) + ":" + url.Port(); }

}  // namespace

TIdAuthenticationClass FindAuthClass(const AnsiString& schemeName) {
    for (const RegisteredScheme& scheme : kSchemes)
        if (SameText(scheme.name, schemeName)) return scheme.make;
    return nullptr;
}

void TIdAuthenticationManager::AddAuthentication(const TIdAuthentication& authentication, TIdURI& url) {
    const AnsiString key = UrlKey(url);
    const AnsiString value = authentication.ClassName() + AnsiString(" ") + authentication.Username();
    const int at = urls_.IndexOf(key);
    if (at >= 0) {
        values_.Put(at, value);
    } else {
        urls_.Add(key);
        values_.Add(value);
    }
}

AnsiString TIdAuthenticationManager::AuthorizationFor(TIdURI& url) const {
    const int at = urls_.IndexOf(UrlKey(url));
    return at >= 0 ? values_[at] : AnsiString();
}
