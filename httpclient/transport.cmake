# Socket stack, connection and data path sources. The socket layer is chosen
# by platform; on Windows the socket library is loaded at run time, so nothing
# is linked for it.
target_sources(httpclient PRIVATE
  IdGlobal.cpp
  IdWinsock_${KESTRIN_PLATFORM}.cpp
  IdStack.cpp
  IdComponent.cpp
  IdBuffer.cpp
  IdSocketHandle.cpp
  IdIOHandlerSocket.cpp
  IdTCPConnection.cpp
  IdTCPClient.cpp
)
