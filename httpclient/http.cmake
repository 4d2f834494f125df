# URL, header list, header objects, request and response, client.
target_sources(httpclient PRIVATE
  IdURI.cpp
  IdHeaderList.cpp
  IdDateTime.cpp
  IdDateTime_${KESTRIN_PLATFORM}.cpp
  IdAuthentication.cpp
  IdCookieManager.cpp
  IdHTTPHeaderInfo.cpp
  IdHTTP.cpp
)
