// The run-time binding of WS2_32.DLL: a call while the library is not loaded
// raises EIdWS2StubError, and starting again binds the functions anew.
#include <gtest/gtest.h>

#include "IdStack.h"
#include "IdTCPClient.h"

TEST(WinsockBinding, CallWhileUnloadedRaisesStubErrorAndStartUpRebinds) {
    TIdTCPClient member(nullptr);  // the stack has started the library
    const TIdStackSocketHandle first = SharedStack->AllocSocket(Id_SOCK_STREAM, 0);
    ASSERT_NE(first, Id_INVALID_SOCKET);
    SharedStack->CloseSocket(first);

    IdWinsock::WSACleanup();
    IdWinsock::Unload();
    try {
        SharedStack->Socket(Id_AF_INET, Id_SOCK_STREAM, 0);
        FAIL() << "no error raised";
    } catch (const EIdWS2StubError& e) {
        EXPECT_EQ(e.StubTitle(), "Error on call Winsock2 library function socket");
        EXPECT_EQ(e.SystemCode(), 10093);
        EXPECT_EQ(e.Message(), e.StubTitle() + ": " + e.SystemMessage());
    }

    ASSERT_EQ(IdWinsock::WSAStartup(0x0202), 0);
    const TIdStackSocketHandle again = SharedStack->AllocSocket(Id_SOCK_STREAM, 0);
    EXPECT_NE(again, Id_INVALID_SOCKET);
    SharedStack->CloseSocket(again);
}
