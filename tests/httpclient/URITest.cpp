// URL splitting, composition and path merging.
#include <gtest/gtest.h>

#include "IdException.h"
#include "IdURI.h"

namespace {

struct SplitCase {
    const char* input;
    const char* protocol;
    const char* username;
    const char* password;
    const char* host;
    const char* port;
    const char* path;
    const char* document;
    const char* query;
    const char* fragment;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.input; }

class URISplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(URISplit, GivesTheParts) {
    const SplitCase& c = GetParam();
    TIdURI uri(c.input);
    EXPECT_EQ(uri.Protocol(), c.protocol);
    EXPECT_EQ(uri.Username(), c.username);
    EXPECT_EQ(uri.Password(), c.password);
    EXPECT_EQ(uri.Host(), c.host);
    EXPECT_EQ(uri.Port(), c.port);
    EXPECT_EQ(uri.Path(), c.path);
    EXPECT_EQ(uri.Document(), c.document);
    EXPECT_EQ(uri.Query(), c.query);
    EXPECT_EQ(uri.Fragment(), c.fragment);
}

INSTANTIATE_TEST_SUITE_P(
    Table, URISplit,
    ::testing::Values(SplitCase{"http://localhost:9080/kestrin", "http", "", "", "localhost", "9080", "/", "kestrin",
                                "", ""},
                      SplitCase{"http://localhost:9080/kestrin/demo_install.jsp", "http", "", "", "localhost", "9080",
                                "/kestrin/", "demo_install.jsp", "", ""},
                      SplitCase{"http://host", "http", "", "", "host", "", "/", "", "", ""},
                      SplitCase{"http://host/", "http", "", "", "host", "", "/", "", "", ""},
                      SplitCase{"http://h/a/b#f?x", "http", "", "", "h", "", "/a/", "b", "?x", "f"},
                      SplitCase{"http://h/p/q.jsp?u=/x/y", "http", "", "", "h", "", "/p/", "q.jsp", "?u=/x/y", ""},
                      SplitCase{"http://h/p/q=1/r", "http", "", "", "h", "", "/p/", "q", "=1/r", ""},
                      SplitCase{"/a/b.html?x", "", "", "", "", "", "/a/", "b.html", "?x", ""},
                      SplitCase{"/a/b#c", "", "", "", "", "", "/a/", "b#c", "", ""},
                      // Letter case is kept; user info; an empty user name drops the password.
                      SplitCase{"HTTP://H:8080", "HTTP", "", "", "H", "8080", "/", "", "", ""},
                      SplitCase{"http://u:p:w@h:1/d?q#f", "http", "u", "p:w", "h", "1", "/", "d", "?q", "f"},
                      SplitCase{"http://:secret@h/", "http", "", "", "h", "", "/", "", "", ""},
                      SplitCase{"http://h:abc/", "http", "", "", "h", "abc", "/", "", "", ""},
                      // Backslashes count as slashes; a query keeps a "#" only as fragment.
                      SplitCase{"http:\\\\h\\a\\b.txt", "http", "", "", "h", "", "/a/", "b.txt", "", ""},
                      SplitCase{"/a/b?x#y", "", "", "", "", "", "/a/", "b", "?x", "y"},
                      SplitCase{"doc.html", "", "", "", "", "", "", "doc.html", "", ""},
                      // The separator at the very start still splits: empty protocol, host x.
                      SplitCase{"://x/y", "", "", "", "x", "", "/", "y", "", ""},
                      SplitCase{"://x/", "", "", "", "x", "", "/", "", "", ""},
                      SplitCase{"", "", "", "", "", "", "", "", "", ""}));

TEST(URIBuild, ComposesWithTheRequestedOptionalParts) {
    TIdURI uri("http://u:p@h:81/a/b?q#f");
    EXPECT_EQ(uri.BuildURI({}), "http://h:81/a/b?q");
    EXPECT_EQ(uri.BuildURI({TIdURIOptionalFields::uoUserInfo, TIdURIOptionalFields::uoFragment}),
              "http://u:p@h:81/a/b?q#f");
    EXPECT_EQ(uri.URLText(), "http://h:81/a/b?q");
    EXPECT_EQ(uri.URI(), "http://u:p@h:81/a/b?q#f");

    TIdURI host("http://host");
    EXPECT_EQ(host.URLText(), "http://host/");

    TIdURI userOnly("http://u@h/");
    EXPECT_EQ(userOnly.BuildURI({TIdURIOptionalFields::uoUserInfo}), "http://u@h/");
}

TEST(URIBuild, RaisesForAMissingProtocolOrHost) {
    TIdURI relative("/a/b");
    try {
        relative.BuildURI({});
        FAIL() << "no error";
    } catch (const EIdURIException& e) {
        EXPECT_EQ(e.Message(), "Protocol field is empty");
    }
    TIdURI noHost;
    noHost.SetProtocol("http");
    try {
        (void)noHost.URLText();
        FAIL() << "no error";
    } catch (const EIdURIException& e) {
        EXPECT_EQ(e.Message(), "Host field is empty");
    }
}

struct MergeCase {
    const char* held;
    const char* added;
    const char* merged;
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.held << " + " << c.added; }

class PathMerge : public ::testing::TestWithParam<MergeCase> {};

TEST_P(PathMerge, Merges) {
    const MergeCase& c = GetParam();
    EXPECT_EQ(MergePath(c.held, c.added, "/"), c.merged) << c.held << " + " << c.added;
}

INSTANTIATE_TEST_SUITE_P(Table, PathMerge,
                         ::testing::Values(MergeCase{"/a/b/", "../c/", "/a/c/"}, MergeCase{"/a/b", "", "/a/b/"},
                                           MergeCase{"", "", ""}, MergeCase{"/a/", "/", "/"},
                                           MergeCase{"/x/", "/kestrin/", "/kestrin/"},
                                           MergeCase{"/a/b/", "c", "/a/b/c"}, MergeCase{"/a/b/", "./c/", "/a/b/./c/"},
                                           MergeCase{"/a//b/", "c//d/", "/a/b/c/d/"}, MergeCase{"/a/", "../../c", "/c"},
                                           MergeCase{"/a/b/", "..", "/a"}));

}  // namespace
