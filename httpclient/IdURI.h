// TIdURI: a URL split into its nine text parts, and composed back.
// Nothing is percent-encoded or decoded and Port is never tested to be a
// number; the one normalisation is that every backslash becomes a slash.
#pragma once

#include "../runtime/SysUtils.h"
#include "IdSet.h"

enum class TIdURIOptionalFields { uoUserInfo, uoFragment };
using TIdURIOptionalFieldsSet = TIdSet<TIdURIOptionalFields>;

class TIdURI {
public:
    explicit TIdURI(const AnsiString& uri = "");

    void ParseURI(const AnsiString& uri);
    // Raises EIdURIException "Protocol field is empty" / "Host field is empty".
    AnsiString BuildURI(TIdURIOptionalFieldsSet options) const;
    // Reading stores the full composition (user info and fragment) as the
    // object's text and returns the composition without them.
    AnsiString URLText();
    void SetURLText(const AnsiString& uri) { ParseURI(uri); }
    // The text last parsed or stored by URLText().
    const AnsiString& URI() const { return uri_; }

    // Turns every backslash into a slash.
    static void NormalizeSlashes(AnsiString& text);

    const AnsiString& Protocol() const { return protocol_; }
    void SetProtocol(const AnsiString& v) { protocol_ = v; }
    const AnsiString& Username() const { return username_; }
    void SetUsername(const AnsiString& v) { username_ = v; }
    const AnsiString& Password() const { return password_; }
    void SetPassword(const AnsiString& v) { password_ = v; }
    const AnsiString& Host() const { return host_; }
    void SetHost(const AnsiString& v) { host_ = v; }
    const AnsiString& Port() const { return port_; }
    void SetPort(const AnsiString& v) { port_ = v; }
    const AnsiString& Path() const { return path_; }
    void SetPath(const AnsiString& v) { path_ = v; }
    const AnsiString& Document() const { return document_; }
    void SetDocument(const AnsiString& v) { document_ = v; }
    const AnsiString& Query() const { return query_; }
    void SetQuery(const AnsiString& v) { query_ = v; }
    const AnsiString& Fragment() const { return fragment_; }
    void SetFragment(const AnsiString& v) { fragment_ = v; }

private:
    AnsiString uri_;
    AnsiString protocol_, username_, password_, host_, port_, path_, document_, query_, fragment_;
};

// Merges a new path into a held one: an absolute new path replaces it, a
// relative one is appended with "." kept, ".." taking back one segment and
// runs of the delimiter shrunk to one.
AnsiString MergePath(const AnsiString& heldPath, const AnsiString& newPath, const AnsiString& delimiter = "/");
