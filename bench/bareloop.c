/* bareloop HOST PORT PATH RECV_BYTES: the wire's limit for one GET.
 *
 * Sends one HTTP/1.1 GET and receives the answer into one buffer of
 * RECV_BYTES, each receive overwriting the last, until the body is in; it
 * does nothing else with the bytes (no parsing beyond the head, no copy, no
 * write). A body with Content-Length is in when that many bytes have come
 * after the head. A chunked body is not parsed: it is in when the bytes
 * received end with the last chunk and the empty trailer ("\r\n0\r\n\r\n"),
 * so its figure is that of carrying the chunked stream, framing included.
 *
 * Writes one line "bareloop: N body bytes in M receives" to standard error.
 * Exit status: 0 when the body came whole, 18 when the server closed the
 * connection before, 2 for any other failure. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

static const char kLastChunk[] = "\r\n0\r\n\r\n";
enum { kLastChunkSize = sizeof kLastChunk - 1 };

static int Fail(const char* what) {
    perror(what);
    return 2;
}

/* The value of header `name` in the head (NUL-terminated), or NULL. */
static const char* HeaderValue(const char* head, const char* name) {
    const size_t n = strlen(name);
    for (const char* line = strstr(head, "\r\n"); line; line = strstr(line, "\r\n")) {
        line += 2;
        if (strncasecmp(line, name, n) == 0 && line[n] == ':') {
            const char* v = line + n + 1;
            while (*v == ' ' || *v == '\t') ++v;
            return v;
        }
    }
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: bareloop HOST PORT PATH RECV_BYTES\n");
        return 2;
    }
    const long recvSize = strtol(argv[4], NULL, 10);
    if (recvSize < 1024) {
        fprintf(stderr, "bareloop: RECV_BYTES must be 1024 or more\n");
        return 2;
    }
    char* buffer = malloc((size_t)recvSize + 1);
    if (!buffer) return Fail("malloc");

    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)atoi(argv[2]));
    if (inet_pton(AF_INET, argv[1], &address.sin_addr) != 1) {
        fprintf(stderr, "bareloop: HOST must be an IPv4 address\n");
        return 2;
    }
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return Fail("socket");
    if (connect(s, (struct sockaddr*)&address, sizeof address) != 0) return Fail("connect");

    char request[1024];
    const int length =
        snprintf(request, sizeof request, "GET %s HTTP/1.1\r\nHost: %s:%s\r\n\r\n", argv[3], argv[1], argv[2]);
    if (length <= 0 || length >= (int)sizeof request) return 2;
    if (send(s, request, (size_t)length, 0) != length) return Fail("send");

    /* The head: received into the front of the buffer until its blank line. */
    long held = 0, receives = 0;
    char* end = NULL;
    while (!end) {
        if (held == recvSize) {
            fprintf(stderr, "bareloop: head longer than RECV_BYTES\n");
            return 2;
        }
        const ssize_t n = recv(s, buffer + held, (size_t)(recvSize - held), 0);
        if (n <= 0) return n < 0 ? Fail("recv") : 18;
        ++receives;
        held += n;
        buffer[held] = '\0';
        end = strstr(buffer, "\r\n\r\n");
    }
    const long headSize = end + 4 - buffer;
    const char* lengthValue = HeaderValue(buffer, "Content-Length");
    const char* coding = HeaderValue(buffer, "Transfer-Encoding");
    const int chunked = coding && strncasecmp(coding, "chunked", 7) == 0;
    if (!chunked && !lengthValue) {
        fprintf(stderr, "bareloop: neither Content-Length nor chunked\n");
        return 2;
    }
    const long long want = chunked ? -1 : strtoll(lengthValue, NULL, 10);

    /* The body: the bytes after the head, then receives until it is in. For
     * a chunked body only the last bytes are looked at, across receives. */
    long long got = held - headSize;
    char tail[kLastChunkSize];
    long tailSize = 0;
    const char* fresh = buffer + headSize;
    long freshSize = held - headSize;
    for (;;) {
        if (chunked) {
            if (freshSize >= kLastChunkSize) {
                memcpy(tail, fresh + freshSize - kLastChunkSize, kLastChunkSize);
                tailSize = kLastChunkSize;
            } else {
                const long keep = tailSize + freshSize > kLastChunkSize ? kLastChunkSize - freshSize : tailSize;
                memmove(tail, tail + tailSize - keep, (size_t)keep);
                memcpy(tail + keep, fresh, (size_t)freshSize);
                tailSize = keep + freshSize;
            }
            if (tailSize == kLastChunkSize && memcmp(tail, kLastChunk, kLastChunkSize) == 0) break;
        } else if (got >= want) {
            break;
        }
        const ssize_t n = recv(s, buffer, (size_t)recvSize, 0);
        if (n < 0) return Fail("recv");
        if (n == 0) {
            fprintf(stderr, "bareloop: closed after %lld body bytes in %ld receives\n", got, receives);
            return 18;
        }
        ++receives;
        got += n;
        fresh = buffer;
        freshSize = n;
    }
    fprintf(stderr, "bareloop: %lld body bytes in %ld receives\n", got, receives);
    close(s);
    free(buffer);
    return 0;
}
