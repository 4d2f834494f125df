// Authentication schemes: the base TIdAuthentication, the one registered
// scheme "Basic", and the store of successful authorizations.
#pragma once

#include <cstdint>
#include <memory>

#include "../runtime/Classes.h"
#include "IdHeaderList.h"

class TIdURI;

enum class TIdAuthWhatsNext { wnAskTheProgram, wnDoRequest, wnFail };

// One scheme's state for one server (or proxy): credentials, the steps of
// its exchange and the value of the next Authorization line.
class TIdAuthentication : public TPersistent {
public:
    TIdAuthentication() = default;
    const char* ClassName() const override { return "TIdAuthentication"; }

    // The value of the Authorization (or Proxy-Authorization) line for the
    // current step; moves on to the next step.
    virtual AnsiString Authentication() = 0;
    // What the client does next with this scheme after a challenge.
    virtual TIdAuthWhatsNext Next() = 0;
    virtual int32_t Steps() const = 0;
    int32_t CurrentStep() const { return currentStep_; }
    // Back to the first step.
    virtual void Reset() { currentStep_ = 0; }

    const AnsiString& Username() const { return username_; }
    void SetUsername(const AnsiString& v) { username_ = v; }
    const AnsiString& Password() const { return password_; }
    void SetPassword(const AnsiString& v) { password_ = v; }
    // The challenge parameters the server sent.
    TIdHeaderList& AuthParams() { return authParams_; }

protected:
    int32_t currentStep_ = 0;

private:
    AnsiString username_;
    AnsiString password_;
    TIdHeaderList authParams_;
};

// "Basic " + base64 (MIME alphabet) of user name ":" password.
class TIdBasicAuthentication : public TIdAuthentication {
public:
    const char* ClassName() const override { return "TIdBasicAuthentication"; }
    AnsiString Authentication() override;
    TIdAuthWhatsNext Next() override;
    int32_t Steps() const override { return 1; }
    const AnsiString& Realm() const { return realm_; }

private:
    AnsiString realm_;
};

// A scheme, as the registry and the select events pass it: a maker of new
// scheme objects.
using TIdAuthenticationClass = std::unique_ptr<TIdAuthentication> (*)();

// The registered scheme with that name (case-blind), or none. The one
// registered scheme is "Basic".
TIdAuthenticationClass FindAuthClass(const AnsiString& schemeName);

// Base64 with the MIME alphabet and "=" padding.
AnsiString EncodeBase64(const AnsiString& bytes);

// Keeps the authorizations that succeeded, by URL.
class TIdAuthenticationManager : public TComponent {
public:
    explicit TIdAuthenticationManager(TComponent* owner) : TComponent(owner) {}
    const char* ClassName() const override { return "TIdAuthenticationManager"; }
    void AddAuthentication(const TIdAuthentication& authentication, TIdURI& url);
    // The scheme and user name kept for the URL's host and port, or "".
    AnsiString AuthorizationFor(TIdURI& url) const;

private:
    TStringList urls_;
    TStringList values_;
};
