// Makes TIdHTTP known to the form reader, with the properties a form
// description may store for it.
#pragma once

void RegisterIdHTTPClass();
