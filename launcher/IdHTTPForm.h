// The HTTP client as a component of a form description: its published
// properties and its registration with the form reader.
#pragma once

#include <vector>

#include "FormReader.h"
#include "IdHTTP.h"

// One published property of the client. `name` is the form description's
// (properties of the client's sub-objects dotted, as "Request.Accept").
// `set` stores a form value into it; null for references and events, which
// no form description here stores. `text` gives its value as text, by which
// two clients are compared.
struct TIdHTTPPublishedProperty {
    const char* name;
    void (*set)(TIdHTTP&, const TFormValue&);
    AnsiString (*text)(TIdHTTP&);
};

// Every published property of the client but the component's Name and Tag.
const std::vector<TIdHTTPPublishedProperty>& IdHTTPPublishedProperties();

// Makes TIdHTTP known to the form reader, with the properties a form
// description may store for it.
void RegisterIdHTTPClass();
